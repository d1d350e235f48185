#include "platform/win/short_path_win.h"

#include "platform/native_path.h"

#include <windows.h>

#include <filesystem>

namespace offline_upgrade {

namespace {

// A path the system gave back, without the long form's prefix.
std::wstring WithoutLongPrefix(const std::wstring &path)
{
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return L"\\\\" + path.substr(8);
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return path.substr(4);
    return path;
}

} // namespace

std::wstring WithinMaxPath(const std::wstring &path)
{
    if (path.size() < MAX_PATH)
        return path;
    const std::wstring whole = LongSystemPath(std::filesystem::path(path)).native();
    const size_t separator = whole.find_last_of(L'\\');
    if (separator == std::wstring::npos)
        return path;
    const std::wstring folder = whole.substr(0, separator);
    const DWORD size = GetShortPathNameW(folder.c_str(), nullptr, 0);
    if (size == 0)
        return path;
    std::wstring shortFolder(size, L'\0');
    const DWORD got = GetShortPathNameW(folder.c_str(), shortFolder.data(), size);
    if (got == 0 || got >= size)
        return path;
    shortFolder.resize(got);
    const std::wstring shortened = WithoutLongPrefix(shortFolder) + whole.substr(separator);
    return shortened.size() < MAX_PATH ? shortened : path;
}

} // namespace offline_upgrade
