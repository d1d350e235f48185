#pragma once
// The edge between the logic's UTF-8 texts and the wide-character Windows calls, and the
// system's own words for a failure, for the log.

#include <string>
#include <string_view>

// UTF-8 to UTF-16; an invalid sequence becomes U+FFFD.
std::wstring Widen(std::string_view utf8);
// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string Narrow(std::wstring_view wide);
// "code N: the system's message" for a GetLastError or WSA code.
std::string SystemErrorText(unsigned long code);
// SystemErrorText of GetLastError().
std::string LastErrorText();
