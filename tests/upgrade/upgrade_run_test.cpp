// The upgrade run's order of stages, its failure paths and its clean-up, with a fake archiver
// and data layer over a real temporary program folder.

#include "upgrade/upgrade_run.h"
#include "tests/support/system_services.h"

#include "platform/error.h"
#include "tests/support/fake_data_access.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace fs = std::filesystem;

namespace {

// An archiver that "unpacks" by running OnStart and then ends with ExitCode at once.
class FakeArchiver : public IProcesses {
public:
    bool Start(const std::string &commandLine) override
    {
        Started.push_back(commandLine);
        if (!CanStart)
            return false;
        if (OnStart)
            OnStart();
        return true;
    }
    bool IsProcessRunning(const std::string &) override { return false; }
    void Sleep(int) override {}
    std::optional<int> LastExitCode() override { return ExitCode; }
    bool LastHasEnded() override { return true; }
    bool EndLast() override { return true; }
    std::string LastErrorOutput() override { return ErrorOutput; }

    bool CanStart = true;
    std::optional<int> ExitCode = 0; // nothing: killed by a signal
    std::function<void()> OnStart;
    std::string ErrorOutput;
    std::vector<std::string> Started;
};

class UpgradeRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        program = folder.Slashed();
        Package.PackageName = "pkg_2.zip";
        Package.PackagePath = program;
        Package.DbType = 1;
        Package.SQLCount = 1;
        Product.ServerName = "localhost"; // local for MySQL: the script runs
        Product.Path = (folder.Path() / "product").string();
        connection.SetConnectionString("unset");
    }

    bool Run()
    {
        UpgradeContext context{program,    Package,  Product, computerName, localIp,
                               connection, query,    command, window,       files,
                               archiver};
        return RunUpgrade(context, program + "pkg_2.zip");
    }

    // What a good package unpacks: one SQL block and one application file.
    void UnpackGoodPackage()
    {
        folder.Write("TempUpdate/pkg_2/UpdateSQL.sql",
                     "-- sql begin one\r\ninsert into t values (1)\r\n-- end sql\r\n");
        folder.Write("TempUpdate/pkg_2/UpdateFiles/bin/app.txt", "new");
    }

    std::vector<std::string> MessageTexts() const
    {
        std::vector<std::string> texts;
        for (const auto &m : window.Messages)
            texts.push_back(m.Text);
        return texts;
    }

    TempFolder folder;
    std::string program;
    T_PackageInfo Package;
    T_ProductReg Product;
    std::string computerName = "host";
    std::string localIp = "10.1.2.3";
    FakeConnection connection;
    FakeQuery query;
    FakeCommand command;
    RecordingWindow window;
    SystemFileSystem realFiles;
    FaultyFileSystem files{realFiles};
    FakeArchiver archiver;
};

TEST_F(UpgradeRun, SuccessRunsEveryStageInOrderAndClosesTheConnection)
{
    archiver.OnStart = [this] { UnpackGoodPackage(); };
    window.SetProgressMax(7);
    window.SetProgressPosition(5);
    ASSERT_TRUE(Run());

    ASSERT_EQ(archiver.Started.size(), 1u);
    EXPECT_EQ(archiver.Started[0], "\"" + program + "KX_Rar.exe\" x -y -pxr352 \"" + program +
                                       "pkg_2.zip\" \"" + program + "TempUpdate\"");
    ASSERT_GE(window.Calls.size(), 4u);
    EXPECT_EQ(window.Calls[2], "max:100"); // each run starts the bar afresh
    EXPECT_EQ(window.Calls[3], "pos:0");
    EXPECT_EQ(window.Steps.front(), "正在解压缩升级包文件...");
    EXPECT_EQ(window.Steps.back(), "更新文件完成");
    EXPECT_EQ(command.Executed, std::vector<std::string>{"insert into t values (1)"});
    EXPECT_EQ(ReadWholeFile(folder.Path() / "product/bin/app.txt"), "new");
    EXPECT_TRUE(window.Messages.empty());
    EXPECT_TRUE(window.Remarks.empty()); // the blocks ran here
    EXPECT_FALSE(connection.IsOpen);
}

TEST_F(UpgradeRun, RemoteServerCopiesFilesWithoutRunningTheScript)
{
    Product.ServerName = "db.example";
    archiver.OnStart = [this] { UnpackGoodPackage(); };
    ASSERT_TRUE(Run());
    EXPECT_TRUE(command.Executed.empty());
    EXPECT_EQ(ReadWholeFile(folder.Path() / "product/bin/app.txt"), "new");
    // Not a failure, but said: the database part was left to the server's machine.
    EXPECT_EQ(window.Remarks, std::vector<std::string>{kScriptsLeftToServerText});
}

TEST_F(UpgradeRun, UnpackFailuresStopBeforeTheDatabase)
{
    struct Case {
        const char *what;
        bool canStart;
        std::optional<int> exitCode;
    };
    const Case cases[] = {
        {"archiver cannot start", false, 0},
        {"damaged package", true, 2},
        {"wrong password", true, 11},
        {"archiver killed", true, std::nullopt},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        archiver.CanStart = cases[i].canStart;
        archiver.ExitCode = cases[i].exitCode;
        window.Messages.clear();
        connection.Calls.clear();
        EXPECT_FALSE(Run()) << "case " << i << ": " << cases[i].what;
        ASSERT_EQ(window.Messages.size(), 1u) << "case " << i;
        EXPECT_EQ(window.Messages[0].Text, "解压缩升级包文件失败！") << "case " << i;
        EXPECT_EQ(window.Messages[0].Caption, "提示") << "case " << i;
        EXPECT_EQ(window.Messages[0].Icon, MessageIcon::Error) << "case " << i;
        EXPECT_TRUE(connection.Calls.empty()) << "case " << i; // never opened
    }
}

TEST_F(UpgradeRun, FilesLeftByAnEarlierRunAreNeverApplied)
{
    UnpackGoodPackage(); // as an earlier run left them
    folder.Write("TempUpdate/other/keep.txt", "another package's folder");
    folder.Write("TempUpdate/Update.ini", "[CONFIG]");
    // This time the archiver unpacks nothing and still reports success: the package's own
    // folder is missing, so the unpack has failed.
    connection.Calls.clear();
    EXPECT_FALSE(Run());
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"解压缩升级包文件失败！"});
    EXPECT_TRUE(connection.Calls.empty());
    EXPECT_TRUE(command.Executed.empty());
    EXPECT_FALSE(fs::exists(folder.Path() / "product/bin/app.txt"));
    EXPECT_FALSE(fs::exists(folder.Path() / "TempUpdate/pkg_2"));
    EXPECT_TRUE(fs::exists(folder.Path() / "TempUpdate/other/keep.txt"));
    EXPECT_TRUE(fs::exists(folder.Path() / "TempUpdate/Update.ini"));
}

TEST_F(UpgradeRun, PackageFolderWithoutScriptOrFilesIsASuccessThatChangesNothing)
{
    archiver.OnStart = [this] { fs::create_directories(folder.Path() / "TempUpdate/pkg_2"); };
    EXPECT_TRUE(Run());
    EXPECT_TRUE(window.Messages.empty());
    EXPECT_TRUE(command.Executed.empty());
    EXPECT_FALSE(fs::exists(folder.Path() / "product"));
}

TEST_F(UpgradeRun, ConnectionFailureStopsBeforeScriptsAndFiles)
{
    archiver.OnStart = [this] { UnpackGoodPackage(); };
    connection.FailOpen = true;
    EXPECT_FALSE(Run());
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"连接产品数据库失败！"});
    EXPECT_TRUE(command.Executed.empty());
    EXPECT_FALSE(fs::exists(folder.Path() / "product/bin/app.txt"));
}

TEST_F(UpgradeRun, FailingBlockLeavesTheFilesUntouched)
{
    archiver.OnStart = [this] { UnpackGoodPackage(); };
    command.FailAt = 1;
    EXPECT_FALSE(Run());
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"执行升级脚本失败(one)！"});
    EXPECT_FALSE(fs::exists(folder.Path() / "product/bin/app.txt"));
    EXPECT_FALSE(connection.IsOpen);
}

TEST_F(UpgradeRun, FailedFileCopyFailsTheRunWithoutAMessage)
{
    archiver.OnStart = [this] { UnpackGoodPackage(); };
    files.FailCopyAt = 1;
    EXPECT_FALSE(Run());
    EXPECT_EQ(window.Steps.back(), "更新文件失败");
    EXPECT_TRUE(window.Messages.empty());
    EXPECT_FALSE(connection.IsOpen);
}

TEST_F(UpgradeRun, FilesThatCannotFollowStopTheRunBeforeTheFirstBlock)
{
    archiver.OnStart = [this] { UnpackGoodPackage(); };
    struct Case {
        const char *what;
        std::function<void()> arrange;
    };
    const Case cases[] = {
        {"a file where the folder bin goes", [&] { folder.Write("product/bin", "a file"); }},
        {"a full disk",
         [&] {
             files.EditSpace = [](const std::string &, FileSystemSpace &space) {
                 space.Available = 0;
             };
         }},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string where = "case " + std::to_string(i) + " (" + cases[i].what + ")";
        fs::remove_all(folder.Path() / "product");
        fs::create_directories(folder.Path() / "product");
        files.EditSpace = nullptr;
        cases[i].arrange();
        command.Executed.clear();
        window.Steps.clear();

        EXPECT_FALSE(Run()) << where;

        EXPECT_TRUE(command.Executed.empty()) << where;
        EXPECT_TRUE(window.Messages.empty()) << where;
        // As a failed file stage: its last step text, and no other stage's.
        EXPECT_EQ(window.Steps.back(), "更新文件失败") << where;
        EXPECT_EQ(std::count(window.Steps.begin(), window.Steps.end(), "正在更新文件..."), 0)
            << where;
        EXPECT_FALSE(fs::exists(folder.Path() / "product/bin/app.txt")) << where;
        EXPECT_FALSE(connection.IsOpen) << where;
    }
}

TEST_F(UpgradeRun, ErrorLeavingTheRunClosesTheConnectionFirst)
{
    Package.DbType = 2; // the locality of an Oracle server is asked of the database
    query.FailOpen = true;
    archiver.OnStart = [this] { UnpackGoodPackage(); };
    EXPECT_THROW(Run(), KxError);
    EXPECT_FALSE(connection.IsOpen);
    EXPECT_EQ(connection.Calls.back(), "close");
    EXPECT_FALSE(fs::exists(folder.Path() / "product/bin/app.txt"));
}

TEST_F(UpgradeRun, TwoRunsInARowEachOpenTheConnectionAnew)
{
    archiver.OnStart = [this] { UnpackGoodPackage(); };
    ASSERT_TRUE(Run());
    ASSERT_TRUE(Run());
    EXPECT_EQ(std::count(connection.Calls.begin(), connection.Calls.end(), "open"), 2);
    EXPECT_EQ(command.Executed.size(), 2u);
    EXPECT_FALSE(connection.IsOpen);
}

// Removing and filling that folder must take neither the work folder nor a file of the tool's.
TEST(UnpackedPackageFolder, NeverNamesTheWorkFolderItselfOrAToolsFile)
{
    T_PackageInfo package;
    T_ProductReg product;
    std::string none;
    FakeConnection connection;
    FakeQuery query;
    FakeCommand command;
    RecordingWindow window;
    SystemFileSystem files;
    FakeArchiver archiver;
    UpgradeContext context{"/p/",   package, product, none,  none,    connection,
                           query,   command, window,  files, archiver};
    const std::pair<const char *, const char *> cases[] = {
        {"abc.zip", "/p/TempUpdate/abc"}, {"a b.ZIP", "/p/TempUpdate/a b"}, {".zip", ""},
        {"x", ""},                        {"...zip", ""},                  {"..x.zip", "/p/TempUpdate/..x"},
        {"Update.ini.zip", ""},           {"updatefiles.JOURNAL.zip", ""}, {"offline-upgrade.lock. .zip", ""},
        {"a\\b.zip", ""},                  {"Update.ini.txt.zip", "/p/TempUpdate/Update.ini.txt"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        package.PackageName = cases[i].first;
        EXPECT_EQ(UnpackedPackageFolder(context), cases[i].second) << "case " << i;
    }
}

} // namespace
