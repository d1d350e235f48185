#include "platform/codepage.h"

#include "platform/text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace offline_upgrade {

namespace {

using namespace std::string_literals;

struct ConvertCase {
    std::string bytes;
    std::string expected;
};

TEST(ToUtf8, Utf8KeptOtherBytesReadAsGb18030)
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
        const std::string result = ToUtf8(cases[i].bytes);
        EXPECT_EQ(result, cases[i].expected) << "case " << i;
        EXPECT_TRUE(IsValidUtf8(result)) << "case " << i;
    }
}

TEST(ToUtf8, EveryByteValueGivesValidUtf8)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string result = ToUtf8(all);
    EXPECT_TRUE(IsValidUtf8(result));
    EXPECT_TRUE(result.starts_with(all.substr(0, 128)));
}

struct EncodeCase {
    std::string text;
    std::optional<std::string> expected;
};

TEST(Utf8ToGb18030, EncodesAsTheDecoderReads)
{
    // clang-format off
    const EncodeCase cases[] = {
        {"", ""s},
        {"plain ascii\r\n", "plain ascii\r\n"s},
        {"a\0b"s, "a\0b"s},
        {"朔岱产品", "\xCB\xB7\xE1\xB7\xB2\xFA\xC6\xB7"s},
        {"€", "\xA2\xE3"s},
        {"\xC2\x80", "\x81\x30\x81\x30"s},
        {"Ä", "\x81\x30\x87\x32"s},
        {"\xEF\xBF\xBF", "\x84\x31\xA4\x39"s},
        {"😀", "\x94\x39\xFC\x36"s},
        {"\xF4\x8F\xBF\xBF", "\xE3\x32\x9A\x35"s},
        // not UTF-8: nothing to encode
        {"\xD6\xD0", std::nullopt},
        {"\xED\xA0\x80", std::nullopt},
    };
    // clang-format on
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(Utf8ToGb18030(cases[i].text), cases[i].expected) << "case " << i;
}

TEST(Utf8ToGb18030, EveryCodePointComesBackThroughTheDecoder)
{
    for (char32_t cp = 1; cp <= 0x10FFFF; cp += cp < 0x10000 ? 1 : 61) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        std::string text;
        AppendUtf8(text, cp);
        const std::optional<std::string> encoded = Utf8ToGb18030(text);
        ASSERT_TRUE(encoded) << "U+" << std::hex << static_cast<uint32_t>(cp);
        ASSERT_EQ(Gb18030ToUtf8(*encoded), text) << "U+" << std::hex << static_cast<uint32_t>(cp);
    }
}

} // namespace

} // namespace offline_upgrade
