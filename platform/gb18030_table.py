#!/usr/bin/env python3
"""Writes the GB18030 decoding tables (gb18030_table.cpp) from Python's own codec, so that both
forms read GB18030 alike and need no system converter (Wine has none for code page 54936)."""
import sys

TRAILS = list(range(0x40, 0x7F)) + list(range(0x80, 0xFF))


def two_byte():
    table = []
    for lead in range(0x81, 0xFF):
        for trail in TRAILS:
            try:
                text = bytes([lead, trail]).decode("gb18030")
            except UnicodeDecodeError:
                text = ""
            table.append(ord(text) if len(text) == 1 and ord(text) < 0x10000 else 0)
    return table


def four_byte_ranges():
    ranges = []  # [first linear index, last linear index, first code point] of each run
    previous = None
    for linear in range(39420):
        b4 = 0x30 + linear % 10
        b3 = 0x81 + linear // 10 % 126
        b2 = 0x30 + linear // 1260 % 10
        b1 = 0x81 + linear // 12600
        try:
            text = bytes([b1, b2, b3, b4]).decode("gb18030")
        except UnicodeDecodeError:
            previous = None
            continue
        cp = ord(text)
        if previous is None or cp != previous + 1:
            ranges.append([linear, linear, cp])
        ranges[-1][1] = linear
        previous = cp
    return ranges


def main(out):
    two = two_byte()
    ranges = four_byte_ranges()
    with open(out, "w") as f:
        f.write("// Made by gb18030_table.py at build time; do not edit.\n")
        f.write('#include "platform/gb18030.h"\n\n')
        f.write("namespace offline_upgrade {\n\n")
        f.write("const uint16_t kGb18030TwoByte[126 * 190] = {\n")
        for i in range(0, len(two), 16):
            f.write("    " + ", ".join(str(v) for v in two[i:i + 16]) + ",\n")
        f.write("};\n\n")
        f.write("const Gb18030Range kGb18030FourByteRanges[] = {\n")
        for first, last, cp in ranges:
            f.write("    {%d, %d, 0x%X},\n" % (first, last, cp))
        f.write("};\n")
        f.write("const size_t kGb18030FourByteRangeCount = %d;\n" % len(ranges))
        f.write("\n} // namespace offline_upgrade\n")


if __name__ == "__main__":
    main(sys.argv[1])
