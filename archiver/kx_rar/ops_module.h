#pragma once
// On POSIX the commands that need the archive libraries, x and a, live in a module of their
// own, so that the comment command starts without loading those libraries (the Windows
// program links them in: win/main_win.cpp). The module is built into
// KX_Rar.exe itself (see ops_loader.h), which stays a single file to copy. Only plain C
// crosses between the two: no exception or library object passes the boundary.

// The one function the module exports.
#define KX_RAR_OPS_ENTRY "KxRarRunOps"

namespace kx_rar {

// Runs the x or a command given by the program's arguments after its name (argc, argv as
// main gets them) and returns the exit code; messages go to stderr.
using KxRarRunOpsFunction = int(int argc, char **argv);

} // namespace kx_rar
