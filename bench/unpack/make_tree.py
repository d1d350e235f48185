#!/usr/bin/env python3
"""Writes the package tree for the unpack benchmark: make_tree.py ROOT SMALL_FILES LARGE_FILES LARGE_MB.

Thousands of small files (200 B to 60 KB) in nested folders and a few large ones; the content is
a mix of text, which compresses, and random bytes, which do not. The same arguments always give
the same tree.
"""
import os
import random
import sys

root, small, large, large_mb = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rng = random.Random(7)
words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
         for _ in range(3000)]
text = " ".join(rng.choice(words) for _ in range(400000)).encode()
noise = rng.randbytes(8 << 20)


def content(size):
    out = bytearray()
    while len(out) < size:
        k = min(size - len(out), rng.randint(4096, 65536))
        pool = noise if rng.random() < 0.4 else text
        start = rng.randint(0, len(pool) - k - 1)
        out += pool[start:start + k]
    return bytes(out)


for i in range(small):
    folder = os.path.join(root, "pkg", "UpdateFiles", "mod%02d" % (i % 40), "sub%d" % (i % 3))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "file%05d.dat" % i), "wb") as f:
        f.write(content(rng.randint(200, 60000)))
for i in range(large):
    with open(os.path.join(root, "pkg", "big%d.bin" % i), "wb") as f:
        for _ in range(large_mb):
            f.write(content(1 << 20))
