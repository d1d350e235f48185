// kxpack.exe under Wine: the Windows edges of the package makers' tool. Its command line is read
// as wide characters, its output reaches a pipe as UTF-8, paths have drive letters and "\",
// and it needs the archiver beside it. The archiver itself is not run here.
#include "platform/native_path.h"
#include "platform/program_folder.h"
#include "platform/program_run.h"
#include "tests/support/temp_folder.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kxpack {

using offline_upgrade::GetProgramFolder;
using offline_upgrade::NativePath;
using offline_upgrade::PathText;
using offline_upgrade::ProgramOutcome;
using offline_upgrade::RunProgramToEnd;
using offline_upgrade::TempFolder;

namespace fs = std::filesystem;

namespace {

constexpr int kClean = 0, kUnreadable = 2, kBadCommand = 3;

// A program folder of the test's own, named in Chinese, holding kxpack.exe and, when asked, a
// stand-in KX_Rar.exe (the process tests' sleeper) that these cases never reach.
class ToolFolder {
public:
    explicit ToolFolder(bool archiver) : folder_(PathText(temp_.Path()) + "\\打包 工具\\")
    {
        const std::string built = GetProgramFolder() + "..\\bin\\";
        fs::create_directories(NativePath(folder_));
        fs::copy_file(NativePath(built + "kxpack.exe"), NativePath(folder_ + "kxpack.exe"));
        if (archiver)
            fs::copy_file(NativePath(GetProgramFolder() + "kx_win_sleeper.exe"),
                          NativePath(folder_ + "KX_Rar.exe"));
    }
    const std::string &Path() const { return folder_; }
    ProgramOutcome Run(const std::vector<std::string> &args) const
    {
        std::vector<std::string> line{folder_ + "kxpack.exe"};
        line.insert(line.end(), args.begin(), args.end());
        return RunProgramToEnd(line);
    }

private:
    TempFolder temp_;
    std::string folder_;
};

TEST(KxpackWin, CommandLineTextAndExitCodes)
{
    const ToolFolder tool(true);
    const std::string package = tool.Path() + "升级包 1.2.zip";
    const struct {
        const char *what;
        std::vector<std::string> args;
        int code;
        std::string mention;
    } cases[] = {
        {"no command", {}, kBadCommand, "usage:"},
        {"help", {"--help"}, kClean, "--registry [STORE]"},
        {"unknown command", {"pack", package}, kBadCommand, "unknown command pack"},
        {"registry of another command",
         {"blocks", package, "--registry"},
         kBadCommand,
         "does not take"},
        {"registry twice",
         {"check", package, "--registry", "a.reg", "--registry"},
         kBadCommand,
         "--registry given twice"},
        {"missing package", {"check", package}, kUnreadable, "package " + package},
        {"missing package, this machine",
         {"check", package, "--registry"},
         kUnreadable,
         "no such file"},
        {"files of a missing package", {"files", package}, kUnreadable, package + ": no such file"},
        {"make without a descriptor file",
         {"make", "--descriptor", tool.Path() + "说明.ini", tool.Path() + "ABC_5.2.zip"},
         kUnreadable,
         tool.Path() + "说明.ini: no such file"},
        {"make to a name without .zip",
         {"make", "--descriptor", tool.Path() + "说明.ini", "C:/out/ABC_5.2.tar"},
         kBadCommand,
         "C:/out/ABC_5.2.tar: a package's name ends in \".zip\""},
    };
    for (const auto &c : cases) {
        const ProgramOutcome run = tool.Run(c.args);
        EXPECT_EQ(run.ExitCode, c.code) << c.what << "\n" << run.Messages;
        EXPECT_NE(run.Messages.find(c.mention), std::string::npos) << c.what << "\n"
                                                                   << run.Messages;
    }
}

TEST(KxpackWin, JsonNamesThePackageInUtf8)
{
    const ToolFolder tool(true);
    const std::string package = tool.Path() + "产品\\ABC_5.2.zip";
    const ProgramOutcome run = tool.Run({"check", package, "--json"});
    EXPECT_EQ(run.ExitCode, kUnreadable) << run.Messages;
    const nlohmann::json report = nlohmann::json::parse(run.Messages, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << run.Messages;
    EXPECT_EQ(report["package"], package);
    EXPECT_EQ(report["errors"], 1);
}

TEST(KxpackWin, NeedsTheArchiverBesideIt)
{
    const ToolFolder tool(false);
    const ProgramOutcome run = tool.Run({"check", tool.Path() + "ABC_5.2.zip"});
    EXPECT_EQ(run.ExitCode, kUnreadable);
    EXPECT_NE(run.Messages.find("the archiver " + tool.Path() + "KX_Rar.exe is missing"),
              std::string::npos)
        << run.Messages;
}

} // namespace

} // namespace kxpack
