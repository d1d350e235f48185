#pragma once
// Entry names as text of this system, one implementation per system (posix/, win/): on POSIX
// the name's bytes as stored, on Windows UTF-8 converted from how the maker stored it.

#include "zip_layout.h"

#include <archive.h>
#include <archive_entry.h>

#include <optional>
#include <string>

// Sets the reader up for the names as this system reads them; call before opening it.
void PrepareNameReading(archive *reader);

// The name of entry, whose central directory record is stored: POSIX takes the library's name
// (bytes as stored); Windows decodes the stored bytes: UTF-8 when they are valid UTF-8
// (flagged or not: some makers write UTF-8 without the flag), else GB18030, the code page the
// package makers' Windows machines write. Empty when the name cannot be read.
std::optional<std::string> EntryText(archive_entry *entry, const ZipEntry &stored);
