#pragma once
// The program's start, shared by both systems: the comment command here, the commands x and a
// through runOps (from the module on POSIX, linked in on Windows).

#include <functional>
#include <string>
#include <vector>

namespace kx_rar {

// args: the arguments after the program's name, UTF-8. Returns the exit code.
int KxRarMain(const std::vector<std::string> &args, const std::function<int()> &runOps);

} // namespace kx_rar
