#pragma once
// The edge between the logic's UTF-8 texts and the wide-character Windows calls, and the
// system's own words for a failure, for the log. The conversions themselves are the system's;
// what the logic's texts are and how GB18030 is read is platform/text.h and platform/codepage.h.

#include <string>
#include <string_view>

namespace offline_upgrade {

// The code pages the tool converts with: the logic's UTF-8 (CP_UTF8), and the system's ANSI
// code page (CP_ACP), in which 8-bit calls and some files speak.
inline constexpr unsigned kUtf8CodePage = 65001;
inline constexpr unsigned kAnsiCodePage = 0;

// Text in codePage to UTF-16. From UTF-8, an invalid sequence becomes U+FFFD.
std::wstring Widen(std::string_view text, unsigned codePage = kUtf8CodePage);
// UTF-16 to text in codePage. To UTF-8, a lone surrogate becomes U+FFFD; to the ANSI code page,
// a character it lacks becomes its default character.
std::string Narrow(std::wstring_view wide, unsigned codePage = kUtf8CodePage);
// "code N: the system's message" for a GetLastError or WSA code.
std::string SystemErrorText(unsigned long code);
// SystemErrorText of GetLastError().
std::string LastErrorText();

} // namespace offline_upgrade
