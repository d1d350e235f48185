#pragma once
// The logic's paths are UTF-8 byte strings. std::filesystem on Windows would read a narrow
// string in the ANSI code page, so paths go through these two on their way in and out.

#include <filesystem>
#include <string>

// The path named by UTF-8 text (on POSIX: by these bytes).
inline std::filesystem::path NativePath(const std::string &utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The UTF-8 text of a path (on POSIX: its bytes).
inline std::string PathText(const std::filesystem::path &path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}
