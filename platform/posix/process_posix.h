#pragma once
// Processes on Linux: posix_spawn in a session of its own stands in for a start with a hidden
// window, /proc for the process snapshot, a memfd for the pipe that keeps standard error. Needs
// /proc; pidfds (Linux 5.3) only make Sleep wake early and are done without where the kernel
// refuses them.

#include "platform/posix/unique_fd.h"
#include "platform/process.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace offline_upgrade {

// Splits a command line into its arguments by the rules Windows uses for it:
// - The first argument, the program, ends at the next double quote when it begins with one,
//   otherwise at the first control character or blank. Where Windows takes every backslash
//   of a quoted program name as it is, here backslashes before a double quote escape it as in
//   the other arguments, so that a program folder holding a double quote (possible on POSIX)
//   can be named; no Windows program path has a backslash before its closing quote, so their
//   lines split the same.
// - Further arguments are separated by blanks and tabs outside double quotes. A double quote
//   opens or closes a quoted part; two double quotes inside a quoted part give one double
//   quote and close it.
// - 2n backslashes before a double quote give n backslashes and the quote works as above;
//   2n+1 backslashes before it give n backslashes and a literal double quote; backslashes
//   elsewhere stand for themselves.
// An empty command line gives no argument at all.
std::vector<std::string> SplitWindowsCommandLine(const std::string &commandLine);

// The image name of a process is the file name of the program file it runs: the last part of
// /proc/PID/exe, without the " (deleted)" the kernel adds when that file was removed or
// replaced since. Where that link is closed to this user (another user's process), the
// kernel's short name stands in: it is cut to 15 bytes, so for a wanted name of 15 bytes or
// more the file name of the process's argv[0] must match as well. A process without a
// program file (a kernel thread, or one that has finished its work and is in its last steps)
// does not count, except one this object started, which counts until it can be reaped.
// Zombies never count.
//
// Only the processes this object started are reaped, each by its own id, so children of the
// rest of the program are never taken from it. Started processes that still run when the
// object goes are left to finish their work; the system adopts them when the program ends.
class PosixProcesses : public IProcesses {
public:
    PosixProcesses() = default;
    ~PosixProcesses() override;
    PosixProcesses(const PosixProcesses &) = delete;
    PosixProcesses &operator=(const PosixProcesses &) = delete;

    bool Start(const std::string &commandLine) override;
    bool IsProcessRunning(const std::string &imageName) override;
    void Sleep(int milliseconds) override;
    std::optional<int> LastExitCode() override;
    bool LastHasEnded() override;
    // Standard error goes to an anonymous memory file (memfd) that lives until the next Start.
    std::string LastErrorOutput() override;
    // SIGKILL to the started process only (not its session), then up to a second for it to
    // be reaped.
    bool EndLast() override;

private:
    // One started process not yet reaped, with the pidfd that wakes Sleep when it ends.
    class Child {
    public:
        Child(pid_t pid, int pidFd, std::string imageName)
            : pid_(pid), pidFd_(pidFd), imageName_(std::move(imageName))
        {
        }
        pid_t Pid() const { return pid_; }
        int PidFd() const { return pidFd_.get(); } // -1 where the kernel gives none
        const std::string &ImageName() const { return imageName_; }

    private:
        pid_t pid_;
        UniqueFd pidFd_;
        std::string imageName_;
    };

    // Reaps every started process that has ended; true when at least one was reaped.
    bool ReapEnded();
    // True when the process pid (below the /proc descriptor procFd) runs under imageName.
    bool IsRunningAs(int procFd, const std::string &pid, const std::string &imageName) const;
    // True when pid is a process this object started, not yet reaped, under this image name.
    bool IsStartedAs(pid_t pid, const std::string &imageName) const;

    std::vector<Child> children_;
    pid_t lastPid_ = 0; // 0: the last Start failed or none was made
    bool lastEnded_ = false;
    std::optional<int> lastExitCode_;
    UniqueFd lastErrorFd_; // the memory file the last started process writes its errors to
};

} // namespace offline_upgrade
