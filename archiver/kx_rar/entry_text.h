#pragma once
// Entry names as this system sees them, one implementation per system (posix/, win/): on
// POSIX the name's bytes as stored, on Windows UTF-8 converted from how the maker stored it,
// checked against Windows' own name rules, and compared without letter case.

#include "entry_name.h"
#include "zip_layout.h"

#include <archive.h>
#include <archive_entry.h>

#include <optional>
#include <string>
#include <string_view>

namespace kx_rar {

// Sets the reader up for the names as this system reads them; call before opening it.
void PrepareNameReading(archive *reader);

// The name of entry, whose central directory record is stored: POSIX takes the library's name
// (bytes as stored); Windows decodes the stored bytes: UTF-8 when they are valid UTF-8
// (flagged or not: some makers write UTF-8 without the flag), else GB18030, the code page the
// package makers' Windows machines write. Empty when the name cannot be read.
std::optional<std::string> EntryText(archive_entry *entry, const ZipEntry &stored);

// Why part, one name of an accepted entry's path, cannot be a file name here as stored, or
// empty: longer than the file system takes (NameLengthProblem, entry_name.h, in this system's
// unit), and on Windows WindowsNameProblem. The Linux form unpacks the names Windows reserves:
// they are plain names there.
std::string SystemNameProblem(std::string_view part);

// How this system counts the length of names and paths: bytes on POSIX, UTF-16 units on
// Windows, and the bytes of UTF-8 on Windows under Wine, whose Linux host holds no more.
LengthUnit SystemLengthUnit();

// The form of a path under which this system finds the same file: the path itself on POSIX;
// on Windows, which ignores letter case in names, the path in capitals.
std::string SameFileKey(const std::string &path);

} // namespace kx_rar
