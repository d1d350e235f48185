#pragma once
// Text written by package makers on Windows arrives in the Chinese code page. The tool's own
// texts are in the system code page (UTF-8 on POSIX).

#include <string>

// Returns the bytes as text of the system code page. On POSIX: valid UTF-8 is returned as it
// is; anything else is taken as GB18030 (a superset of code page 936) and converted to UTF-8.
// A byte that starts no valid GB18030 sequence (also a sequence cut off at the end) becomes
// U+FFFD and the conversion goes on with the next byte, except 0x80, which code page 936 uses
// for the euro sign and which becomes U+20AC. So the result is valid UTF-8, unless the system
// lacks the converter: then the bytes are returned as they are. Never throws.
std::string ToSystemText(const std::string &bytes);

// Returns the bytes read as GB18030 (code page 936 and its superset) as text of the system code
// page, also when they happen to be valid UTF-8: for text known to come from the Chinese code
// page, and to show how such a machine reads UTF-8 bytes. Bytes that start no valid sequence
// are handled as by ToSystemText. Never throws.
std::string Gb18030ToSystemText(const std::string &bytes);
