// Windows separates names by "\" and "/" alike and writes "\"; roots are drives ("C:\",
// "C:"), shares ("\\server\share\") and the current drive's root ("\").
#include "platform/path_text.h"

namespace offline_upgrade {

bool IsPathSeparator(char c)
{
    return c == '\\' || c == '/';
}

char PathSeparator()
{
    return '\\';
}

size_t PathRootLength(const std::string &path)
{
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (path.size() >= 2 && letter(path[0]) && path[1] == ':')
        return path.size() >= 3 && IsPathSeparator(path[2]) ? 3 : 2;
    if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
        // "\\server\share\", also "\\?\C:\" for the long form.
        size_t at = 2;
        for (int names = 0; names < 2 && at < path.size(); ++names) {
            while (at < path.size() && !IsPathSeparator(path[at]))
                ++at;
            if (at < path.size())
                ++at;
        }
        if (path.size() >= 4 && path[2] == '?' && IsPathSeparator(path[3])) {
            const std::string rest = path.substr(4);
            return 4 + PathRootLength(rest);
        }
        return at;
    }
    return !path.empty() && IsPathSeparator(path[0]) ? 1 : 0;
}

} // namespace offline_upgrade
