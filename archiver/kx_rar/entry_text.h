#pragma once
// Entry names as this system sees them, one implementation per system (posix/, win/): on
// POSIX the name's bytes as stored, on Windows UTF-8 converted from how the maker stored it,
// checked against Windows' own name rules, and compared without letter case.

#include "zip_layout.h"

#include <archive.h>
#include <archive_entry.h>

#include <optional>
#include <string>
#include <string_view>

// Sets the reader up for the names as this system reads them; call before opening it.
void PrepareNameReading(archive *reader);

// The name of entry, whose central directory record is stored: POSIX takes the library's name
// (bytes as stored); Windows decodes the stored bytes: UTF-8 when they are valid UTF-8
// (flagged or not: some makers write UTF-8 without the flag), else GB18030, the code page the
// package makers' Windows machines write. Empty when the name cannot be read.
std::optional<std::string> EntryText(archive_entry *entry, const ZipEntry &stored);

// Why part, one name of an accepted entry's path, cannot be a file name here as stored, or
// empty: on Windows WindowsNameProblem (entry_name.h); on POSIX every part is a name.
std::string SystemNameProblem(std::string_view part);

// The form of a path under which this system finds the same file: the path itself on POSIX;
// on Windows, which ignores letter case in names, the path in capitals.
std::string SameFileKey(const std::string &path);
