// Replaces the hidden-window start, the process snapshot, Sleep and the ending of a hung
// archiver of Windows. Leaves out what the tool never asks for: waiting on a handle, time
// limits.
#include "platform/posix/process_posix.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace offline_upgrade {

namespace {

// The kernel keeps a process's short name in 16 bytes with the closing zero.
constexpr size_t kShortNameBytes = 15;
constexpr std::string_view kDeletedSuffix = " (deleted)";

bool IsArgumentBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The program name ends at any control character or blank, unlike the other arguments.
bool EndsProgramName(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u >= 1 && u <= 32;
}

std::string_view FileNameOf(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Reads up to size bytes of a /proc file below dirFd; -1 when it cannot be read.
ssize_t ReadProcFile(int dirFd, const char *path, char *buffer, size_t size)
{
    const UniqueFd fd(openat(dirFd, path, O_RDONLY | O_CLOEXEC));
    if (!fd)
        return -1;
    ssize_t got;
    do {
        got = read(fd.get(), buffer, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

// True when the process has ended but is not reaped yet (or is being removed). A process
// whose state cannot be read any more has gone as well.
bool HasEnded(int procFd, const std::string &pid)
{
    char stat[512];
    const ssize_t got = ReadProcFile(procFd, (pid + "/stat").c_str(), stat, sizeof stat);
    if (got <= 0)
        return true;
    // "PID (NAME) S ...": the name may hold blanks and parentheses, so look for the last ')'.
    const std::string_view text(stat, static_cast<size_t>(got));
    const size_t close = text.rfind(')');
    if (close == std::string_view::npos || close + 2 >= text.size())
        return true;
    const char state = text[close + 2];
    return state == 'Z' || state == 'X' || state == 'x';
}

// The stand-in for the image name where /proc/PID/exe cannot be read.
bool ShortNameMatches(int procFd, const std::string &pid, const std::string &wanted)
{
    char comm[64];
    ssize_t got = ReadProcFile(procFd, (pid + "/comm").c_str(), comm, sizeof comm);
    if (got <= 0)
        return false;
    if (comm[got - 1] == '\n')
        --got;
    const std::string_view shortName(comm, static_cast<size_t>(got));
    // A short name below the limit is whole; one at the limit may have been cut.
    if (wanted.size() < kShortNameBytes)
        return shortName == wanted;
    if (shortName != std::string_view(wanted).substr(0, kShortNameBytes))
        return false;
    // argv[0] tells whether the name goes on.
    char cmdline[PATH_MAX + 1];
    got = ReadProcFile(procFd, (pid + "/cmdline").c_str(), cmdline, sizeof cmdline - 1);
    if (got <= 0)
        return false;
    cmdline[got] = '\0';
    return FileNameOf(cmdline) == wanted;
}

enum class ExeLink {
    Read,   // the program file's name was read
    Hidden, // the process is there, but not open to this user
    None,   // no program file: a kernel thread, or a process that has finished
};

// Reads the file name of the program a process runs from its /proc/PID/exe link below dirFd.
ExeLink ReadImageName(int dirFd, const std::string &exeLink, std::string &name)
{
    char link[PATH_MAX];
    const ssize_t got = readlinkat(dirFd, exeLink.c_str(), link, sizeof link);
    if (got < 0)
        return errno == ENOENT ? ExeLink::None : ExeLink::Hidden;
    std::string_view target(link, static_cast<size_t>(got));
    if (target.ends_with(kDeletedSuffix))
        target.remove_suffix(kDeletedSuffix.size());
    name = FileNameOf(target);
    return ExeLink::Read;
}

// Through the system call itself: the C library's declaration of it is not fit for C++ here.
int OpenPidFd(pid_t pid)
{
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0U));
}

bool IsProcessId(const char *name)
{
    if (*name == '\0')
        return false;
    for (; *name; ++name) {
        if (*name < '0' || *name > '9')
            return false;
    }
    return true;
}

// Owners of the two posix_spawn descriptions, destroyed on every path.
struct SpawnActions {
    posix_spawn_file_actions_t Value;
    bool Ok = posix_spawn_file_actions_init(&Value) == 0;
    ~SpawnActions()
    {
        if (Ok)
            posix_spawn_file_actions_destroy(&Value);
    }
};

struct SpawnAttributes {
    posix_spawnattr_t Value;
    bool Ok = posix_spawnattr_init(&Value) == 0;
    ~SpawnAttributes()
    {
        if (Ok)
            posix_spawnattr_destroy(&Value);
    }
};

// errorFd: where standard error goes, or -1 for the null device.
bool PrepareActions(SpawnActions &actions, int errorFd)
{
    if (!actions.Ok)
        return false;
    posix_spawn_file_actions_t *fa = &actions.Value;
    // No input to read, nowhere to write but the errors, which the log keeps. No other
    // descriptor of the tool reaches the child.
    const bool errorsKept = errorFd >= 0;
    return posix_spawn_file_actions_addopen(fa, 0, "/dev/null", O_RDONLY, 0) == 0 &&
           posix_spawn_file_actions_addopen(fa, 1, "/dev/null", O_WRONLY, 0) == 0 &&
           (errorsKept ? posix_spawn_file_actions_adddup2(fa, errorFd, 2)
                       : posix_spawn_file_actions_addopen(fa, 2, "/dev/null", O_WRONLY, 0)) == 0 &&
           posix_spawn_file_actions_addclosefrom_np(fa, 3) == 0;
}

bool PrepareAttributes(SpawnAttributes &attributes)
{
    if (!attributes.Ok)
        return false;
    posix_spawnattr_t *attr = &attributes.Value;
    // A session of its own: no terminal, and no signal the user sends to the tool's terminal
    // stops the archiver halfway. Signal handling starts afresh, as for any new program.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    return posix_spawnattr_setflags(attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETSIGDEF) == 0 &&
           posix_spawnattr_setsigmask(attr, &none) == 0 &&
           posix_spawnattr_setsigdefault(attr, &all) == 0;
}

} // namespace

std::vector<std::string> SplitWindowsCommandLine(const std::string &commandLine)
{
    std::vector<std::string> arguments;
    const std::string &s = commandLine;
    const size_t n = s.size();
    if (n == 0)
        return arguments;

    size_t i = 0;
    std::string program;
    if (s[0] == '"') {
        // Up to the next double quote; backslashes before one escape it as in the arguments.
        size_t backslashes = 0;
        for (i = 1; i < n; ++i) {
            if (s[i] == '\\') {
                ++backslashes;
                continue;
            }
            if (s[i] == '"') {
                program.append(backslashes / 2, '\\');
                const bool escaped = backslashes % 2 == 1;
                backslashes = 0;
                if (!escaped)
                    break;
                program += '"';
                continue;
            }
            program.append(backslashes, '\\');
            backslashes = 0;
            program += s[i];
        }
        program.append(backslashes, '\\');
        if (i < n)
            ++i;
    } else {
        for (; i < n && !EndsProgramName(s[i]); ++i)
            program += s[i];
    }
    arguments.push_back(program);

    for (;;) {
        while (i < n && IsArgumentBlank(s[i]))
            ++i;
        if (i >= n)
            break;
        std::string argument;
        bool quoted = false;
        size_t backslashes = 0;
        for (; i < n; ++i) {
            const char c = s[i];
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            if (c == '"') {
                argument.append(backslashes / 2, '\\');
                const bool escaped = backslashes % 2 == 1;
                backslashes = 0;
                if (escaped) {
                    argument += '"';
                } else if (quoted && i + 1 < n && s[i + 1] == '"') {
                    argument += '"';
                    quoted = false;
                    ++i;
                } else {
                    quoted = !quoted;
                }
                continue;
            }
            argument.append(backslashes, '\\');
            backslashes = 0;
            if (!quoted && IsArgumentBlank(c))
                break;
            argument += c;
        }
        argument.append(backslashes, '\\');
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

PosixProcesses::~PosixProcesses()
{
    ReapEnded();
}

bool PosixProcesses::ReapEnded()
{
    bool reaped = false;
    for (auto it = children_.begin(); it != children_.end();) {
        int status = 0;
        const pid_t got = waitpid(it->Pid(), &status, WNOHANG);
        if (got == 0 || (got < 0 && errno == EINTR)) {
            ++it;
            continue;
        }
        // Reaped now, or (ECHILD) already taken by someone else, its status lost.
        if (it->Pid() == lastPid_) {
            lastEnded_ = true;
            if (got > 0 && WIFEXITED(status))
                lastExitCode_ = WEXITSTATUS(status);
        }
        it = children_.erase(it);
        reaped = true;
    }
    return reaped;
}

bool PosixProcesses::Start(const std::string &commandLine)
{
    ReapEnded();
    lastPid_ = 0;
    lastEnded_ = false;
    lastExitCode_.reset();
    lastErrorFd_.reset();

    const std::vector<std::string> arguments = SplitWindowsCommandLine(commandLine);
    if (arguments.empty() || arguments[0].empty())
        return false;
    std::vector<char *> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);

    // A file, not a pipe: the child never blocks on a full pipe nobody reads, and what it
    // wrote is still there after it ended. Where memfds are refused, errors are dropped.
    UniqueFd errors(static_cast<int>(syscall(SYS_memfd_create, "kx-stderr", 1U)));
    SpawnActions actions;
    SpawnAttributes attributes;
    if (!PrepareActions(actions, errors.get()) || !PrepareAttributes(attributes))
        return false;
    // glibc's posix_spawn returns only once the new program runs, and reports a failed exec
    // (missing, not executable, no valid program) as its result, never as a child that exits
    // with 127. No search along PATH: the archiver is always named with its folder.
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions.Value, &attributes.Value, argv.data(), environ) != 0)
        return false;

    // Kept for the last steps of its exit, when the kernel no longer shows its program file.
    std::string imageName;
    if (ReadImageName(AT_FDCWD, "/proc/" + std::to_string(pid) + "/exe", imageName) !=
        ExeLink::Read)
        imageName = FileNameOf(arguments[0]);
    // The descriptor closes on exec, so no later child inherits it.
    children_.emplace_back(pid, OpenPidFd(pid), std::move(imageName));
    lastPid_ = pid;
    lastErrorFd_ = std::move(errors);
    return true;
}

bool PosixProcesses::IsProcessRunning(const std::string &imageName)
{
    ReapEnded();
    const UniqueFd procFd(open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!procFd)
        return false;
    // The processes this object started come first: while the archiver it started runs, the
    // answer is there without walking the whole list.
    for (const Child &child : children_) {
        if (IsRunningAs(procFd.get(), std::to_string(child.Pid()), imageName))
            return true;
    }
    // The listing gets a descriptor of its own; procFd stays for the lookups below it.
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(
        fdopendir(openat(procFd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)), closedir);
    if (!dir)
        return false;
    while (const dirent *entry = readdir(dir.get())) {
        if (IsProcessId(entry->d_name) && IsRunningAs(procFd.get(), entry->d_name, imageName))
            return true;
    }
    return false;
}

bool PosixProcesses::IsRunningAs(int procFd, const std::string &pid,
                                 const std::string &imageName) const
{
    std::string name;
    bool named = false;
    switch (ReadImageName(procFd, pid + "/exe", name)) {
    case ExeLink::Read:
        named = name == imageName;
        break;
    case ExeLink::Hidden:
        named = ShortNameMatches(procFd, pid, imageName);
        break;
    case ExeLink::None:
        // Most of these are kernel threads, never worth a look. A process this object started
        // still counts in its last steps, until it can be reaped, so that its exit status is
        // there once a wait ends.
        named = IsStartedAs(static_cast<pid_t>(std::stol(pid)), imageName);
        break;
    }
    // Only a match pays for reading the state.
    return named && !HasEnded(procFd, pid);
}

bool PosixProcesses::IsStartedAs(pid_t pid, const std::string &imageName) const
{
    for (const Child &child : children_) {
        if (child.Pid() == pid)
            return child.ImageName() == imageName;
    }
    return false;
}

void PosixProcesses::Sleep(int milliseconds)
{
    // One that ended since the last look is reason enough to wake.
    if (ReapEnded() || milliseconds <= 0)
        return;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);

    std::vector<pollfd> watched;
    for (const Child &child : children_) {
        if (child.PidFd() >= 0)
            watched.push_back({child.PidFd(), POLLIN, 0});
    }
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return;
        const int ready = poll(watched.data(), watched.size(), static_cast<int>(left));
        if (ready < 0 && errno != EINTR)
            return;
        if (ready <= 0)
            continue;
        if (ReapEnded())
            return;
        // Readable, yet nothing to reap: stop watching those, so the sleep does not spin.
        for (pollfd &p : watched) {
            if (p.revents != 0)
                p.fd = -1;
        }
    }
}

std::optional<int> PosixProcesses::LastExitCode()
{
    ReapEnded();
    return lastExitCode_;
}

std::string PosixProcesses::LastErrorOutput()
{
    if (lastPid_ == 0 || !lastErrorFd_)
        return {};
    struct stat st;
    if (fstat(lastErrorFd_.get(), &st) != 0 || st.st_size <= 0)
        return {};
    // The end: a program's last words say why it stopped.
    const auto size = static_cast<size_t>(st.st_size);
    const size_t keep = std::min(size, kErrorOutputLimit);
    std::string text(keep, '\0');
    const ssize_t got =
        pread(lastErrorFd_.get(), text.data(), keep, static_cast<off_t>(size - keep));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

bool PosixProcesses::LastHasEnded()
{
    ReapEnded();
    return lastEnded_;
}

bool PosixProcesses::EndLast()
{
    ReapEnded();
    if (lastPid_ == 0)
        return false;
    if (lastEnded_)
        return true;
    // Not reaped yet, so the id still names this object's child and no other process.
    if (kill(lastPid_, SIGKILL) != 0 && errno != ESRCH)
        return false;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    while (!lastEnded_ && Clock::now() < deadline) {
        Sleep(10);
        ReapEnded();
    }
    return lastEnded_;
}

} // namespace offline_upgrade
