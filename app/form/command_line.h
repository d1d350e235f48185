#pragma once
// The program's command line: none for the window; "--unattended [--force] [--package FILE]"
// for a run without a window that an administrator's deployment engine drives by exit code;
// "--help". Plain text in, a request out: nothing here touches the system.

#include <string>
#include <vector>

namespace offline_upgrade {

// The exit codes of a run without a window.
enum class ExitCode : int {
    Upgraded = 0,      // the package was applied
    NothingToDo = 1,   // no package fits (or only one of the installed build, without --force)
    UpgradeFailed = 2, // the upgrade failed; the last output line names the step
    CannotStart = 3,   // bad arguments, no program folder, no work folder lock
    FolderBusy = 4,    // another run (window or unattended) holds this program folder
};

struct CommandLine {
    enum class Mode { Window, Unattended, Help, Invalid };
    Mode RunMode = Mode::Window;
    bool Force = false;
    // The package argument as given (relative to the working directory or absolute); empty
    // when none was given.
    std::string PackageFile;
    // Why the arguments are refused, for Invalid.
    std::string Error;
};

// Reads the arguments after the program name. No argument: the window.
CommandLine ParseCommandLine(const std::vector<std::string> &arguments);

// The usage and the exit codes, as --help prints them.
std::string UsageText();

// Shown, by the window in a box and by the unattended run as a line, when another run holds
// the program folder.
inline const char kFolderBusyText[] = "升级程序已在运行！";

} // namespace offline_upgrade
