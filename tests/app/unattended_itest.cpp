// The program run without a window, as a deployment engine runs it: a child process started
// in a real program folder (the archiver, packages made with it, the installed product with its
// folder, registration and database on the private server), with no display, judged by its exit
// code, its lines on standard output and what it did to the database and the product folder.

#include "tests/app/upgrade_world.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace offline_upgrade {

namespace fs = std::filesystem;

namespace {

const std::string kApplied = "升级,5.2";

// Set to the real archiver when this test program, copied as "KX_Rar.exe" into a program
// folder, stands in for it: on a package named "*_hold.zip" (a FIFO) it opens it for reading
// and so waits for a writer, as a hung share would hold the archiver, then fails as on a
// file that is no archive; every other command goes to the real archiver, which refuses a
// FIFO at once.
constexpr const char *kStandInVariable = "KX_UNATTENDED_TEST_REAL_ARCHIVER";

// Runs before the test framework starts, from the program's own arguments.
const bool kStoodIn = [] {
    const char *real = std::getenv(kStandInVariable);
    if (!real)
        return false;
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    std::vector<std::string> arguments;
    for (std::string argument; std::getline(cmdline, argument, '\0');)
        arguments.push_back(argument);
    for (const std::string &argument : arguments) {
        if (argument.ends_with("_hold.zip")) {
            const int fd = ::open(argument.c_str(), O_RDONLY);
            if (fd >= 0)
                ::close(fd);
            _exit(2);
        }
    }
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    ::execv(real, argv.data());
    _exit(127);
}();

std::vector<std::string> LinesOf(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::string LastLine(const std::string &text)
{
    const std::vector<std::string> lines = LinesOf(text);
    return lines.empty() ? std::string() : lines.back();
}

bool HasLine(const std::string &text, const std::string &line)
{
    const std::vector<std::string> lines = LinesOf(text);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class Unattended : public ::testing::Test {
protected:
    static void SetUpTestSuite() { drivers_ = new DriverList; }
    static void TearDownTestSuite()
    {
        delete drivers_;
        drivers_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(TestDatabaseReady()); }

    static DriverList *drivers_;
};
DriverList *Unattended::drivers_ = nullptr;

TEST_F(Unattended, UpgradesThePackageThatFits)
{
    // The package named or not, relatively to the program folder or absolutely.
    const char *const arguments[] = {"--unattended", "--unattended --package demo_5.2.zip",
                                     "--package ABSOLUTE --unattended"};
    for (size_t i = 0; i < std::size(arguments); ++i) {
        const std::string where = "case " + std::to_string(i) + " (" + arguments[i] + ")";
        UpgradeWorld world("kx_quiet_ok_" + std::to_string(i));
        world.MakePackage({});
        world.Register("localhost");
        world.PlaceProgram();
        std::string line = arguments[i];
        const size_t at = line.find("ABSOLUTE");
        if (at != std::string::npos)
            line.replace(at, 8, "'" + world.PackageFile() + "'");

        const UpgradeWorld::ProgramRun run = world.RunProgram(line);

        EXPECT_EQ(run.ExitCode, 0) << where << "\n" << run.Out << run.Err;
        const std::vector<std::string> expected = {
            "升级产品：朔岱演示系统",  "当前版本号：5.1",
            "升级包版本号：5.2",       "升级包路径：" + world.PackageFile(),
            "正在解压缩升级包文件...", "正在连接产品数据库...",
        };
        const std::vector<std::string> lines = LinesOf(run.Out);
        ASSERT_GE(lines.size(), expected.size()) << where << "\n" << run.Out;
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6), expected) << where;
        EXPECT_TRUE(HasLine(run.Out, "正在执行升级脚本(2/4)...")) << where << "\n" << run.Out;
        EXPECT_TRUE(HasLine(run.Out, "更新文件完成")) << where << "\n" << run.Out;
        EXPECT_EQ(LastLine(run.Out), "升级成功！") << where;
        // The lines and the stages' own records, in the program folder's log.
        const std::string log = world.Log();
        for (const char *part : {"unattended run: force off", "unattended: 升级产品：朔岱演示系统",
                                 "upgrade: succeeded after", "unattended: 升级成功！",
                                 "unattended run ends with exit code 0"})
            EXPECT_NE(log.find(part), std::string::npos) << where << ": not logged: " << part;
        EXPECT_EQ(world.Rows(), kApplied) << where;
        EXPECT_EQ(world.Files().AppConf, kNewFiles.AppConf) << where;
        EXPECT_EQ(world.Files().Readme, kNewFiles.Readme) << where;
    }
}

TEST_F(Unattended, NothingFitsAndNothingIsTouched)
{
    struct Case {
        const char *what;
        bool registered;
        const char *build; // the package's; nullptr: no package
        const char *arguments;
        const char *lastLine;
    };
    const Case cases[] = {
        {"no package", true, nullptr, "--unattended", "未找到有效的升级包文件！"},
        {"product not installed", false, "5.2", "--unattended", "未找到有效的升级包文件！"},
        {"older build", true, "5.0", "--unattended --force", "未找到有效的升级包文件！"},
        {"installed build without --force", true, "5.1", "--unattended",
         "升级包版本号与当前版本号相同，未强制升级。"},
        {"another file named", true, "5.2", "--unattended --package other.zip",
         "未找到有效的升级包文件！"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        const std::string where = "case " + std::to_string(i) + " (" + c.what + ")";
        UpgradeWorld world("kx_quiet_none_" + std::to_string(i));
        if (c.build) {
            PackageRecipe recipe;
            recipe.Build = c.build;
            world.MakePackage(recipe);
        }
        if (c.registered)
            world.Register("localhost");
        world.Folder().Write("prog/other.zip", "not a package");
        world.PlaceProgram();

        const UpgradeWorld::ProgramRun run = world.RunProgram(c.arguments);

        EXPECT_EQ(run.ExitCode, 1) << where << "\n" << run.Out << run.Err;
        EXPECT_EQ(LastLine(run.Out), c.lastLine) << where << "\n" << run.Out;
        EXPECT_FALSE(HasLine(run.Out, "正在解压缩升级包文件...")) << where;
        EXPECT_FALSE(fs::exists(world.ProgramFolder() + "TempUpdate/demo_5.2")) << where;
        EXPECT_EQ(world.Rows(), kNoTable) << where;
        EXPECT_EQ(world.Files().AppConf, kOldFiles.AppConf) << where;
    }
}

TEST_F(Unattended, TheInstalledBuildIsAppliedAgainWithForce)
{
    UpgradeWorld world("kx_quiet_force");
    PackageRecipe recipe;
    recipe.Build = "5.1";
    world.MakePackage(recipe);
    world.Register("localhost");
    world.PlaceProgram();

    const UpgradeWorld::ProgramRun run = world.RunProgram("--force --unattended");

    EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_TRUE(HasLine(run.Out, "升级包版本号：5.1")) << run.Out;
    EXPECT_EQ(LastLine(run.Out), "升级成功！");
    EXPECT_EQ(world.Rows(), kApplied);
    EXPECT_EQ(world.Files().AppConf, kNewFiles.AppConf);
}

TEST_F(Unattended, AFailedUpgradeEndsWithItsStep)
{
    struct Case {
        const char *what;
        PackageRecipe package;
        std::vector<std::string> lines; // the lines that end the output, in order
        std::string rows;
        std::vector<std::string> logged; // each stands in the log
    };
    PackageRecipe failingBlock;
    failingBlock.Script = kFailingScript;
    PackageRecipe damaged;
    damaged.Damaged = true;
    const Case cases[] = {
        {"failing block",
         failingBlock,
         {"执行升级脚本失败(broken)！", "升级失败！", "失败步骤：正在执行升级脚本(2/4)..."},
         kApplied,
         // The server's own words.
         {"block broken: failed after", "no_such_table' doesn't exist",
          "unattended: 失败步骤：正在执行升级脚本(2/4)...",
          "unattended run ends with exit code 2"}},
        {"damaged package",
         damaged,
         {"解压缩升级包文件失败！", "升级失败！", "失败步骤：正在解压缩升级包文件..."},
         kNoTable,
         {"unpack: the archiver ended with exit code 3", "unattended run ends with exit code 2"}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        const std::string where = "case " + std::to_string(i) + " (" + c.what + ")";
        UpgradeWorld world("kx_quiet_fail_" + std::to_string(i));
        world.MakePackage(c.package);
        world.Register("localhost");
        world.PlaceProgram();

        const UpgradeWorld::ProgramRun run = world.RunProgram("--unattended");

        EXPECT_EQ(run.ExitCode, 2) << where << "\n" << run.Out << run.Err;
        const std::vector<std::string> lines = LinesOf(run.Out);
        ASSERT_GE(lines.size(), c.lines.size()) << where << "\n" << run.Out;
        EXPECT_EQ(std::vector<std::string>(
                      lines.end() - static_cast<std::ptrdiff_t>(c.lines.size()), lines.end()),
                  c.lines)
            << where << "\n"
            << run.Out;
        EXPECT_EQ(world.Rows(), c.rows) << where;
        const std::string log = world.Log();
        for (const std::string &part : c.logged)
            EXPECT_NE(log.find(part), std::string::npos) << where << ": not logged: " << part;
        // No file is copied after a failed stage.
        EXPECT_EQ(world.Files().AppConf, kOldFiles.AppConf) << where;
    }
}

// An Oracle product: the connection opens, and the host-address query of the locality rule
// fails, which no stage handles; the window would show the default error report.
TEST_F(Unattended, AnErrorLeavingTheRunIsAFailureWithItsText)
{
    UpgradeWorld world("kx_quiet_escape");
    PackageRecipe recipe;
    recipe.DbType = 2;
    world.MakePackage(recipe);
    world.Register("orcl", 2);
    world.PlaceProgram();

    const UpgradeWorld::ProgramRun run = world.RunProgram("--unattended");

    EXPECT_EQ(run.ExitCode, 2) << run.Out << run.Err;
    const std::vector<std::string> lines = LinesOf(run.Out);
    ASSERT_GE(lines.size(), 2u) << run.Out;
    const std::string &report = lines[lines.size() - 2];
    EXPECT_EQ(report.rfind(kTitle + "：", 0), 0u) << report;
    EXPECT_NE(report.find("utl_inaddr"), std::string::npos) << report;
    EXPECT_EQ(lines.back(), "失败步骤：正在连接产品数据库...");
    EXPECT_FALSE(HasLine(run.Out, "升级失败！"));
    EXPECT_EQ(world.Rows(), kNoTable);
    EXPECT_EQ(world.Files().AppConf, kOldFiles.AppConf);
}

TEST_F(Unattended, BadArgumentsAreRefusedWithTheUsage)
{
    struct Case {
        const char *arguments;
        int exitCode;
        const char *inErr; // nullptr: standard error stays empty
    };
    const Case cases[] = {
        {"--unattended --bogus", 3, "usage: offline-upgrade"},
        {"--force", 3, "usage: offline-upgrade"},
        {"--unattended --package", 3, "usage: offline-upgrade"},
        {"--unattended --unattended", 3, "usage: offline-upgrade"},
        {"--unattended --package OUTSIDE", 3, "not in the program folder"},
        {"--unattended --package missing.zip", 3, "missing.zip: not a file"},
        // A name that would retitle the terminal is shown escaped.
        {"--unattended --package \"$(printf 'a\\033]0;x\\007.zip')\"", 3,
         "a\\x1b]0;x\\x07.zip: not a file"},
        {"--help", 0, nullptr},
    };
    UpgradeWorld world("kx_quiet_args");
    world.MakePackage({});
    world.Register("localhost");
    world.PlaceProgram();
    const std::string outside = world.Folder().Slashed() + "demo_5.2.zip";
    fs::copy_file(world.PackageFile(), outside);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        const std::string where = "case " + std::to_string(i) + " (" + c.arguments + ")";
        std::string line = c.arguments;
        const size_t at = line.find("OUTSIDE");
        if (at != std::string::npos)
            line.replace(at, 7, "'" + outside + "'");

        const UpgradeWorld::ProgramRun run = world.RunProgram(line);

        EXPECT_EQ(run.ExitCode, c.exitCode) << where << "\n" << run.Out << run.Err;
        if (c.inErr) {
            EXPECT_NE(run.Err.find(c.inErr), std::string::npos) << where << "\n" << run.Err;
            EXPECT_EQ(run.Out, "") << where;
        } else {
            EXPECT_EQ(run.Err, "") << where;
            EXPECT_NE(run.Out.find("Exit codes of --unattended"), std::string::npos) << where;
        }
    }
    // None of them started a scan or took the lock.
    EXPECT_FALSE(fs::exists(world.ProgramFolder() + "TempUpdate"));
    EXPECT_FALSE(fs::exists(world.ProgramFolder() + "offline-upgrade.lock"));
    EXPECT_EQ(world.Rows(), kNoTable);
    EXPECT_EQ(world.Files().AppConf, kOldFiles.AppConf);
}

// A first run that is held inside its scan: the archiver blocks opening a pipe named like a
// package, listed before the real one, until the test opens it for writing.
TEST_F(Unattended, ASecondRunIsRefusedWhileTheFirstHoldsTheFolder)
{
    UpgradeWorld world("kx_quiet_lock");
    world.MakePackage({});
    world.Register("localhost");
    world.PlaceProgram();
    const std::string pipe = world.ProgramFolder() + "a_hold.zip";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string lockFile = world.ProgramFolder() + "offline-upgrade.lock";
    // The archiver that waits on the pipe is this program standing in (see kStoodIn).
    fs::copy_file(fs::read_symlink("/proc/self/exe"), world.ProgramFolder() + "KX_Rar.exe",
                  fs::copy_options::overwrite_existing);
    setenv(kStandInVariable, (BinDir() / "KX_Rar.exe").c_str(), 1);

    const pid_t first = world.StartProgram("--unattended", "first");
    ASSERT_GT(first, 0);
    // The lock file names its holder once the lock is taken.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ReadWholeFile(lockFile).empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string holder = ReadWholeFile(lockFile);
    ASSERT_FALSE(holder.empty()) << "the first run never took the lock";

    const UpgradeWorld::ProgramRun second = world.RunProgram("--unattended", "second");

    EXPECT_EQ(second.ExitCode, 4) << second.Out << second.Err;
    EXPECT_EQ(second.Out, "升级程序已在运行！\n");
    EXPECT_NE(world.Log().find("unattended run refused: " + lockFile + " is locked by process"),
              std::string::npos)
        << world.Log();
    EXPECT_EQ(ReadWholeFile(lockFile), holder);

    // Let the first run's archiver go on: it finds a pipe, not an archive, and the scan passes
    // over it to the real package.
    const int fd = ::open(pipe.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const UpgradeWorld::ProgramRun run = world.WaitProgram(first, "first");
    EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_EQ(LastLine(run.Out), "升级成功！");
    EXPECT_EQ(world.Rows(), kApplied);

    // The lock went with the first run: a third one runs (the package is of a newer build).
    fs::remove(pipe);
    const UpgradeWorld::ProgramRun third = world.RunProgram("--unattended", "third");
    unsetenv(kStandInVariable);
    EXPECT_EQ(third.ExitCode, 0) << third.Out << third.Err;
}

} // namespace

} // namespace offline_upgrade
