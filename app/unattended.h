#pragma once
// Start-up of the program when it is given arguments: --help, a refused command line, or the
// unattended run. No Qt application is made on these paths, so they need no display.

#include "app/form/command_line.h"

#include <functional>
#include <string>
#include <vector>

namespace offline_upgrade {

// Prints the usage: for --help on standard output (exit code 0), for a refused command line on
// standard error after the reason (exit code 3). Returns the exit code.
int RunWithoutWindow(const CommandLine &line);

// The unattended run of line in programFolder (a trailing separator), under the program
// folder's lock, with the system's services; the lines go to standard output. The caller has
// installed the log. Returns the exit code.
int RunUnattendedIn(const std::string &programFolder, const CommandLine &line);

// An unattended start that cannot begin (no program folder): the reason on standard error.
// Returns the exit code, 3.
int RefuseUnattendedStart(const std::string &why);

// Runs one start of either face, window or not, on either system, with its upgrade log. The
// log is opened first, so that every service's start is in it. A log that cannot be written
// anywhere drops its lines and changes nothing else. Returns what run returns.
int WithUpgradeLog(const std::string &programFolder, const std::string &version,
                   const std::function<int()> &run);

} // namespace offline_upgrade
