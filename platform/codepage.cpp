// GB18030 on both systems, from the tables that come with the program (gb18030.h), made from
// Python's codec at build time: Wine has no converter for code page 54936, and the rule (total,
// the same for bad bytes) must be the same on both forms.

#include "platform/codepage.h"

#include "platform/gb18030.h"
#include "platform/text.h"

#include <algorithm>
#include <vector>

namespace offline_upgrade {

namespace {

constexpr uint32_t kReplacement = 0xFFFD;
constexpr uint32_t kEuro = 0x20AC;
// The linear index of 0x90 0x30 0x81 0x30, the first four-byte sequence beyond the BMP.
constexpr uint32_t kSupplementaryStart = 189000;

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
    const Gb18030Range *range =
        std::upper_bound(kGb18030FourByteRanges, end, linear,
                         [](uint32_t value, const Gb18030Range &r) { return value < r.First; });
    if (range == kGb18030FourByteRanges || linear > (range - 1)->Last)
        return 0;
    --range;
    length = 4;
    return range->CodePoint + (linear - range->First);
}

// The two-byte sequences by their code point, ascending: the inverse of kGb18030TwoByte.
struct TwoByteEntry {
    uint32_t CodePoint;
    uint16_t Index; // into kGb18030TwoByte
};

const std::vector<TwoByteEntry> &TwoByteByCodePoint()
{
    static const std::vector<TwoByteEntry> entries = [] {
        std::vector<TwoByteEntry> made;
        for (size_t i = 0; i < std::size(kGb18030TwoByte); ++i)
            if (kGb18030TwoByte[i] != 0)
                made.push_back({kGb18030TwoByte[i], static_cast<uint16_t>(i)});
        std::sort(made.begin(), made.end(), [](const TwoByteEntry &a, const TwoByteEntry &b) {
            return a.CodePoint < b.CodePoint;
        });
        return made;
    }();
    return entries;
}

void AppendFourByte(std::string &out, uint32_t linear)
{
    out += static_cast<char>(0x81 + linear / 12600);
    out += static_cast<char>(0x30 + linear / 1260 % 10);
    out += static_cast<char>(0x81 + linear / 10 % 126);
    out += static_cast<char>(0x30 + linear % 10);
}

// Appends the GB18030 form of cp, a code point other than a surrogate.
void AppendGb18030(std::string &out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
        return;
    }
    if (cp >= 0x10000) {
        AppendFourByte(out, kSupplementaryStart + (cp - 0x10000));
        return;
    }
    const auto &two = TwoByteByCodePoint();
    const auto found =
        std::lower_bound(two.begin(), two.end(), cp, [](const TwoByteEntry &entry, uint32_t value) {
            return entry.CodePoint < value;
        });
    if (found != two.end() && found->CodePoint == cp) {
        const unsigned lead = found->Index / 190, trail = found->Index % 190;
        out += static_cast<char>(0x81 + lead);
        out += static_cast<char>(trail < 0x3F ? 0x40 + trail : 0x41 + trail);
        return;
    }
    // The four-byte runs ascend in code point as in linear index, and with the two-byte
    // sequences they cover every code point of the plane but the surrogates.
    const Gb18030Range *end = kGb18030FourByteRanges + kGb18030FourByteRangeCount;
    const Gb18030Range *range =
        std::upper_bound(kGb18030FourByteRanges, end, cp,
                         [](uint32_t value, const Gb18030Range &r) { return value < r.CodePoint; });
    --range;
    AppendFourByte(out, range->First + (cp - range->CodePoint));
}

} // namespace

std::string ToUtf8(const std::string &bytes)
{
    if (IsValidUtf8(bytes))
        return bytes;
    return Gb18030ToUtf8(bytes);
}

std::optional<std::string> Utf8ToGb18030(std::string_view text)
{
    if (!IsValidUtf8(text))
        return std::nullopt;
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();)
        AppendGb18030(out, NextUtf8CodePoint(text, at));
    return out;
}

std::string Gb18030ToUtf8(const std::string &bytes)
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

} // namespace offline_upgrade
