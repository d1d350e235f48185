// Path names on Windows: "/" and "\" both separate, and Windows reads some names as something
// else than one file of that name (streams, devices, names it trims).

#include "platform/path_rules.h"

#include "platform/text.h"

#include <string>

namespace offline_upgrade {

namespace {

bool IsDeviceName(std::string_view part)
{
    // The device is found whatever follows its name after a dot, and blanks before the dot.
    std::string_view stem = part.substr(0, part.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.remove_suffix(1);
    for (const char *device : {"CON", "PRN", "AUX", "NUL"}) {
        if (EqualsIgnoreAsciiCase(stem, device))
            return true;
    }
    if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9')
        return EqualsIgnoreAsciiCase(stem.substr(0, 3), "COM") ||
               EqualsIgnoreAsciiCase(stem.substr(0, 3), "LPT");
    return false;
}

} // namespace

std::string PathPartProblem(std::string_view part)
{
    if (part.empty())
        return "an empty name";
    if (part == "." || part == "..")
        return "the name \"" + std::string(part) + "\"";
    for (char c : part) {
        if (IsPathSeparator(c))
            return "a separator within a name";
        if (c == ':')
            return "a \":\" (a stream or a drive) within a name";
        if (static_cast<unsigned char>(c) < 0x20 ||
            std::string_view("<>\"|?*").find(c) != std::string_view::npos)
            return "a character Windows does not allow in a name";
    }
    if (part.back() == '.' || part.back() == ' ')
        return "a name ending in \".\" or a blank, which Windows drops";
    if (IsDeviceName(part))
        return "the device name \"" + std::string(part) + "\"";
    return {};
}

} // namespace offline_upgrade
