#pragma once
// Processes on Windows: CreateProcessW with the command line as it is, hidden and without any
// console (DETACHED_PROCESS: no console host is started for a console program, which would
// keep our own standard handles open), its standard handles on NUL and the only handles it
// inherits; a Toolhelp snapshot for the process list, matched by the exact image name; the
// started process's handle for the early wake (while it runs) and its exit code.

#include "platform/process.h"
#include "platform/win/unique_handle.h"

#include <optional>
#include <string>
#include <vector>

namespace offline_upgrade {

// Splits a command line as the started program will see it: CommandLineToArgvW, the system's
// own rule. An empty command line gives no argument at all.
std::vector<std::string> SplitWindowsCommandLine(const std::string &commandLine);

class WinProcesses : public IProcesses {
public:
    WinProcesses() = default;
    ~WinProcesses() override;
    WinProcesses(const WinProcesses &) = delete;
    WinProcesses &operator=(const WinProcesses &) = delete;

    bool Start(const std::string &commandLine) override;
    bool IsProcessRunning(const std::string &imageName) override;
    void Sleep(int milliseconds) override;
    std::optional<int> LastExitCode() override;
    bool LastHasEnded() override;
    // Standard error goes to a temporary file (deleted once closed), read here from its end.
    std::string LastErrorOutput() override;
    // TerminateProcess on the started process's handle, then up to a second for it to end.
    bool EndLast() override;

private:
    void Forget();

    UniqueKernelHandle last_; // the process last started, while Start succeeded
    UniqueFileHandle errors_; // our own reading handle of its standard error file
    bool ended_ = false;      // EndLast ended it: no exit code of its own
};

} // namespace offline_upgrade
