#!/usr/bin/env python3
"""Writes a file that once stalled the comment command: make_stall.py FILE MEGABYTES SHAPE.

The file's last 64 KB hold about 2,900 end records, each claiming a central directory from
offset 0 up to itself. SHAPE "noise": random bytes before them; "chain": a chain of valid
central headers, one short of what the records claim. Each record's comment reaches to the
end of the file, so every record looks like the archive's own to a reader that checks only
that.
"""
import random
import struct
import sys

path, megabytes, shape = sys.argv[1], int(sys.argv[2]), sys.argv[3]
records = 2900
body_size = megabytes * (1 << 20) - records * 22
name = b"x" * 200
header = (b"PK\x01\x02" + struct.pack("<HHHHHHIIIHHHHHII", 0x031e, 20, 0, 0, 0, 0x5286, 0, 0, 0,
                                       len(name), 0, 0, 0, 0, 0o100644 << 16, 0) + name)
if shape == "chain":
    count = body_size // len(header)
    body = header * count + b"\0" * (body_size - count * len(header))
else:
    count = 1
    body = random.Random(1).randbytes(body_size)
size = body_size + records * 22
with open(path, "wb") as f:
    f.write(body)
    for k in range(records):
        at = body_size + k * 22
        claimed = min(count + 1, 0xffff)
        f.write(b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, claimed, claimed, at, 0,
                                             size - at - 22))
