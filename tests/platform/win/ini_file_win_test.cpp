#include "platform/ini_file.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

// A section with a comment, blanks around a name, a line without "=", one without a name, and
// a later section of the same name.
const char kSections[] =
    "A=0\n[config]\n; note\n b = 1\nwithout value\nB=2\n=3\n[other]\nC=4\n[CONFIG]\nD=5\n";

// The Windows form asks the system, which lists only the key lines with a name.
TEST(IniFileWin, KeysOfTheFirstSectionAreTheLinesWithAName)
{
    TempFolder folder;
    const std::string path = folder.Write("Update.ini", kSections).string();
    EXPECT_EQ(ReadIniKeys("CONFIG", path), (std::vector<std::string>{"b", "B"}));
}

// The system takes ";A" as a key name like any other.
TEST(IniFileWin, ACommentLineIsAKeyWhenAskedForByItsWholeName)
{
    TempFolder folder;
    const std::string path = folder.Write("Update.ini", "[CONFIG]\n;A=1\n").string();
    EXPECT_EQ(ReadIniString("CONFIG", ";A", "<none>", path), "1");
}

} // namespace

} // namespace offline_upgrade
