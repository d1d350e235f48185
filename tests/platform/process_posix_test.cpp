#include "platform/posix/process_posix.h"

#include "archiver/archiver_commands.h"
#include "archiver/archiver_wait.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace offline_upgrade {

namespace fs = std::filesystem;

namespace {

// Set when this binary runs as the program of a start test: it then writes what it was given
// into the file the variable names and ends, before any test runs. argv[1] names a descriptor
// that must not have been handed on.
constexpr const char *kReportVariable = "KX_PROCESS_TEST_REPORT";

std::string ReportStart(int argc, char **argv)
{
    std::string report;
    for (int i = 2; i < argc; ++i)
        report += "[" + std::string(argv[i]) + "]\n";
    for (int fd = 0; fd < 3; ++fd) {
        std::error_code ec;
        report += fs::read_symlink("/proc/self/fd/" + std::to_string(fd), ec).string() + "\n";
    }
    report += argc > 1 && fcntl(std::atoi(argv[1]), F_GETFD) >= 0 ? "leaked\n" : "closed\n";
    report += getsid(0) == getpid() ? "leader\n" : "no leader\n";
    const int tty = open("/dev/tty", O_RDONLY);
    report += tty < 0 ? "no terminal\n" : "terminal\n";
    sigset_t blocked;
    sigprocmask(SIG_SETMASK, nullptr, &blocked);
    report += sigisemptyset(&blocked) ? "nothing blocked\n" : "blocked\n";
    return report;
}

// Runs before the test framework starts, from the program's own arguments.
const bool kReported = [] {
    const char *out = std::getenv(kReportVariable);
    if (!out)
        return false;
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    std::vector<std::string> arguments;
    for (std::string argument; std::getline(cmdline, argument, '\0');)
        arguments.push_back(argument);
    std::vector<char *> argv;
    argv.reserve(arguments.size());
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    std::ofstream(out, std::ios::binary) << ReportStart(static_cast<int>(argv.size()), argv.data());
    _exit(0);
}();

struct SplitCase {
    const char *line;
    std::vector<std::string> arguments;
};

TEST(SplitWindowsCommandLine, FollowsTheWindowsQuotingRules)
{
    const SplitCase cases[] = {
        {R"("/a b/KX_Rar.exe" cw -y "/a b/p q.zip" "/a b/TempUpdate/Update.ini")",
         {"/a b/KX_Rar.exe", "cw", "-y", "/a b/p q.zip", "/a b/TempUpdate/Update.ini"}},
        // The program name: up to the next quote, backslashes as they are.
        {R"("C:\Program Files\KX_Rar.exe" x)", {R"(C:\Program Files\KX_Rar.exe)", "x"}},
        // Backslashes before a quote escape it here too (Windows keeps them as they are), so a
        // program folder may hold a double quote.
        {R"("a\"b c)", {R"(a"b c)"}},
        {R"("/a\"b/KX_Rar.exe" x)", {R"(/a"b/KX_Rar.exe)", "x"}},
        {R"("/a\\\"b\\\\" x)", {R"(/a\"b\\)", "x"}},
        {R"("C:\dir\x.exe" x)", {R"(C:\dir\x.exe)", "x"}},
        {"prog\tx", {"prog", "x"}},
        {"\"unclosed name", {"unclosed name"}},
        // Backslashes and quotes in the other arguments.
        {R"(p a\\\b d"e f"g h)", {"p", R"(a\\\b)", "de fg", "h"}},
        {R"(p a\\\"b c d)", {"p", R"(a\"b)", "c", "d"}},
        {R"(p a\\\\"b c" d e)", {"p", R"(a\\b c)", "d", "e"}},
        {R"(p "a\\")", {"p", R"(a\)"}},
        {R"(p a\)", {"p", R"(a\)"}},
        // Two quotes inside a quoted part give one and close it; outside they give nothing.
        {R"(p a"b"" c d)", {"p", R"(ab")", "c", "d"}},
        {R"(p """a b""")", {"p", R"("a)", R"(b")"}},
        {R"(p "" x)", {"p", "", "x"}},
        {R"(p "a b)", {"p", "a b"}},
        {"p  \t a \t ", {"p", "a"}},
        {"", {}},
        {"  x", {"", "x"}},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(SplitWindowsCommandLine(cases[i].line), cases[i].arguments) << "case " << i;
}

std::string Quoted(const std::string &path)
{
    return "\"" + path + "\"";
}

// Real processes. Programs named like the archiver are copies of sleep(1). Processes started
// around the object under test are killed and reaped when a test ends; those the object starts
// end by themselves.
class PosixProcessesTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (pid_t pid : launched_) {
            kill(pid, SIGKILL);
            // The object must not have reaped what it did not start.
            EXPECT_EQ(waitpid(pid, nullptr, 0), pid);
        }
    }

    // A copy of sleep(1) under the given file name in the test's folder.
    std::string InstallSleeper(const std::string &name, const fs::path &subfolder = {})
    {
        const fs::path dest = folder_.Path() / subfolder / name;
        fs::create_directories(dest.parent_path());
        fs::copy_file("/usr/bin/sleep", dest, fs::copy_options::overwrite_existing);
        fs::permissions(dest, fs::perms(0755));
        return dest.string();
    }

    // Starts a program as some other tool would: not through the object under test.
    pid_t Launch(const std::string &path, const std::string &argument = "1000")
    {
        char *argv[] = {const_cast<char *>(path.c_str()), const_cast<char *>(argument.c_str()),
                        nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0)
            ADD_FAILURE() << "cannot start " << path;
        else
            launched_.push_back(pid);
        return pid;
    }

    // Waits for the end of the process the object started last.
    static void AwaitLast(PosixProcesses &processes)
    {
        for (int i = 0; i < 3000 && !processes.LastHasEnded(); ++i)
            processes.Sleep(10);
        ASSERT_TRUE(processes.LastHasEnded());
    }

    // A name no other test or program on the machine uses; at most 15 bytes.
    static std::string UniqueShortName(const char *prefix)
    {
        return prefix + std::to_string(getpid()) + ".e";
    }

    TempFolder folder_;
    std::vector<pid_t> launched_;
};

TEST_F(PosixProcessesTest, StartFailsWhenTheProgramCannotRun)
{
    const std::string missing = (folder_.Path() / "KX_Rar.exe").string();
    const std::string notExecutable = InstallSleeper("plain.exe");
    fs::permissions(notExecutable, fs::perms(0644));
    const std::string text = folder_.Write("text.exe", "no program here\n").string();
    fs::permissions(text, fs::perms(0755));
    const std::string lines[] = {
        Quoted(missing) + " 0",
        Quoted(notExecutable) + " 0",
        Quoted(folder_.Path().string()) + " 0",
        Quoted(text) + " 0",
        "",
        "   ",
        "\"\" 0",
    };
    for (size_t i = 0; i < std::size(lines); ++i) {
        PosixProcesses processes;
        EXPECT_FALSE(processes.Start(lines[i])) << "case " << i;
        EXPECT_FALSE(processes.LastHasEnded()) << "case " << i;
        EXPECT_FALSE(processes.LastExitCode().has_value()) << "case " << i;
    }
    // Nothing was started, so nothing can be left to reap.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

TEST_F(PosixProcessesTest, KeepsTheExitCodeOfTheLastStartAndReapsEveryOne)
{
    PosixProcesses processes;
    ASSERT_TRUE(processes.Start(R"("/bin/sh" -c "exit 3")"));
    ASSERT_TRUE(processes.Start(R"("/bin/sh" -c "sleep 0.05; exit 7")"));
    AwaitLast(processes);
    EXPECT_EQ(processes.LastExitCode(), 7);
    // Both are reaped: the test process is left without children. Looked at without reaping,
    // so nothing is taken from the object.
    siginfo_t info{};
    for (int i = 0; i < 3000 && waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0; ++i)
        processes.Sleep(10);
    EXPECT_EQ(waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT), -1);
    EXPECT_EQ(errno, ECHILD);

    ASSERT_TRUE(processes.Start(R"("/bin/sh" -c "kill -9 $$")"));
    AwaitLast(processes);
    EXPECT_FALSE(processes.LastExitCode().has_value()) << "killed, so no exit code";

    // A failed start forgets the one before.
    ASSERT_TRUE(processes.Start(R"("/bin/sh" -c "exit 4")"));
    AwaitLast(processes);
    EXPECT_EQ(processes.LastExitCode(), 4);
    EXPECT_FALSE(processes.Start(Quoted((folder_.Path() / "missing").string())));
    EXPECT_FALSE(processes.LastHasEnded());
    EXPECT_FALSE(processes.LastExitCode().has_value());
}

// The program gets its arguments whole, the null device for its standard streams, a session
// of its own without a terminal, no signal blocked, and none of the tool's other descriptors.
// The program is this test binary again, switched to reporting by kReportVariable.
TEST_F(PosixProcessesTest, StartsWithoutTerminalOnTheNullDevice)
{
    const fs::path out = folder_.Path() / "out.txt";
    // Inheritable on purpose, so a start that hands descriptors on is caught; numbered above
    // what the reporting child opens itself.
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(devNull, 0);
    const int inherited = fcntl(devNull, F_DUPFD, 50);
    close(devNull);
    ASSERT_GE(inherited, 0);
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    sigset_t before;
    sigprocmask(SIG_BLOCK, &usr1, &before);
    setenv(kReportVariable, out.c_str(), 1);

    PosixProcesses processes;
    const bool started = processes.Start(Quoted(fs::read_symlink("/proc/self/exe").string()) + " " +
                                         std::to_string(inherited) + R"( "x y" plain a\"b "")");
    unsetenv(kReportVariable);
    sigprocmask(SIG_SETMASK, &before, nullptr);
    close(inherited);
    ASSERT_TRUE(started);
    AwaitLast(processes);
    EXPECT_EQ(processes.LastExitCode(), 0);
    // Standard error goes to the memory file that LastErrorOutput reads.
    EXPECT_EQ(ReadWholeFile(out), "[x y]\n[plain]\n[a\"b]\n[]\n"
                                  "/dev/null\n/dev/null\n/memfd:kx-stderr (deleted)\n"
                                  "closed\nleader\nno terminal\nnothing blocked\n");
}

TEST_F(PosixProcessesTest, KeepsTheEndOfWhatTheLastProcessWroteToStandardError)
{
    struct Case {
        const char *what;
        std::string script; // for sh -c
        int exitCode;
        std::string errors;
    };
    const std::string many(IProcesses::kErrorOutputLimit + 100, 'x');
    const Case cases[] = {
        {"a message and a code", "printf 'bad archive\\n' >&2; echo out; exit 2", 2,
         "bad archive\n"},
        {"nothing said", "exit 0", 0, ""},
        // The end is kept: it says why the program stopped.
        {"more than the limit", "printf 'y%.0s' $(seq 100); printf '" + many + "' >&2", 0,
         std::string(IProcesses::kErrorOutputLimit, 'x')},
    };
    PosixProcesses processes;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        ASSERT_TRUE(processes.Start("/bin/sh -c \"" + c.script + "\"")) << "case " << i;
        AwaitLast(processes);
        EXPECT_EQ(processes.LastExitCode(), c.exitCode) << "case " << i << " (" << c.what << ")";
        EXPECT_EQ(processes.LastErrorOutput(), c.errors) << "case " << i << " (" << c.what << ")";
    }
    // A failed start forgets the output of the one before.
    ASSERT_TRUE(processes.Start("/bin/sh -c \"echo said >&2\""));
    AwaitLast(processes);
    ASSERT_EQ(processes.LastErrorOutput(), "said\n");
    EXPECT_FALSE(processes.Start("/no/such/program"));
    EXPECT_EQ(processes.LastErrorOutput(), "");
}

TEST_F(PosixProcessesTest, NameMustMatchExactlyLetterCaseIncluded)
{
    const std::string name = UniqueShortName("Kc");
    Launch(InstallSleeper(name));
    std::string lower = name;
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string upper = name;
    for (char &c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    PosixProcesses processes;
    EXPECT_TRUE(processes.IsProcessRunning(name));
    EXPECT_FALSE(processes.IsProcessRunning(lower));
    EXPECT_FALSE(processes.IsProcessRunning(upper));
    EXPECT_FALSE(processes.IsProcessRunning(name.substr(0, name.size() - 1)));
    EXPECT_FALSE(processes.IsProcessRunning(name + "x"));
    EXPECT_FALSE(processes.IsProcessRunning(""));
}

// The kernel's short name holds 15 bytes; the image name is the whole file name.
TEST_F(PosixProcessesTest, NameLongerThanFifteenBytesIsFoundExactly)
{
    const std::string name = "KxLongImageName_" + std::to_string(getpid()) + ".exe";
    Launch(InstallSleeper(name));
    PosixProcesses processes;
    EXPECT_TRUE(processes.IsProcessRunning(name));
    EXPECT_FALSE(processes.IsProcessRunning(name.substr(0, 15)));
    EXPECT_FALSE(processes.IsProcessRunning(name.substr(0, 15) + "_other.exe"));
}

// The image name is the program file's own name, also after the file was deleted.
TEST_F(PosixProcessesTest, ProgramFileDeletedWhileItRuns)
{
    const std::string name = UniqueShortName("Kd");
    const std::string path = InstallSleeper(name);
    Launch(path);
    fs::remove(path);
    PosixProcesses processes;
    EXPECT_TRUE(processes.IsProcessRunning(name));
    EXPECT_FALSE(processes.IsProcessRunning(name + " (deleted)"));
}

TEST_F(PosixProcessesTest, ZombieDoesNotCount)
{
    const std::string name = UniqueShortName("Kz");
    const pid_t pid = Launch(InstallSleeper(name));
    PosixProcesses processes;
    ASSERT_TRUE(processes.IsProcessRunning(name));
    kill(pid, SIGKILL);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT), 0);
    // Ended, not reaped yet: the short name is still there, the process is not running.
    EXPECT_FALSE(processes.IsProcessRunning(name));
}

// Processes of other users cannot be traced, so their program file link cannot be read; the
// short name and argv[0] stand in, and the state tells a zombie. Needs root to start
// processes another user cannot trace.
TEST_F(PosixProcessesTest, ProcessOfAnotherUserIsFoundByItsNames)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to look on as another user";
    const std::string shortName = UniqueShortName("Ku");
    const std::string longName = "KxOtherUserLong_" + std::to_string(getpid()) + ".exe";
    const std::string zombieName = UniqueShortName("Kv");
    const pid_t shortPid = Launch(InstallSleeper(shortName));
    Launch(InstallSleeper(longName));
    const pid_t zombie = Launch(InstallSleeper(zombieName));
    kill(zombie, SIGKILL);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(zombie), &info, WEXITED | WNOWAIT), 0);
    const struct {
        std::string asked;
        bool running;
    } cases[] = {
        {shortName, true},
        {"k" + shortName.substr(1), false},
        {longName, true},
        {longName.substr(0, 15), false},
        {longName.substr(0, 15) + "_other.exe", false},
        {zombieName, false},
    };
    static_assert(std::size(cases) < 8);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
            setresuid(65534, 65534, 65534) != 0)
            _exit(255);
        char link[256];
        const std::string exe = "/proc/" + std::to_string(shortPid) + "/exe";
        if (readlink(exe.c_str(), link, sizeof link) >= 0)
            _exit(254);
        PosixProcesses processes;
        int found = 0;
        for (size_t i = 0; i < std::size(cases); ++i) {
            if (processes.IsProcessRunning(cases[i].asked))
                found |= 1 << i;
        }
        _exit(found);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    const int found = WEXITSTATUS(status);
    if (found == 255 || found == 254)
        GTEST_SKIP() << "cannot look on as a user without the right to trace";
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ((found >> i & 1) != 0, cases[i].running) << "case " << i;
}

TEST_F(PosixProcessesTest, SleepWakesWhenTheStartedProcessEnds)
{
    PosixProcesses processes;
    ASSERT_TRUE(processes.Start(Quoted(InstallSleeper("KX_Rar.exe")) + " 0.05"));
    const auto begin = std::chrono::steady_clock::now();
    processes.Sleep(60000);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30))
        << "slept on after the started process had ended";
    EXPECT_TRUE(processes.LastHasEnded());

    // Once reaped, the ended process wakes nobody any more.
    const auto again = std::chrono::steady_clock::now();
    processes.Sleep(30);
    EXPECT_GE(std::chrono::steady_clock::now() - again, std::chrono::milliseconds(30));
}

// A second archiver that this object did not start holds both waits until it has ended, even
// after the one the object started is gone.
TEST_F(PosixProcessesTest, SecondArchiverHoldsTheWaitUntilItEnds)
{
    const std::string archiver = InstallSleeper("KX_Rar.exe");
    const std::function<void(IProcesses &, IWindowFacilities &)> waits[] = {
        [](IProcesses &p, IWindowFacilities &w) { WaitForArchiver(p, w, std::chrono::hours(1)); },
        WaitForArchiverWithProgress};
    for (size_t i = 0; i < std::size(waits); ++i) {
        const pid_t other = Launch(archiver);
        PosixProcesses processes;
        ASSERT_TRUE(processes.Start(Quoted(archiver) + " 0"));
        RecordingWindow window;
        bool otherKilled = false;
        const int pumpsBeforeKill = 5;
        window.OnPump = [&] {
            if (window.Pumps == pumpsBeforeKill) {
                kill(other, SIGKILL);
                otherKilled = true;
            }
        };
        waits[i](processes, window);
        EXPECT_TRUE(otherKilled) << "case " << i;
        EXPECT_GE(window.Pumps, pumpsBeforeKill) << "case " << i;
        EXPECT_TRUE(processes.LastHasEnded()) << "case " << i;
        EXPECT_EQ(processes.LastExitCode(), 0) << "case " << i;
    }
}

TEST_F(PosixProcessesTest, ArchiverNamedInOtherLetterCaseDoesNotHoldTheWait)
{
    const pid_t other = Launch(InstallSleeper("kx_rar.exe"));
    PosixProcesses processes;
    RecordingWindow window;
    EXPECT_TRUE(WaitForArchiver(processes, window, std::chrono::hours(1)));
    // Ended while the other program still runs.
    EXPECT_EQ(waitpid(other, nullptr, WNOHANG), 0);
}

TEST_F(PosixProcessesTest, WaitForTheStartedArchiverInAFolderWithBlanks)
{
    const std::string folder = (folder_.Path() / "程序 目录").string() + "/";
    InstallSleeper(kArchiverImageName, "程序 目录");
    PosixProcesses processes;
    // The comment command's arguments make sleep(1) fail at once; it still ran and ended.
    ASSERT_TRUE(processes.Start(CommentCommandLine(folder, "a b.zip")));
    RecordingWindow window;
    EXPECT_TRUE(WaitForArchiver(processes, window, std::chrono::hours(1)));
    EXPECT_TRUE(processes.LastHasEnded());
    EXPECT_EQ(processes.LastExitCode(), 1);
}

// Folder names may hold what Windows never allows; the archiver must start from any of them.
TEST_F(PosixProcessesTest, ArchiverStartsFromEveryFolderName)
{
    const char *names[] = {"a\"b", "say \"hi\" now", "q\\\"", "end\\", "\"", "\\\\\"\\"};
    for (size_t i = 0; i < std::size(names); ++i) {
        const fs::path sub = fs::path("n" + std::to_string(i)) / names[i];
        const fs::path program = folder_.Path() / sub / kArchiverImageName;
        fs::create_directories(program.parent_path());
        fs::copy_file("/bin/true", program);
        PosixProcesses processes;
        ASSERT_TRUE(
            processes.Start(ExtractCommandLine(program.parent_path().string() + "/", "/tmp/p.zip")))
            << "case " << i;
        AwaitLast(processes);
        EXPECT_EQ(processes.LastExitCode(), 0) << "case " << i;
    }
}

TEST_F(PosixProcessesTest, EndLastEndsOnlyTheStartedArchiver)
{
    const std::string archiver = InstallSleeper(kArchiverImageName);
    // Another program of the same name, started by some other tool, goes on running.
    const pid_t other = Launch(archiver);
    PosixProcesses processes;
    EXPECT_FALSE(processes.EndLast()); // nothing started yet

    ASSERT_TRUE(processes.Start(Quoted(archiver) + " 1000"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(processes.EndLast());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(processes.LastHasEnded());
    EXPECT_EQ(processes.LastExitCode(), std::nullopt); // killed, not exited
    EXPECT_EQ(waitpid(other, nullptr, WNOHANG), 0);

    // One that has ended on its own counts as ended.
    ASSERT_TRUE(processes.Start(Quoted(archiver) + " 0"));
    while (!processes.LastHasEnded())
        processes.Sleep(10);
    EXPECT_TRUE(processes.EndLast());
    EXPECT_EQ(processes.LastExitCode(), 0);
}

} // namespace

} // namespace offline_upgrade
