#include "real_services.h"
#include "upgrade/script_runner.h"

#include "tests/support/fake_data_access.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"
#include "tests/support/upgrade_parts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

// Reports a script file where there is none, so the open fails.
class PhantomFiles : public SystemFileSystem {
public:
    bool FileExists(const std::string &) override { return true; }
};

std::string Step(int executed, int total)
{
    return "正在执行升级脚本(" + std::to_string(executed) + "/" + std::to_string(total) + ")...";
}

std::string Failure(const std::string &name)
{
    return "执行升级脚本失败(" + name + ")！";
}

class ScriptRunnerTest : public ::testing::Test {
protected:
    ScriptRunnerTest()
    {
        package.PackageName = "pkg-2.1.zip";
        package.SQLCount = 5;
    }

    void WriteScript(const std::string &bytes)
    {
        temp.Write("prog/TempUpdate/pkg-2.1/UpdateSQL.sql", bytes);
    }

    // Runs a fresh stage over the script, so several cases can share one fixture.
    bool Run(const std::string &bytes)
    {
        WriteScript(bytes);
        command = FakeCommand();
        window = RecordingWindow();
        return RunUpgradeScripts(context, true);
    }

    TempFolder temp;
    UpgradeParts parts{.ComputerName = "WS-01", .LocalIP = "10.0.0.5"};
    T_PackageInfo &package = parts.Package;
    T_ProductReg &product = parts.Product;
    RecordingWindow &window = parts.Window;
    FakeConnection connection;
    FakeQuery query;
    FakeCommand command;
    SystemFileSystem files;
    UpgradeContext context =
        parts.Context(temp.Slashed() + "prog/", files, connection, query, command, parts.Processes);
};

TEST_F(ScriptRunnerTest, ScriptPathIsInThePackagesOwnFolder)
{
    EXPECT_EQ(UpgradeScriptPath(context), temp.Slashed() + "prog/TempUpdate/pkg-2.1/UpdateSQL.sql");
}

TEST_F(ScriptRunnerTest, SkipsWhenTheServerIsElsewhereOrThereIsNoScript)
{
    // No script file yet.
    EXPECT_TRUE(RunUpgradeScripts(context, true));
    EXPECT_TRUE(window.Calls.empty());

    WriteScript("-- sql begin a\ninsert\n-- end sql\n");
    EXPECT_TRUE(RunUpgradeScripts(context, false));
    EXPECT_TRUE(window.Calls.empty());
    EXPECT_TRUE(command.Executed.empty());
}

TEST_F(ScriptRunnerTest, NameWithoutAFolderOfItsOwnRunsNothing)
{
    // Scripts the work folder and the program folder hold must not pass for the package's.
    temp.Write("prog/TempUpdate/UpdateSQL.sql", "-- sql begin w\ninsert w\n-- end sql\n");
    temp.Write("prog/UpdateSQL.sql", "-- sql begin p\ninsert p\n-- end sql\n");
    const char *names[] = {".zip", "x", "..zip", "...zip"};
    for (size_t i = 0; i < std::size(names); ++i) {
        package.PackageName = names[i];
        EXPECT_EQ(UpgradeScriptPath(context), "") << "case " << i;
        EXPECT_TRUE(RunUpgradeScripts(context, true)) << "case " << i;
    }
    EXPECT_TRUE(window.Calls.empty());
    EXPECT_TRUE(command.Executed.empty());
}

TEST_F(ScriptRunnerTest, CutsTheFileIntoBlocksByTheLineRules)
{
    struct Case {
        std::string script;
        std::vector<std::string> commands;
    };
    const std::string longLine(100000, 'x');
    // A CR LF split across two reads of the file.
    const std::string straddle = std::string(65535 - 15, 'y');
    const std::vector<Case> cases = {
        {"-- sql begin a\nA1\nA2\n-- end sql\n", {"A1\r\nA2"}},
        // Windows line ends, indentation, blank and blank-looking lines inside the block.
        {"  -- sql begin a\r\n\tA1  \r\n\r\n \t \x01\r\n  A2\r\n -- end sql \r\n", {"A1\r\nA2"}},
        // A CR anywhere else is dropped.
        {"-- sql begin a\nup\rdate t\r\r\n-- end sql\n", {"update t"}},
        // Ctrl-Z ends the file; the line it stands in is still taken.
        {"-- sql begin a\nA1\n-- end sql\x1a\n-- sql begin b\nB\n-- end sql\n", {"A1"}},
        {"-- sql begin a\nA1\x1a\n-- end sql\n", {}},
        // Lines outside blocks are thrown away by the next begin marker.
        {"junk\n-- sql begin a\nA\n-- end sql\nmore junk\n-- sql begin b\nB\n-- end sql\n",
         {"A", "B"}},
        // An end marker without any begin marker runs what was read so far.
        {"X1\nX2\n-- end sql\n", {"X1\r\nX2"}},
        // After a block has run, a second end marker runs only what came after it.
        {"-- sql begin a\nA\n-- end sql\nB\n-- end sql\n", {"A", "B"}},
        {"-- sql begin a\nA\n-- end sql\n-- end sql\n", {"A", ""}},
        {"-- sql begin a\n-- end sql\n", {""}},
        // Markers match on their first bytes, case and spacing exactly.
        {"-- sql begin a\nA\n-- end sql and more\n", {"A"}},
        {"-- sql begin a\n-- SQL BEGIN b\n--  end sql\n-- END SQL\n--end sql\n-- end sql\n",
         {"-- SQL BEGIN b\r\n--  end sql\r\n-- END SQL\r\n--end sql"}},
        // The file may end inside a block, or have no markers at all.
        {"-- sql begin a\nA\n-- end sql\n-- sql begin b\nB\n", {"A"}},
        {"A\nB\n", {}},
        {"-- sql begin a\nA\n-- end sql", {"A"}},
        {"", {}},
        {"\xEF\xBB\xBF-- sql begin a\nA\n-- end sql\n", {"A"}},
        {"\xEF\xBB\xBF", {}},
        // Lines longer than one read of the file.
        {"-- sql begin a\n" + longLine + "\n-- end sql\n", {longLine}},
        {"-- sql begin a\n" + straddle + "\r\nB\n-- end sql\n", {straddle + "\r\nB"}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_TRUE(Run(cases[i].script)) << "case " << i;
        EXPECT_EQ(command.Executed, cases[i].commands) << "case " << i;
        EXPECT_TRUE(window.Messages.empty()) << "case " << i;
    }
}

TEST_F(ScriptRunnerTest, BlockNameStartsAtTheFourteenthByte)
{
    struct Case {
        std::string marker;
        std::string name;
    };
    const std::vector<Case> cases = {
        {"-- sql begin add tables", "add tables"},
        {"-- sql begin", ""},
        {"  -- sql begin   \t", ""},
        {"-- sql begin x", "x"},
        {"-- sql begin:name", "name"},
        {"-- sql begin  two", " two"},
        {"-- sql beginning", "ing"},
        {"-- sql begin 建表", "建表"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        WriteScript(cases[i].marker + "\nbad sql\n-- end sql\n");
        window = RecordingWindow();
        command = FakeCommand();
        command.FailAt = 1;

        EXPECT_FALSE(RunUpgradeScripts(context, true)) << "case " << i;
        ASSERT_EQ(window.Messages.size(), 1u) << "case " << i;
        EXPECT_EQ(window.Messages[0].Text, Failure(cases[i].name)) << "case " << i;
        EXPECT_EQ(window.Messages[0].Caption, "提示") << "case " << i;
        EXPECT_EQ(window.Messages[0].Icon, MessageIcon::Error) << "case " << i;
    }
}

TEST_F(ScriptRunnerTest, ReportsEachBlockAndPumpsAtTheFixedPoints)
{
    WriteScript("-- sql begin a\nA\n-- end sql\n-- sql begin b\nB\n-- end sql\n");
    command.OnExecute = [&](const std::string &text) { window.Calls.push_back("exec:" + text); };

    EXPECT_TRUE(RunUpgradeScripts(context, true));

    const std::vector<std::string> expected = {
        "max:5",
        "step:" + Step(0, 5),
        "pos:0",
        "pump", // start
        "pump",
        "exec:A",
        "step:" + Step(1, 5),
        "pos:1",
        "pump", // block a
        "pump",
        "exec:B",
        "step:" + Step(2, 5),
        "pos:2",
        "pump", // block b
    };
    EXPECT_EQ(window.Calls, expected);
}

TEST_F(ScriptRunnerTest, DeclaredCountOnlySetsTheBarAndTheText)
{
    struct Case {
        int32_t sqlCount;
        std::string lastStep;
        int position;
    };
    const std::vector<Case> cases = {
        {0, Step(3, 0), 0}, {-3, Step(3, 0), 0}, // the bar takes no maximum below 0
        {1, Step(3, 1), 1}, {3, Step(3, 3), 3},  {10, Step(3, 10), 3},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        package.SQLCount = cases[i].sqlCount;
        EXPECT_TRUE(Run("-- sql begin a\nA\n-- end sql\n-- sql begin b\nB\n-- end sql\n"
                        "-- sql begin c\nC\n-- end sql\n"))
            << "case " << i;
        ASSERT_FALSE(window.Steps.empty()) << "case " << i;
        EXPECT_EQ(window.Steps.front(), Step(0, std::max(cases[i].sqlCount, 0))) << "case " << i;
        EXPECT_EQ(window.Steps.back(), cases[i].lastStep) << "case " << i;
        EXPECT_EQ(window.ProgressPosition(), cases[i].position) << "case " << i;
    }
}

TEST_F(ScriptRunnerTest, FirstRefusedBlockStopsTheStage)
{
    WriteScript("-- sql begin one\n1\n-- end sql\n-- sql begin two\n2\n-- end sql\n"
                "-- sql begin three\n3\n-- end sql\n-- sql begin four\n4\n-- end sql\n"
                "-- sql begin five\n5\n-- end sql\n");
    command.FailAt = 3;

    EXPECT_FALSE(RunUpgradeScripts(context, true));

    EXPECT_EQ(command.Executed, (std::vector<std::string>{"1", "2", "3"}));
    ASSERT_EQ(window.Messages.size(), 1u);
    EXPECT_EQ(window.Messages[0].Text, Failure("three"));
    EXPECT_EQ(window.ProgressPosition(), 2);
    EXPECT_EQ(window.StepText(), Step(2, 5));
}

TEST_F(ScriptRunnerTest, FailureOutsideABlockNamesTheLastBeginMarker)
{
    WriteScript("-- sql begin one\n1\n-- end sql\nstray\n-- end sql\n");
    command.FailAt = 2;

    EXPECT_FALSE(RunUpgradeScripts(context, true));

    EXPECT_EQ(command.Executed, (std::vector<std::string>{"1", "stray"}));
    ASSERT_EQ(window.Messages.size(), 1u);
    EXPECT_EQ(window.Messages[0].Text, Failure("one"));
}

TEST_F(ScriptRunnerTest, UnreadableScriptFailsWithEmptyName)
{
    PhantomFiles phantom;
    UpgradeContext ctx = parts.Context(temp.Slashed() + "prog/", phantom, connection, query,
                                       command, parts.Processes);

    EXPECT_FALSE(RunUpgradeScripts(ctx, true));

    ASSERT_EQ(window.Messages.size(), 1u);
    EXPECT_EQ(window.Messages[0].Text, Failure(""));
    EXPECT_TRUE(command.Executed.empty());
}

TEST_F(ScriptRunnerTest, ScriptsInTheChineseCodePageArriveAsUtf8)
{
    // "状态" in GB18030 happens to be valid UTF-8 on its own line; the file as a whole is not,
    // so that line must be converted as well.
    const std::string gbScript = "-- sql begin \xBD\xA8\xB1\xED\n"            // 建表
                                 "insert into t values('\xD6\xD0\xCE\xC4',\n" // 中文
                                 "'\xD7\xB4\xCC\xAC')\n"                      // 状态
                                 "-- end sql\n";
    EXPECT_TRUE(Run(gbScript));
    EXPECT_EQ(command.Executed,
              (std::vector<std::string>{"insert into t values('中文',\r\n'状态')"}));

    const std::string utf8Script =
        "-- sql begin a\ninsert into t values('中文','状态')\n-- end sql\n";
    EXPECT_TRUE(Run(utf8Script));
    EXPECT_EQ(command.Executed, (std::vector<std::string>{"insert into t values('中文','状态')"}));

    WriteScript(gbScript);
    window = RecordingWindow();
    command = FakeCommand();
    command.FailAt = 1;
    EXPECT_FALSE(RunUpgradeScripts(context, true));
    ASSERT_EQ(window.Messages.size(), 1u);
    EXPECT_EQ(window.Messages[0].Text, Failure("建表"));
}

} // namespace

} // namespace offline_upgrade
