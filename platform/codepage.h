#pragma once
// Text written by package makers on Windows arrives in the Chinese code page. The tool's own
// texts are in the system code page (UTF-8 on POSIX).

#include <string>

// Returns the bytes as text of the system code page. On POSIX: valid UTF-8 is returned as it
// is; anything else is taken as GB18030 (a superset of code page 936) and converted to UTF-8.
// Bytes that are not valid GB18030 either are kept as far as they convert; never throws.
std::string ToSystemText(const std::string &bytes);
