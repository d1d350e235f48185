#pragma once
// For the few system calls that take no path past MAX_PATH even in the long form: starting a
// program (the program's own path) and the INI functions. A program folder deeper than that
// reaches them through the short (8.3) names of its folders.

#include <string>

namespace offline_upgrade {

// path itself when it is shorter than MAX_PATH; else its folder in the short form the volume
// keeps for it, then its own name as it is (so a started program keeps its image name), when
// that is shorter; else path itself, and the call then fails with the system's own reason (a
// volume that keeps no short names, as NTFS may be set to).
std::wstring WithinMaxPath(const std::wstring &path);

} // namespace offline_upgrade
