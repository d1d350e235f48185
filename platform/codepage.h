#pragma once
// Text written by package makers on Windows arrives in the Chinese code page (936, read as its
// superset GB18030). The logic's texts are UTF-8 on both systems; both forms convert with the
// same tables (gb18030.h), made at build time, so a descriptor, a script or a store file reads
// alike on Linux and on Windows.

#include <optional>
#include <string>
#include <string_view>

namespace offline_upgrade {

// The bytes as UTF-8: valid UTF-8 is returned as it is; anything else is read as GB18030 by
// Gb18030ToUtf8. The result is always valid UTF-8. Never throws beyond std::bad_alloc.
std::string ToUtf8(const std::string &bytes);

// The bytes read as GB18030 (code page 936 and its superset) as UTF-8, also when they happen to
// be valid UTF-8: for text known to come from the Chinese code page, and to show how such a
// machine reads UTF-8 bytes. A byte that starts no valid GB18030 sequence (also a sequence cut
// off at the end) becomes U+FFFD and decoding goes on with the next byte, except 0x80, which
// code page 936 uses for the euro sign and which becomes U+20AC. Total: the result is valid
// UTF-8. Never throws beyond std::bad_alloc.
std::string Gb18030ToUtf8(const std::string &bytes);

// UTF-8 text as GB18030 bytes, the inverse of Gb18030ToUtf8 on every code point: nothing when
// the text is not valid UTF-8.
std::optional<std::string> Utf8ToGb18030(std::string_view text);

} // namespace offline_upgrade
