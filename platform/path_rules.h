#pragma once
// How this system splits a path and reads the names in it, for checking paths that the tool
// reads back rather than builds itself. One implementation per system (posix/, win/).

#include "platform/path_text.h" // IsPathSeparator: the system's separator rule

#include <string>
#include <string_view>

namespace offline_upgrade {

// Why part cannot stand for exactly one name within a folder on this system, or empty when it
// can. Never: an empty part, "." and "..", a part holding a separator or a zero byte. On
// Windows also: a ":" (a stream, or a drive), a part ending in "." or a blank (Windows drops
// them, so the part would name another file), control characters, < > " | ? *, and the device
// names (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, in any letter case, also with an extension).
std::string PathPartProblem(std::string_view part);

} // namespace offline_upgrade
