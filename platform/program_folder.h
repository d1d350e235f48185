#pragma once

#include <string>

namespace offline_upgrade {

// The folder of the running program file, with a trailing separator. Throws KxError when it
// cannot be found.
std::string GetProgramFolder();

} // namespace offline_upgrade
