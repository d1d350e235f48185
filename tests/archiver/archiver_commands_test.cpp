#include "archiver/archiver_commands.h"
#include "real_services.h"
#include "tests/archiver/command_lines_split_back.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

struct CommentCase {
    const char *folder;
    const char *name;
    const char *expected;
};

TEST(CommentCommandLine, QuotesEveryPathAndCarriesNoPassword)
{
    const CommentCase cases[] = {
        {"/opt/kx/", "a.zip",
         R"("/opt/kx/KX_Rar.exe" cw -y "/opt/kx/a.zip" "/opt/kx/TempUpdate/Update.ini")"},
        {"/home/u/升级 包/", "V 2.0 补丁.zip",
         R"("/home/u/升级 包/KX_Rar.exe" cw -y "/home/u/升级 包/V 2.0 补丁.zip" )"
         R"("/home/u/升级 包/TempUpdate/Update.ini")"},
        {"/", "x.zip", R"("/KX_Rar.exe" cw -y "/x.zip" "/TempUpdate/Update.ini")"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(CommentCommandLine(cases[i].folder, cases[i].name), cases[i].expected)
            << "case " << i;
}

struct ExtractCase {
    const char *folder;
    const char *package;
    const char *expected;
};

TEST(ExtractCommandLine, AlwaysCarriesThePasswordAndNamesTheWorkFolderWithoutSeparator)
{
    const ExtractCase cases[] = {
        {"/opt/kx/", "/opt/kx/a.zip",
         R"("/opt/kx/KX_Rar.exe" x -y -pxr352 "/opt/kx/a.zip" "/opt/kx/TempUpdate")"},
        {"/mnt/my disk/", "/mnt/my disk/V 2.0 补丁.zip",
         R"("/mnt/my disk/KX_Rar.exe" x -y -pxr352 "/mnt/my disk/V 2.0 补丁.zip" )"
         R"("/mnt/my disk/TempUpdate")"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(ExtractCommandLine(cases[i].folder, cases[i].package), cases[i].expected)
            << "case " << i;
        // The line the log shows: the same, but for the password.
        std::string masked = cases[i].expected;
        masked.replace(masked.find("-pxr352"), 7, "-p***");
        EXPECT_EQ(MaskedExtractCommandLine(cases[i].folder, cases[i].package), masked)
            << "case " << i;
    }
}

// Names on POSIX may hold what Windows names never do, in the package name and in the program
// folder; the archiver must still get each path whole when the line is split. Folders with a
// double quote, which no Windows folder holds, are POSIX's rows, in
// archiver_commands_posix_test.cpp.
TEST(CommandLines, SplitBackIntoTheirPaths)
{
    ExpectCommandLinesSplitBack({"/srv/a b/", "/q\\/", "/end\\/"});
}

} // namespace

} // namespace offline_upgrade
