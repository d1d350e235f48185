// POSIX separates names by "/" alone; every other byte, "\" too, belongs to a name.
#include "platform/path_text.h"

namespace offline_upgrade {

bool IsPathSeparator(char c)
{
    return c == '/';
}

char PathSeparator()
{
    return '/';
}

size_t PathRootLength(const std::string &path)
{
    return !path.empty() && path[0] == '/' ? 1 : 0;
}

} // namespace offline_upgrade
