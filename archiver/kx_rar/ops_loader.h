#pragma once

namespace kx_rar {

// Loads the module with the commands x and a (see ops_module.h) and runs one of them.

// The module's image is part of KX_Rar.exe; it is copied into an anonymous memory file and
// loaded from there, never looked up by name in the current folder or the library path.
// Returns the command's exit code. Throws RarError with ExitCode::Fatal when the module
// cannot be loaded.
int RunOpsCommand(int argc, char **argv);

} // namespace kx_rar
