// Path names on POSIX: "/" alone separates, and every other byte but zero may be in a name.

#include "platform/path_rules.h"

namespace offline_upgrade {

std::string PathPartProblem(std::string_view part)
{
    if (part.empty())
        return "an empty name";
    if (part == "." || part == "..")
        return "the name \"" + std::string(part) + "\"";
    if (part.find('/') != std::string_view::npos)
        return "a separator within a name";
    if (part.find('\0') != std::string_view::npos)
        return "a zero byte within a name";
    return {};
}

} // namespace offline_upgrade
