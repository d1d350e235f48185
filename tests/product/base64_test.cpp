#include "product/base64.h"

#include <gtest/gtest.h>

#include <string>

namespace offline_upgrade {

namespace {

using namespace std::string_literals;

struct DecodeCase {
    std::string input;
    std::string expected;
};

TEST(DecodeBase64Text, GroupsOfFourNoneSkipped)
{
    const DecodeCase cases[] = {
        {"", ""},
        {"Zg==", "f"},
        {"Zm8=", "fo"},
        {"Zm9v", "foo"},
        {"Zm9vYmFy", "foobar"},
        {"Zm9vYg==", "foob"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/",
         "\x00\x10\x83\x10\x51\x87\x20\x92\x8b\x30\xd3\x8f\x41\x14\x93\x51\x55\x97\x61\x96\x9b\x71"
         "\xd7\x9f\x82\x18\xa3\x92\x59\xa7\xa2\x9a\xab\xb2\xdb\xaf\xc3\x1c\xb3\xd3\x5d\xb7\xe3\x9e"
         "\xbb\xf3\xdf\xbf"s},
        {"AAAA", "\0\0\0"s},
        // a pad does not end the decoding; the next group follows directly
        {"Zg==Zm9v", "ffoo"},
        {"Zm8=Zm8=Zg==", "fofof"},
        {"Zg=xZm9v", "ffoo"},
        {"====", "\xff"},
        {"========", "\xff\xff"},
        // one to three characters after the last whole group are ignored
        {"Zm9vYm", "foo"},
        {"Zm9", ""},
        {"Z", ""},
        {"Zm9vYmFyZ", "foobar"},
        // a line break is a character like any other and shifts the groups after it
        {"Zm9v\nYmFy", "foo\x01\x89\x85"},
        {"Zm9v\r\nYmFy", "foo\x00\x06\x26"s},
        // outside the alphabet: value 0, like "A"
        {"Z*==", "d"},
        {"ZA==", "d"},
        {"\x80\xff\0 "s, "\0\0\0"s},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(DecodeBase64Text(cases[i].input), cases[i].expected) << "case " << i;
}

TEST(DecodeBase64Buffer, WritesOnlyWholeGroupsOfSize)
{
    const char input[] = "Zm9vYmFy";
    unsigned char out[8];
    for (int size : {-4, 0, 1, 3}) {
        std::fill(std::begin(out), std::end(out), 0xAA);
        EXPECT_EQ(DecodeBase64Buffer(input, out, size), 0) << "size " << size;
        EXPECT_EQ(out[0], 0xAA) << "size " << size;
    }
    std::fill(std::begin(out), std::end(out), 0xAA);
    EXPECT_EQ(DecodeBase64Buffer(input, out, 7), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 3), "foo");
    EXPECT_EQ(out[3], 0xAA);
    EXPECT_EQ(DecodeBase64Buffer(input, out, 8), 6);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 6), "foobar");
}

} // namespace

} // namespace offline_upgrade
