// Code pages on Windows: the logic's texts are UTF-8 here too, so that both forms read a
// descriptor or a script the same. Text that is not valid UTF-8 is taken as GB18030 (a superset
// of code page 936). The decoding tables come with the program (gb18030.h), made from Python's
// codec at build time: Wine has no converter for code page 54936, and the rule for bad bytes
// must be the same as on POSIX anyway.

#include "platform/codepage.h"

#include "platform/text.h"
#include "platform/win/gb18030.h"

#include <algorithm>

namespace {

constexpr uint32_t kReplacement = 0xFFFD;
constexpr uint32_t kEuro = 0x20AC;
// The linear index of 0x90 0x30 0x81 0x30, the first four-byte sequence beyond the BMP.
constexpr uint32_t kSupplementaryStart = 189000;

void AppendUtf8(std::string &out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The code point of the sequence at bytes[at] and its length, or length 0 when no valid
// sequence starts there (also one cut off at the end).
uint32_t Decode(const std::string &bytes, size_t at, size_t &length)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    length = 0;
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    if (lead == 0x80 || lead == 0xFF || at + 1 >= bytes.size())
        return 0;
    const unsigned char second = byte(at + 1);
    if ((second >= 0x40 && second <= 0x7E) || (second >= 0x80 && second <= 0xFE)) {
        const size_t trail = second <= 0x7E ? second - 0x40 : second - 0x41;
        const uint32_t cp = kGb18030TwoByte[(lead - 0x81) * 190 + trail];
        if (cp != 0)
            length = 2;
        return cp;
    }
    if (second < 0x30 || second > 0x39 || at + 3 >= bytes.size())
        return 0;
    const unsigned char third = byte(at + 2), fourth = byte(at + 3);
    if (third < 0x81 || third > 0xFE || fourth < 0x30 || fourth > 0x39)
        return 0;
    const uint32_t linear =
        ((static_cast<uint32_t>(lead - 0x81) * 10 + (second - 0x30)) * 126 + (third - 0x81)) * 10 +
        (fourth - 0x30);
    if (linear >= kSupplementaryStart) {
        const uint32_t cp = 0x10000 + (linear - kSupplementaryStart);
        if (cp <= 0x10FFFF)
            length = 4;
        return cp;
    }
    const Gb18030Range *end = kGb18030FourByteRanges + kGb18030FourByteRangeCount;
    const Gb18030Range *range = std::upper_bound(
        kGb18030FourByteRanges, end, linear,
        [](uint32_t value, const Gb18030Range &r) { return value < r.First; });
    if (range == kGb18030FourByteRanges || linear > (range - 1)->Last)
        return 0;
    --range;
    length = 4;
    return range->CodePoint + (linear - range->First);
}

} // namespace

std::string ToSystemText(const std::string &bytes)
{
    if (IsValidUtf8(bytes))
        return bytes;
    return Gb18030ToSystemText(bytes);
}

std::string Gb18030ToSystemText(const std::string &bytes)
{
    std::string out;
    out.reserve(bytes.size() * 3 / 2 + 16);
    size_t at = 0;
    while (at < bytes.size()) {
        size_t length = 0;
        const uint32_t cp = Decode(bytes, at, length);
        if (length == 0) {
            // The byte starts nothing valid: code page 936 has the euro sign at 0x80, anything
            // else becomes the replacement character and decoding goes on with the next byte.
            AppendUtf8(out, static_cast<unsigned char>(bytes[at]) == 0x80 ? kEuro : kReplacement);
            ++at;
            continue;
        }
        AppendUtf8(out, cp);
        at += length;
    }
    return out;
}
