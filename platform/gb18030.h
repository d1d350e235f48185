#pragma once
// GB18030 decoding tables (made at build time by gb18030_table.py).

#include <cstddef>
#include <cstdint>

namespace offline_upgrade {

// Code points of the two-byte sequences: lead 0x81-0xFE, trail 0x40-0x7E then 0x80-0xFE (190
// per lead); 0 where the sequence stands for nothing.
extern const uint16_t kGb18030TwoByte[126 * 190];

// The four-byte sequences of the Basic Multilingual Plane, by their linear index
// ((((b1 - 0x81) * 10 + b2 - 0x30) * 126 + b3 - 0x81) * 10 + b4 - 0x30), in runs of consecutive
// code points, ascending.
struct Gb18030Range {
    uint32_t First;
    uint32_t Last;
    uint32_t CodePoint; // of First
};
extern const Gb18030Range kGb18030FourByteRanges[];
extern const size_t kGb18030FourByteRangeCount;

} // namespace offline_upgrade
