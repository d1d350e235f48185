#include "product/secretkey.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

using namespace std::string_literals;

// The password key the package scan passes to UnscramblePassword.
const std::string kPasswordKey = "\x0B\x17\x02\x1C\x09\x12\x04\x1E\x0D\x15\x07\x19\x10\x03";

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

TEST(XorWithKey, KeyBlocksAlternateDirectionWithFallbackBetween)
{
    // Zero data shows the byte combined with each position.
    EXPECT_EQ(XorWithKey(std::string(10, '\0'), Bytes({1, 2, 3})),
              Bytes({1, 2, 3, 30, 3, 2, 1, 28, 1, 2}));
    EXPECT_EQ(XorWithKey(std::string(9, '\0'), Bytes({0x41})),
              Bytes({0x41, 30, 0x41, 28, 0x41, 26, 0x41, 24, 0x41}));
    EXPECT_EQ(XorWithKey(std::string(4, '\0'), ""), Bytes({30, 28, 26, 24}));
    EXPECT_EQ(XorWithKey("", "key"), "");
    EXPECT_EQ(XorWithKey("", ""), "");
}

TEST(XorWithKey, FallbackCycleRestartsAt30)
{
    for (size_t length : {0u, 1u, 2u, 3u, 14u, 16u}) {
        const std::string key(length, '\x55');
        const std::string r = XorWithKey(std::string(17 * (length + 1), '\0'), key);
        for (size_t j = 1; j <= 17; ++j) {
            const int expected = 30 - 2 * static_cast<int>((j - 1) % 15);
            EXPECT_EQ(static_cast<unsigned char>(r[j * (length + 1) - 1]), expected)
                << "key length " << length << ", between-blocks position " << j;
        }
    }
}

TEST(XorWithKey, TwicePassGivesDataBackForEveryKeyLength)
{
    std::string data;
    for (int i = 0; i < 300; ++i)
        data += static_cast<char>((i * 37 + 11) & 0xFF); // every byte value, zero included
    for (size_t length = 0; length <= 20; ++length) {
        std::string key;
        for (size_t k = 0; k < length; ++k)
            key += static_cast<char>((k * 101 + 200) & 0xFF);
        for (size_t n : {size_t{0}, size_t{1}, length, length + 1, size_t{300}}) {
            const std::string part = data.substr(0, n);
            const std::string once = XorWithKey(part, key);
            EXPECT_EQ(once.size(), part.size()) << "key length " << length << ", n " << n;
            EXPECT_EQ(XorWithKey(once, key), part) << "key length " << length << ", n " << n;
        }
    }
}

TEST(XorWithKey, EqualBytesGiveZeroBytesAndKeepLength)
{
    EXPECT_EQ(XorWithKey("abc", "abc"), "\0\0\0"s);
    EXPECT_EQ(XorWithKey(Bytes({'a', 30, 'a'}), "a"), "\0\0\0"s);
}

TEST(UnscramblePassword, TwoPassesWithPrefixedKeyThenKey)
{
    EXPECT_EQ(UnscramblePassword("", kPasswordKey), "");

    // Zero data: positions 1..14 combine prefix-and-key with key, shifted by two; 15 takes the
    // second pass's fallback, 17 the first pass's; both passes run backward after that.
    // clang-format off
    const std::string expected =
        Bytes({kSecretKeyPrefix[0] ^ 0x0B, kSecretKeyPrefix[1] ^ 0x17, 0x0B ^ 0x02, 0x17 ^ 0x1C,
               0x02 ^ 0x09, 0x1C ^ 0x12, 0x09 ^ 0x04, 0x12 ^ 0x1E, 0x04 ^ 0x0D, 0x1E ^ 0x15,
               0x0D ^ 0x07, 0x15 ^ 0x19, 0x07 ^ 0x10, 0x19 ^ 0x03, 0x10 ^ 30, 0x03 ^ 0x03,
               30 ^ 0x10, 0x03 ^ 0x19, 0x10 ^ 0x07, 0x19 ^ 0x15});
    // clang-format on
    EXPECT_EQ(UnscramblePassword(std::string(20, '\0'), kPasswordKey), expected);

    const std::string clear = "Sa\0pw-数据库"s;
    const std::string stored =
        XorWithKey(XorWithKey(clear, kPasswordKey), std::string(kSecretKeyPrefix) + kPasswordKey);
    EXPECT_NE(stored, clear);
    EXPECT_EQ(UnscramblePassword(stored, kPasswordKey), clear);
}

} // namespace

} // namespace offline_upgrade
