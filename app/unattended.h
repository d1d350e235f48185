#pragma once
// Start-up of the program when it is given arguments: --help, a refused command line, or the
// unattended run. No Qt application is made on these paths, so they need no display.

#include "app/form/command_line.h"

#include <string>
#include <vector>

// The arguments after the program name, byte for byte.
std::vector<std::string> ProgramArguments(int argc, char *argv[]);

// Runs a command line whose mode is not the window: prints the usage (--help, on standard
// output; a refused command line, on standard error with the reason), or performs the
// unattended run in the program folder under its lock. Returns the process's exit code.
int RunWithoutWindow(const CommandLine &line);
