#!/usr/bin/env python3
"""Makes a zip archive for tests: make_zip.py ARCHIVE COMMENTFILE [NAME=SOURCEFILE ...].

The comment is stored byte for byte as it stands in COMMENTFILE (an empty path stores none),
which the zip command cannot do: it rewrites line ends.
"""
import sys
import zipfile

archive, comment_file, *entries = sys.argv[1:]
with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
    for entry in entries:
        name, source = entry.split("=", 1)
        z.write(source, name)
    if comment_file:
        with open(comment_file, "rb") as f:
            z.comment = f.read()
