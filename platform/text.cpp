#include "platform/text.h"

#include <algorithm>

namespace offline_upgrade {

int OrdinalCompare(std::string_view a, std::string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string TrimControl(std::string_view text)
{
    auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return std::string(text.substr(begin, end - begin));
}

// Folds to capitals, as Windows does, so "_" sorts after the letters.
char FoldAsciiCase(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}

std::string FoldAsciiCase(std::string_view text)
{
    std::string folded(text);
    for (char &c : folded)
        c = FoldAsciiCase(c);
    return folded;
}

int CompareIgnoreAsciiCase(std::string_view a, std::string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(FoldAsciiCase(a[i]));
        const auto y = static_cast<unsigned char>(FoldAsciiCase(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && CompareIgnoreAsciiCase(a, b) == 0;
}

bool StartsWithIgnoreAsciiCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           EqualsIgnoreAsciiCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithIgnoreAsciiCase(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() &&
           EqualsIgnoreAsciiCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string EscapeControls(std::string_view text)
{
    static const char kHex[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\n') || c == 0x7F) {
            escaped += "\\x";
            escaped += kHex[c >> 4];
            escaped += kHex[c & 0xF];
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            const auto code = static_cast<unsigned char>(text[++i]);
            escaped += "\\u00";
            escaped += kHex[code >> 4];
            escaped += kHex[code & 0xF];
        } else {
            escaped += static_cast<char>(c);
        }
    }
    return escaped;
}

bool IsValidUtf8(std::string_view bytes)
{
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        unsigned min;
        unsigned cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2, min = 0x80, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3, min = 0x800, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4, min = 0x10000, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n)
            return false;
        for (size_t k = 1; k < len; ++k) {
            const auto cc = static_cast<unsigned char>(bytes[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

void AppendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char32_t NextUtf8CodePoint(std::string_view text, size_t &at)
{
    const auto c = static_cast<unsigned char>(text[at]);
    const size_t len = c < 0x80                 ? 1
                       : c >= 0xC2 && c <= 0xDF ? 2
                       : c >= 0xE0 && c <= 0xEF ? 3
                       : c >= 0xF0 && c <= 0xF4 ? 4
                                                : 0;
    if (len == 0 || at + len > text.size() || !IsValidUtf8(text.substr(at, len))) {
        ++at;
        return 0xFFFD;
    }
    char32_t cp = len == 1 ? c : c & (0xFF >> (len + 1));
    for (size_t k = 1; k < len; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(text[at + k]) & 0x3F);
    at += len;
    return cp;
}

// Written by hand rather than with a converter because it must be total.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian)
{
    std::string out;
    out.reserve(bytes.size());
    const size_t units = bytes.size() / 2;
    const size_t low = bigEndian ? 1 : 0;
    auto unit = [&](size_t i) -> char32_t {
        return static_cast<unsigned char>(bytes[2 * i + low]) |
               (static_cast<unsigned char>(bytes[2 * i + 1 - low]) << 8);
    };
    for (size_t i = 0; i < units; ++i) {
        char32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            u = 0xFFFD;
        }
        AppendUtf8(out, u);
    }
    return out;
}

std::string Utf8ToUtf16Le(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    auto put = [&](char32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (size_t i = 0; i < text.size();) {
        const char32_t cp = NextUtf8CodePoint(text, i);
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

} // namespace offline_upgrade
