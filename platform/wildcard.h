#pragma once

#include <string_view>

namespace offline_upgrade {

// The name matching of a folder listing: "*" any run of bytes, "?" exactly one byte, ASCII
// letters without regard to case, and a trailing ".*" that also matches a name without a dot.
bool MatchesWildcard(std::string_view name, std::string_view pattern);

} // namespace offline_upgrade
