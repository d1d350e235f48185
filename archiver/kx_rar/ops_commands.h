#pragma once
// The commands x and a, run from the arguments after the program's name.

#include <string>
#include <vector>

namespace kx_rar {

// Runs the x or a command and returns the exit code; messages go to stderr.
int RunOpsCommandLine(const std::vector<std::string> &args);

} // namespace kx_rar
