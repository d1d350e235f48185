#pragma once
// Processes: starting the archiver without a window, looking for running programs by their
// image name, and sleeping.

#include <optional>
#include <string>

class IProcesses {
public:
    virtual ~IProcesses() = default;

    // Starts a command line, split by the Windows rules for quoting, with no terminal and with
    // standard input, output and error on the null device. Does not wait. True when the
    // program was started; false when it cannot be (missing file, not executable).
    virtual bool Start(const std::string &commandLine) = 0;

    // True when at least one running process of the system has exactly this image name (the
    // file name of the program it was started from, letter case included). Processes that
    // have ended but are not yet reaped do not count. False when the process list cannot be
    // read.
    virtual bool IsProcessRunning(const std::string &imageName) = 0;

    // Sleeps for the given time; may return early when a process started by Start ends.
    // Reaps every process started by Start that has ended.
    virtual void Sleep(int milliseconds) = 0;

    // How the process last started by Start ended: its exit code, or nothing while it runs or
    // when it did not end normally (killed by a signal).
    virtual std::optional<int> LastExitCode() = 0;
    // True when the process last started by Start has ended (normally or not).
    virtual bool LastHasEnded() = 0;
};
