#include "platform/codepage.h"

#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

struct ConvertCase {
    std::string bytes;
    std::string expected;
};

TEST(ToSystemText, Utf8KeptOtherBytesReadAsGb18030)
{
    // clang-format off
    const ConvertCase cases[] = {
        {"", ""},
        {"plain ascii\r\n", "plain ascii\r\n"},
        {"a\0b"s, "a\0b"s},
        {"朔岱产品", "朔岱产品"},
        // two-byte GB18030 (code page 936) characters
        {"\xCB\xB7\xE1\xB7\xB2\xFA\xC6\xB7", "朔岱产品"},
        {"Soft=\xD6\xD0\r\n", "Soft=中\r\n"},
        {"\xA2\xE3", "€"},
        // four-byte GB18030 sequences, beyond code page 936
        {"\x81\x30\x87\x32", "Ä"},
        {"\x94\x39\xFC\x36", "😀"},
        // code page 936's euro sign
        {"\x80" "5", "€5"},
        // bytes that start nothing valid become U+FFFD; the rest converts
        {"\xFF" "a\xD6\xD0", "\xEF\xBF\xBD" "a中"},
        {"\xD6\xD0\xD6", "中\xEF\xBF\xBD"},
        {"\xD6\xD0\x81\x30", "中\xEF\xBF\xBD" "0"},
    };
    // clang-format on
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string result = ToSystemText(cases[i].bytes);
        EXPECT_EQ(result, cases[i].expected) << "case " << i;
        EXPECT_TRUE(IsValidUtf8(result)) << "case " << i;
    }
}

TEST(ToSystemText, EveryByteValueGivesValidUtf8)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string result = ToSystemText(all);
    EXPECT_TRUE(IsValidUtf8(result));
    EXPECT_TRUE(result.starts_with(all.substr(0, 128)));
}

} // namespace
