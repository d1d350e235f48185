#pragma once
// Text conventions of the tool. The logic's texts are UTF-8 byte strings on both systems (file
// names on POSIX: their bytes as they are), lengths in bytes. This module and codepage.h are the
// one home of text conversion: UTF-8, UTF-16 and the ASCII case fold here, GB18030 there;
// platform/win/wide.h only hands these texts to the wide Windows calls.

#include <string>
#include <string_view>

namespace offline_upgrade {

// Ordinal comparison: bytes as unsigned values, the first difference decides, a prefix sorts
// first, letter case counts. Returns <0, 0 or >0.
int OrdinalCompare(std::string_view a, std::string_view b);

// Removes the bytes 0..32 (control characters and the blank) at both ends.
std::string TrimControl(std::string_view text);

// The text with every control character but the line feed written as a visible escape, so that
// a name from a package, a script or the file system cannot move the cursor, retitle or
// recolour a terminal, or break a line of the log or of the unattended output where it is
// shown: the bytes 0..31 but 10, and 127, as "\x1b"; the C1 controls U+0080..U+009F (in UTF-8)
// as "\u009b". Every other byte stays as it is, a backslash too.
std::string EscapeControls(std::string_view text);

// ASCII-only case folding (to capitals, as Windows does), for names that Windows matches
// without regard to letter case. Bytes beyond ASCII stay as they are.
char FoldAsciiCase(char c);
std::string FoldAsciiCase(std::string_view text);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);
int CompareIgnoreAsciiCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreAsciiCase(std::string_view text, std::string_view prefix);
bool EndsWithIgnoreAsciiCase(std::string_view text, std::string_view suffix);

// True when the bytes form valid UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view bytes);

// The code point of the UTF-8 sequence at text[at], moving at past it. A byte that starts no
// valid sequence (also one cut off at the end) gives U+FFFD and moves at by one.
char32_t NextUtf8CodePoint(std::string_view text, size_t &at);

// Appends the UTF-8 form of the code point cp (at most U+10FFFF).
void AppendUtf8(std::string &out, char32_t cp);

// UTF-16 (little-endian unless bigEndian) as UTF-8. Total: a lone surrogate becomes U+FFFD, an
// odd last byte is dropped, zero units stay zero bytes.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian = false);

// UTF-8 text as UTF-16LE bytes (no byte-order mark); an invalid sequence gives U+FFFD for its
// first byte.
std::string Utf8ToUtf16Le(std::string_view text);

} // namespace offline_upgrade
