#include "platform/text.h"

#include <gtest/gtest.h>

namespace offline_upgrade {

namespace {

struct CompareCase {
    const char *a;
    const char *b;
    int sign; // of OrdinalCompare(a, b)
};

TEST(OrdinalCompare, BytesUnsignedPrefixFirstCaseCounts)
{
    const CompareCase cases[] = {
        {"", "", 0},         {"10", "10", 0},  {"9", "10", 1}, {"10", "9", -1},
        {"12", "123", -1},   {"123", "12", 1}, {"a", "A", 1},  {"A", "a", -1},
        {"\x80", "\x7f", 1}, {"\xff", "a", 1}, {"", "a", -1},  {"ab", "abc", -1},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const int r = OrdinalCompare(cases[i].a, cases[i].b);
        EXPECT_EQ((r > 0) - (r < 0), cases[i].sign) << "case " << i;
    }
}

TEST(OrdinalCompare, ZeroBytesInside)
{
    using namespace std::string_literals;
    EXPECT_LT(OrdinalCompare("a\0b"s, "a\0c"s), 0);
    EXPECT_GT(OrdinalCompare("a\0"s, "a"s), 0);
}

TEST(TrimControl, RemovesBytesUpTo32AtBothEnds)
{
    using namespace std::string_literals;
    EXPECT_EQ(TrimControl(" \t\r\n abc \x01\x1f "), "abc");
    EXPECT_EQ(TrimControl("\0 a b \0"s), "a b");
    EXPECT_EQ(TrimControl(" \x7f "), "\x7f");
    EXPECT_EQ(TrimControl("   "), "");
    EXPECT_EQ(TrimControl("中文 "), "中文");
}

TEST(IgnoreAsciiCase, FoldsOnlyAsciiLetters)
{
    EXPECT_TRUE(EqualsIgnoreAsciiCase("CONFIG", "config"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase("config", "confi"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase("\xc3\x84", "\xc3\xa4")); // Ä and ä are not folded
    EXPECT_LT(CompareIgnoreAsciiCase("a.zip", "B.zip"), 0);
    EXPECT_GT(CompareIgnoreAsciiCase("_", "a"), 0); // folded to capitals: '_' (95) after 'A' (65)
}

TEST(IsValidUtf8, AcceptsUtf8RejectsOtherBytes)
{
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("plain ascii"));
    EXPECT_TRUE(IsValidUtf8("朔岱产品"));
    EXPECT_TRUE(IsValidUtf8("\xf0\x9f\x98\x80"));
    EXPECT_FALSE(IsValidUtf8("\xcb\xb7\xe1\xb7")); // GB18030 bytes
    EXPECT_FALSE(IsValidUtf8("\xc0\xaf"));         // overlong
    EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));     // surrogate
    EXPECT_FALSE(IsValidUtf8("\xe6\x9c"));         // cut short
}

// Names as packages, scripts and file systems may carry them.
TEST(EscapeControls, ControlCharactersButTheLineFeedBecomeVisible)
{
    const struct {
        std::string name;
        std::string shown;
    } cases[] = {
        {"demo_1.2.zip", "demo_1.2.zip"},
        {"更新说明.txt", "更新说明.txt"},
        {"\x1b]0;owned\x07.zip", "\\x1b]0;owned\\x07.zip"},    // retitles a terminal
        {"\x1b[31mred\x1b[0m", "\\x1b[31mred\\x1b[0m"},        // recolours it
        {"a\rupgrade: succeeded", "a\\x0dupgrade: succeeded"}, // a line that reads otherwise
        {"two\nlines", "two\nlines"},                          // the log indents the second
        {"tab\there", "tab\\x09here"},
        {std::string("nul\0in", 6), "nul\\x00in"},
        {"del\x7f", "del\\x7f"},
        {"csi\xc2\x9b"
         "31m",
         "csi\\u009b31m"},                        // the C1 introducer, in UTF-8
        {"nbsp\xc2\xa0", "nbsp\xc2\xa0"},         // beyond C1: a character like any other
        {"\xc2", "\xc2"},                         // cut short: left as it is
        {"C:\\Demo\\x1b", "C:\\Demo\\x1b"},       // a backslash stays as it is
        {"\xcb\xb7\xe1\xb7", "\xcb\xb7\xe1\xb7"}, // GB18030 bytes stay
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(EscapeControls(cases[i].name), cases[i].shown) << "case " << i;
}

} // namespace

} // namespace offline_upgrade
