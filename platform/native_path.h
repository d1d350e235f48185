#pragma once
// The logic's paths are UTF-8 byte strings. std::filesystem on Windows would read a narrow
// string in the ANSI code page, so paths go through these on their way in and out.

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>
#include <type_traits>

namespace offline_upgrade {

// The path named by UTF-8 text (on POSIX: by these bytes).
inline std::filesystem::path NativePath(const std::string &utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The path as the system's calls take it at any length. On Windows the plain calls stop at
// MAX_PATH (260 characters; folders are made only up to twelve fewer), so a path that long
// goes in the long form: made whole ("." and ".." resolved) with "\" only, behind "\\?\"
// ("\\?\UNC\" for a share), which the system then takes as it stands. A shorter path, one
// already in that form or one that cannot be made whole stays as it is. On POSIX every path
// is taken as it is.
// (A template, so that the system's branch is the only one compiled.)
template <typename Path = std::filesystem::path> Path LongSystemPath(const Path &path)
{
    if constexpr (std::is_same_v<typename Path::value_type, wchar_t>) {
        constexpr size_t kLongFrom = 260 - 12;
        const std::wstring &text = path.native();
        if (text.size() < kLongFrom || text.starts_with(L"\\\\?\\"))
            return path;
        std::wstring full = text;
        std::replace(full.begin(), full.end(), L'/', L'\\');
        // A share's path is whole already (and absolute would take it for a folder of the
        // current drive).
        const bool share = full.starts_with(L"\\\\");
        std::error_code error;
        // absolute keeps an absolute path as it is: the long form takes no "." or "..".
        full = share ? L"\\\\" + Path(full.substr(2)).lexically_normal().native()
                     : std::filesystem::absolute(Path(full), error).lexically_normal().native();
        if (error || full.empty())
            return path;
        std::replace(full.begin(), full.end(), L'/', L'\\');
        if (share)
            return Path(L"\\\\?\\UNC\\" + full.substr(2));
        return Path(L"\\\\?\\" + full);
    } else {
        return path;
    }
}

// NativePath in the form the system takes at any length (LongSystemPath).
inline std::filesystem::path LongNativePath(const std::string &utf8)
{
    return LongSystemPath(NativePath(utf8));
}

// The UTF-8 text of a path (on POSIX: its bytes).
inline std::string PathText(const std::filesystem::path &path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace offline_upgrade
