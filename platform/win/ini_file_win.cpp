// INI reading on Windows: the system's GetPrivateProfileStringW on the full path. A file with a
// byte-order mark is read by the system as Unicode; any other file in the ANSI code page, whose
// bytes are taken back as they were and read by the logic's rule (ToUtf8), so that a
// descriptor in GB18030 gives the same fields on every Windows and on POSIX.

#include "platform/ini_file.h"

#include "platform/codepage.h"
#include "platform/win/short_path_win.h"
#include "platform/win/unique_handle.h"
#include "platform/win/wide.h"

#include <windows.h>

#include <string_view>
#include <vector>

namespace offline_upgrade {

namespace {

// Stands for "no such key" in the call: the system gives its default back unchanged, and no
// descriptor value holds these control characters.
const wchar_t kMissing[] = L"\x01\x02kx-missing\x02\x01";

bool StartsWithByteOrderMark(const std::wstring &path)
{
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    unsigned char head[3] = {};
    DWORD got = 0;
    const BOOL read = ReadFile(file.get(), head, sizeof head, &got, nullptr);
    if (!read)
        return false;
    if (got >= 2 && ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF)))
        return true;
    return got == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF;
}

std::string TrimTrailingBlanks(std::string text)
{
    while (!text.empty() &&
           std::string_view(" \t\r\n\v\f").find(text.back()) != std::string_view::npos)
        text.pop_back();
    return text;
}

// The system's text of a file without a byte-order mark, read back as the logic reads text.
std::string FromFileText(const std::wstring &text, bool unicode)
{
    return unicode ? Narrow(text) : ToUtf8(Narrow(text, kAnsiCodePage));
}

} // namespace

std::vector<std::string> ReadIniKeys(const std::string &section, const std::string &path)
{
    // The INI functions take no path past MAX_PATH (a deep program folder's descriptor).
    const std::wstring widePath = WithinMaxPath(Widen(path));
    const bool unicode = StartsWithByteOrderMark(widePath);
    const std::wstring wideSection = unicode ? Widen(section) : Widen(section, kAnsiCodePage);
    // With no key, the system gives every key name of the section, each ended by a zero, and
    // one more zero after the last.
    std::wstring names(1024, L'\0');
    DWORD got = 0;
    for (;;) {
        got = GetPrivateProfileStringW(wideSection.c_str(), nullptr, L"", names.data(),
                                       static_cast<DWORD>(names.size()), widePath.c_str());
        if (got + 2 < names.size())
            break;
        names.assign(names.size() * 4, L'\0');
    }
    std::vector<std::string> keys;
    for (size_t at = 0; at < got;) {
        const size_t end = names.find(L'\0', at);
        if (end == std::wstring::npos || end == at)
            break;
        keys.push_back(FromFileText(names.substr(at, end - at), unicode));
        at = end + 1;
    }
    return keys;
}

std::string ReadIniString(const std::string &section, const std::string &key,
                          const std::string &defaultValue, const std::string &path)
{
    // The INI functions take no path past MAX_PATH (a deep program folder's descriptor).
    const std::wstring widePath = WithinMaxPath(Widen(path));
    // Names are compared byte for byte with the file's: given as the system reads the file.
    const bool unicode = StartsWithByteOrderMark(widePath);
    const std::wstring wideSection = unicode ? Widen(section) : Widen(section, kAnsiCodePage);
    const std::wstring wideKey = unicode ? Widen(key) : Widen(key, kAnsiCodePage);
    std::wstring value(256, L'\0');
    for (;;) {
        const DWORD got =
            GetPrivateProfileStringW(wideSection.c_str(), wideKey.c_str(), kMissing, value.data(),
                                     static_cast<DWORD>(value.size()), widePath.c_str());
        // size - 1 means the value was cut to fit.
        if (got + 1 < value.size()) {
            value.resize(got);
            break;
        }
        value.assign(value.size() * 4, L'\0');
    }
    if (value == kMissing)
        return TrimTrailingBlanks(defaultValue);
    return FromFileText(value, unicode);
}

} // namespace offline_upgrade
