#include "platform/ini_file.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

using namespace std::string_literals;

class IniFileTest : public ::testing::Test {
protected:
    std::string Write(const std::string &bytes)
    {
        return folder_.Write("Update.ini", bytes).string();
    }
    std::string Folder() const { return folder_.Path().string(); }

    TempFolder folder_;
};

struct LookupCase {
    std::string file;
    const char *section;
    const char *key;
    const char *expected; // with the default "<none>"
};

TEST_F(IniFileTest, LookupRules)
{
    const LookupCase cases[] = {
        // line ends: LF, CR LF, lone CR, mixed
        {"[CONFIG]\nA=1\nB=2\n", "CONFIG", "B", "2"},
        {"[CONFIG]\r\nA=1\r\nB=2\r\n", "CONFIG", "B", "2"},
        {"[CONFIG]\rA=1\rB=2\r", "CONFIG", "B", "2"},
        {"[X]\r\nB=0\n[CONFIG]\rA=1\r\nB=2", "CONFIG", "B", "2"},
        {"[CONFIG]\r\r\n\nB=2", "CONFIG", "B", "2"},
        // names match without regard to ASCII case
        {"[config]\nsoft=x\n", "CONFIG", "Soft", "x"},
        {"[CoNfIg]\nSOFT=x\n", "config", "soft", "x"},
        // blanks around section names, key names and values
        {"  [ \tCONFIG  ]  \n  Soft \t=  x y \t\n", "CONFIG", "Soft", "x y"},
        {"[CONFIG] trailing words\nSoft=x\n", "CONFIG", "Soft", "x"},
        // one pair of matching quotes is removed, nothing else
        {"[CONFIG]\nA=\"  x  \"\n", "CONFIG", "A", "  x  "},
        {"[CONFIG]\nA= 'x' \n", "CONFIG", "A", "x"},
        {"[CONFIG]\nA=\"\"\"x\"\"\"\n", "CONFIG", "A", "\"\"x\"\""},
        {"[CONFIG]\nA=\"x'\n", "CONFIG", "A", "\"x'"},
        {"[CONFIG]\nA=\"\n", "CONFIG", "A", "\""},
        {"[CONFIG]\nA=''\n", "CONFIG", "A", ""},
        {"[CONFIG]\nA=a\"b\"\n", "CONFIG", "A", "a\"b\""},
        // an empty value is a value, not the default
        {"[CONFIG]\nA=\nA=late\n", "CONFIG", "A", ""},
        {"[CONFIG]\nA=   \n", "CONFIG", "A", ""},
        // the value is everything after the first "="
        {"[CONFIG]\nA=b=c\n", "CONFIG", "A", "b=c"},
        {"[CONFIG]\nA = b ; not a comment\n", "CONFIG", "A", "b ; not a comment"},
        // a line without "=" is a key without a value, and the first key of a name wins
        {"[CONFIG]\nA\n", "CONFIG", "A", "<none>"},
        {"[CONFIG]\nA\nA=1\n", "CONFIG", "A", "<none>"},
        {"[CONFIG]\n A \nA=1\n", "CONFIG", "A", "<none>"},
        {"[CONFIG]\nA\nB=2\n", "CONFIG", "B", "2"},
        // comment lines
        {"[CONFIG]\n;A=1\nA=2\n", "CONFIG", "A", "2"},
        {"[CONFIG]\n   ; A=1\n", "CONFIG", "A", "<none>"},
        {";[CONFIG]\nA=1\n", "CONFIG", "A", "<none>"},
        // first matching section and first matching key win
        {"[CONFIG]\nA=1\n[CONFIG]\nA=2\nB=3\n", "CONFIG", "A", "1"},
        {"[CONFIG]\nA=1\n[CONFIG]\nA=2\nB=3\n", "CONFIG", "B", "<none>"},
        {"[CONFIG]\nA=1\na=2\n", "CONFIG", "A", "1"},
        {"[OTHER]\nA=0\n[CONFIG]\nA=1\n[OTHER]\nA=2\n", "CONFIG", "A", "1"},
        // missing pieces
        {"", "CONFIG", "A", "<none>"},
        {"A=1\n[CONFIG]\n", "CONFIG", "A", "<none>"},
        {"[OTHER]\nA=1\n", "CONFIG", "A", "<none>"},
        {"[CONFIGS]\nA=1\n", "CONFIG", "A", "<none>"},
        {"[CONFIG\nA=1\n", "CONFIG", "A", "<none>"},
        {"[CONFIG]\nAB=1\n", "CONFIG", "A", "<none>"},
        // byte-order mark
        {"\xEF\xBB\xBF[CONFIG]\nA=1\n", "CONFIG", "A", "1"},
        // a zero byte ends the value, also one at its start; names end at one too, and it is
        // no blank
        {"[CONFIG]\nA=ab\0cd\n"s, "CONFIG", "A", "ab"},
        {"[CONFIG]\nA=\0abc\nB=2\n"s, "CONFIG", "A", ""},
        {"[CONFIG]\nA= \0abc\n"s, "CONFIG", "A", ""},
        {"[CONFIG]\nA=\" \0 \"\n"s, "CONFIG", "A", "\" "},
        {"[CONFIG]\nA=x \0y\n"s, "CONFIG", "A", "x "},
        {"[CONFIG]\nA\0\nA=1\n"s, "CONFIG", "A", "<none>"},
        {"[CONFIG]\nA\0B=1\n"s, "CONFIG", "A", "1"},
        {"[CONFIG]\n\0A=1\n"s, "CONFIG", "A", "<none>"},
        {"[CONF\0IG]\nA=1\n"s, "CONF", "A", "1"},
        {"\0[CONFIG]\nA=1\n"s, "CONFIG", "A", "<none>"},
        // control bytes other than the blanks are text
        {"[CONFIG]\nA=\x01x\x1f\v\n", "CONFIG", "A", "\x01x\x1f"},
        {"[CONFIG]\n\x01A=1\n", "CONFIG", "A", "<none>"},
        // UTF-16 with a byte-order mark, as Notepad saves "Unicode"
        {"\xFF\xFE[\0C\0O\0N\0F\0I\0G\0]\0\r\0\n\0S\0=\0-N\x87\x65\r\0\n\0"s, "CONFIG", "S",
         "中文"},
        {"\xFE\xFF\0[\0C\0O\0N\0F\0I\0G\0]\0\n\0A\0=\0\x31"s, "CONFIG", "A", "1"},
        {"\xFF\xFE\xFF\xFE[\0C\0O\0N\0F\0I\0G\0]\0\n\0A\0=\0\x31\0"s, "CONFIG", "A", "<none>"},
        {"\xEF\xBB\xBF\xEF\xBB\xBF[CONFIG]\nA=1\n", "CONFIG", "A", "<none>"},
        // GB18030 text is converted; UTF-8 is kept
        {"[CONFIG]\nSoft=\xCB\xB7\xE1\xB7\xB2\xFA\xC6\xB7\n", "CONFIG", "Soft",
         "\xE6\x9C\x94\xE5\xB2\xB1\xE4\xBA\xA7\xE5\x93\x81"},
        {"[CONFIG]\r\nSoft=朔岱产品\r\n", "CONFIG", "Soft", "朔岱产品"},
        // non-ASCII names are compared byte for byte
        {"[配置]\n名=1\n", "配置", "名", "1"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string path = Write(cases[i].file);
        EXPECT_EQ(ReadIniString(cases[i].section, cases[i].key, "<none>", path), cases[i].expected)
            << "case " << i;
    }
}

TEST_F(IniFileTest, UnreadableFileGivesDefault)
{
    EXPECT_EQ(ReadIniString("CONFIG", "A", "d", Folder() + "/missing.ini"), "d");
    EXPECT_EQ(ReadIniString("CONFIG", "A", "d", Folder()), "d"); // a folder
    EXPECT_EQ(ReadIniString("CONFIG", "A", "d", ""), "d");
}

TEST_F(IniFileTest, DefaultLosesTrailingBlanks)
{
    const std::string path = Write("[CONFIG]\nA=1\n");
    EXPECT_EQ(ReadIniString("CONFIG", "B", " d  ", path), " d");
    EXPECT_EQ(ReadIniString("CONFIG", "B", "", path), "");
}

TEST_F(IniFileTest, LongValueArrivesWhole)
{
    const std::string value(100000, 'v');
    const std::string path = Write("[CONFIG]\nA=" + value + "\nB=2\n");
    EXPECT_EQ(ReadIniString("CONFIG", "A", "", path), value);
    EXPECT_EQ(ReadIniString("CONFIG", "B", "", path), "2");
}

// The keys of a section lie beside, in ini_file_posix_test.cpp and win/ini_file_win_test.cpp:
// each system lists the lines without a name its own way.
TEST_F(IniFileTest, KeysOfAMissingSectionOrFileAreNone)
{
    const std::string path = Write("A=0\n[config]\nb=1\n");
    EXPECT_TRUE(ReadIniKeys("NONE", path).empty());
    EXPECT_TRUE(ReadIniKeys("CONFIG", Folder() + "/missing.ini").empty());
}

} // namespace

} // namespace offline_upgrade
