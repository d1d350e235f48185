// The command line: the window without arguments, the unattended run with its two options in
// any order, --help, and every other command line refused with its reason.

#include "app/form/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

using Mode = CommandLine::Mode;

TEST(CommandLine, ModesOptionsAndRefusals)
{
    struct Case {
        std::vector<std::string> arguments;
        Mode mode;
        bool force;
        std::string package;
        std::string error; // a part of the reason, for Invalid
    };
    const Case cases[] = {
        {{}, Mode::Window, false, "", ""},
        {{"--unattended"}, Mode::Unattended, false, "", ""},
        {{"--force", "--unattended"}, Mode::Unattended, true, "", ""},
        {{"--unattended", "--package", "ABC_5.1.2.zip"},
         Mode::Unattended,
         false,
         "ABC_5.1.2.zip",
         ""},
        {{"--package=/opt/p/升级 包.zip", "--unattended", "--force"},
         Mode::Unattended,
         true,
         "/opt/p/升级 包.zip",
         ""},
        // A file whose name looks like an option is still the file.
        {{"--unattended", "--package", "--force"}, Mode::Unattended, false, "--force", ""},
        {{"--help"}, Mode::Help, false, "", ""},
        {{"--unattended", "-h"}, Mode::Help, false, "", ""},
        {{"--force"}, Mode::Invalid, true, "", "need --unattended"},
        {{"--package", "p.zip"}, Mode::Invalid, false, "p.zip", "need --unattended"},
        {{"--unattended", "--package"}, Mode::Invalid, false, "", "needs a file"},
        {{"--unattended", "--package="}, Mode::Invalid, false, "", "needs a file"},
        {{"--unattended", "--unattended"}, Mode::Invalid, false, "", "twice"},
        {{"--unattended", "--force", "--force"}, Mode::Invalid, true, "", "twice"},
        {{"--unattended", "--package", "a.zip", "--package", "b.zip"},
         Mode::Invalid,
         false,
         "a.zip",
         "twice"},
        {{"--unattended", "--silent"}, Mode::Invalid, false, "", "unknown argument: --silent"},
        {{"ABC_5.1.2.zip"}, Mode::Invalid, false, "", "unknown argument: ABC_5.1.2.zip"},
        {{"--Unattended"}, Mode::Invalid, false, "", "unknown argument"},
        {{""}, Mode::Invalid, false, "", "unknown argument"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        const std::string where = "case " + std::to_string(i);
        const CommandLine line = ParseCommandLine(c.arguments);
        EXPECT_EQ(line.RunMode, c.mode) << where;
        if (c.mode == Mode::Invalid) {
            EXPECT_NE(line.Error.find(c.error), std::string::npos) << where << ": " << line.Error;
            continue;
        }
        EXPECT_EQ(line.Error, "") << where;
        EXPECT_EQ(line.Force, c.force) << where;
        EXPECT_EQ(line.PackageFile, c.package) << where;
    }
}

TEST(CommandLine, UsageNamesEveryOptionAndExitCode)
{
    const std::string usage = UsageText();
    for (const char *part : {"--unattended", "--force", "--package FILE", "--help", "  0  ",
                             "  1  ", "  2  ", "  3  ", "  4  "})
        EXPECT_NE(usage.find(part), std::string::npos) << part;
}

} // namespace

} // namespace offline_upgrade
