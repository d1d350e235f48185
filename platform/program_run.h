#pragma once
// Running a helper program to its end and keeping what it says, for command-line tools that
// need the archiver's verdict and messages (the window's runs start it without waiting, see
// process.h).

#include <optional>
#include <string>
#include <vector>

namespace offline_upgrade {

struct ProgramOutcome {
    bool Started = false;        // false: the program could not be started
    std::optional<int> ExitCode; // nothing when it did not end normally (a signal)
    std::string Messages;        // what it wrote to standard output and standard error
};

// Runs arguments[0] (a path, not looked up in PATH) with the given arguments, in workingFolder
// (empty: the current one), standard input on the null device, and waits for it to end. Never
// throws beyond std::bad_alloc.
ProgramOutcome RunProgramToEnd(const std::vector<std::string> &arguments,
                               const std::string &workingFolder = {});

} // namespace offline_upgrade
