// The Windows wildcard rule, kept apart from either file system so that both list alike.
#include "platform/wildcard.h"

#include "platform/text.h"

namespace offline_upgrade {

namespace {

bool WildcardMatch(std::string_view name, std::string_view pattern)
{
    // Greedy with one backtrack point: on a mismatch the last "*" takes one byte more.
    size_t n = 0;
    size_t p = 0;
    size_t starP = std::string_view::npos;
    size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || FoldAsciiCase(pattern[p]) == FoldAsciiCase(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace

bool MatchesWildcard(std::string_view name, std::string_view pattern)
{
    if (WildcardMatch(name, pattern))
        return true;
    // As on Windows, "x.*" also matches "x", so "*.*" matches every name.
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
        name.find('.') == std::string_view::npos)
        return WildcardMatch(name, pattern.substr(0, pattern.size() - 2));
    return false;
}

} // namespace offline_upgrade
