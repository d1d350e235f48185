#pragma once
// Processes: starting the archiver without a window, looking for running programs by their
// image name, sleeping, and ending the archiver the tool started when it hangs. An implementation
// reaps the processes it started as soon as any of its operations finds them ended, so none lingers
// as a zombie.

#include <cstddef>
#include <optional>
#include <string>

namespace offline_upgrade {

class IProcesses {
public:
    virtual ~IProcesses() = default;

    // Starts a command line, split by the Windows rules for quoting, with no terminal, with
    // standard input and output on the null device and standard error kept for
    // LastErrorOutput (on the null device where it cannot be kept). Does not wait. True when the
    // program was started; false when it cannot be (empty command line, missing file, not
    // executable, no valid program, no resources). Once it returns true, the program already
    // runs under its own image name. A false result forgets the process started before: the
    // two Last* questions then answer for no process at all.
    [[nodiscard]] virtual bool Start(const std::string &commandLine) = 0;

    // True when at least one running process of the system has exactly this image name (the
    // file name of the program it was started from, letter case included). Processes that
    // have ended but are not yet reaped do not count. False when the process list cannot be
    // read.
    [[nodiscard]] virtual bool IsProcessRunning(const std::string &imageName) = 0;

    // Sleeps for the given time (nothing for 0 or less); may return early when a process
    // started by Start ends. Whoever waits checks the process list again after it anyway.
    virtual void Sleep(int milliseconds) = 0;

    // How the process last started by Start ended: its exit code, or nothing while it runs,
    // when it did not end normally (killed by a signal) or when the last Start failed.
    virtual std::optional<int> LastExitCode() = 0;
    // True when the process last started by Start has ended (normally or not); false while it
    // runs and when the last Start failed.
    [[nodiscard]] virtual bool LastHasEnded() = 0;

    // What the process last started by Start has written to its standard error so far, at
    // most its last kErrorOutputLimit bytes; empty when it wrote nothing, when the last Start
    // failed, or when its standard error could not be kept.
    virtual std::string LastErrorOutput() = 0;
    static constexpr size_t kErrorOutputLimit = 4096;

    // Ends the process last started by Start at once, if it still runs (it gets no chance to
    // finish its work: SIGKILL, TerminateProcess), and reaps it. Touches no other process,
    // also none of the same image name. True when that process has ended afterwards (also
    // when it had ended on its own); false when the last Start failed, or when the process
    // has not ended within a short time (it is reaped later, like any other).
    [[nodiscard]] virtual bool EndLast() = 0;
};

} // namespace offline_upgrade
