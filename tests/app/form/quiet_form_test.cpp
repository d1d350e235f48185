// The unattended face without a child process: what becomes a line, and the exit codes of the
// runs that need no package and no database (the child-process tests have the rest).

#include "app/form/quiet_form.h"

#include "platform/host_identity.h"
#include "real_services.h"
#include "tests/support/fake_data_access.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_registrations.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace offline_upgrade {

namespace {

class NoHost : public IHostIdentity {
public:
    bool HostName(std::string &name) override
    {
        name = "testhost";
        return true;
    }
    bool ResolveIPv4(const std::string &, std::vector<Ipv4Address> &addresses) override
    {
        addresses = {{10, 0, 0, 7}};
        return true;
    }
    bool InterfaceIPv4(std::vector<Ipv4Address> &addresses) override
    {
        addresses = {{10, 0, 0, 7}};
        return true;
    }
    bool ComputerName(std::string &name) override
    {
        name = "TESTPC";
        return true;
    }
};

TEST(QuietFormView, StepsAndMessagesBecomeLines)
{
    std::ostringstream out;
    QuietFormView view(out);
    view.SetStepText("正在更新文件...");
    view.SetStepText("正在更新文件..."); // unchanged: no new line
    view.SetProgressMax(10);
    view.SetProgressPosition(25); // held at the maximum, as the bar holds it
    view.ProcessMessages();
    view.Repaint();
    view.ShowMessage("执行升级脚本失败(b1)！", kNoticeCaption, MessageIcon::Error);
    view.ShowMessage("cannot list /x", kApplicationTitle, MessageIcon::Error);

    EXPECT_EQ(out.str(), "正在更新文件...\n"
                         "执行升级脚本失败(b1)！\n"
                         "朔岱产品离线升级程序：cannot list /x\n");
    EXPECT_EQ(view.StepText(), "正在更新文件...");
    EXPECT_EQ(view.ProgressPosition(), 10);
    EXPECT_EQ(view.ErrorReports(), 1);
}

// A block's or a package's name with control characters, in the lines of the stream: visible
// escapes, never the characters themselves (the log file's sink escapes them on its side).
TEST(QuietFormView, ControlCharactersInNamesAreEscapedOnTheStream)
{
    const struct {
        std::string name;
        std::string shown;
    } cases[] = {
        {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},
        {"\x1b[2J\x1b[31mb1", "\\x1b[2J\\x1b[31mb1"},
        {"b1\r升级成功！", "b1\\x0d升级成功！"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::ostringstream out;
        QuietFormView view(out);
        view.ShowMessage("执行升级脚本失败(" + cases[i].name + ")！", kNoticeCaption,
                         MessageIcon::Error);
        view.SetCaption(FormControl::Lab_Path, "/opt/kx/" + cases[i].name + ".zip");
        view.Line("升级包路径：" + view.Caption(FormControl::Lab_Path));
        EXPECT_EQ(out.str(), "执行升级脚本失败(" + cases[i].shown + ")！\n升级包路径：/opt/kx/" +
                                 cases[i].shown + ".zip\n")
            << "case " << i;
    }
}

// The remark of a run whose blocks were left to the database server's machine: one line
// before the result when the run succeeded, none when it failed.
TEST(QuietFormView, ARemarkPrecedesTheSuccessLineOnly)
{
    std::ostringstream succeeded, failed;
    QuietFormView good(succeeded), bad(failed);
    for (QuietFormView *view : {&good, &bad}) {
        view->SetStepText("更新文件完成");
        view->Remark(kScriptsLeftToServerText);
    }
    good.ShowMessage("升级成功！", kNoticeCaption, MessageIcon::Information);
    bad.ShowMessage("升级失败！", kNoticeCaption, MessageIcon::Error);
    EXPECT_EQ(succeeded.str(), "更新文件完成\n" + kScriptsLeftToServerText + "\n升级成功！\n");
    EXPECT_EQ(failed.str(), "更新文件完成\n升级失败！\n");
}

TEST(RunUnattended, ExitCodesWithoutAPackage)
{
    struct Case {
        const char *what;
        std::string folder; // below the temporary folder
        ExitCode code;
        const char *lastLine; // its beginning
    };
    const Case cases[] = {
        {"empty program folder", "", ExitCode::NothingToDo, "未找到有效的升级包文件！"},
        // The scan cannot enter it: the start fails, as the window's first scan would.
        {"program folder gone", "gone/", ExitCode::CannotStart, "朔岱产品离线升级程序："},
    };
    for (const Case &c : cases) {
        TempFolder folder;
        SystemFileSystem files;
        SystemProcesses processes;
        // The system's registry, where no product of these tests is registered.
        TestRegistrations registrations(folder.Path());
        IRegistry &registry = registrations.Registry();
        NoHost host;
        FakeConnection connection;
        FakeQuery query;
        FakeCommand command;
        bool ran = false;
        std::ostringstream out;
        const ExitCode code = RunUnattended(
            FormServices{folder.Slashed() + c.folder, files, processes, registry, host, connection,
                         query, command,
                         [&ran](UpgradeContext &, const std::string &) { return ran = true; }},
            UnattendedOptions{.Force = true, .OnlyPackage = ""}, out);
        EXPECT_EQ(code, c.code) << c.what;
        EXPECT_FALSE(ran) << c.what;
        std::string last = out.str();
        last.pop_back();
        last = last.substr(last.rfind('\n') + 1);
        EXPECT_EQ(last.rfind(c.lastLine, 0), 0u) << c.what << ": " << out.str();
    }
}

} // namespace

} // namespace offline_upgrade
