// The scan's archiver wait against starters that wait on their child directly: 100 packages,
// each once through the comment command with the tool's start and plain wait, once through
// `unzip -zq` and once through the same comment command, both with posix_spawn and waitpid.
// The tool's turn logs each package's exit code and verdict to the upgrade log, as the scan
// does.
// The three run in rotating order for several rounds; prints each round, the medians and the
// medians of the per-round ratios. tool/unzip is the goal; tool/direct is what the wait itself
// costs over the archiver's own run.
//
// scan_wait_bench ARCHIVER [ROUNDS [PACKAGES]]
//   ARCHIVER  the built KX_Rar.exe; it is copied into a program folder made under /dev/shm
//             (or TMPDIR when there is no /dev/shm), which is removed at the end.
//
// Any other KX_Rar.exe on the machine holds the tool's wait as it would in use, so run it
// while no archiver tests run.

#include "archiver/archiver_commands.h"
#include "archiver/archiver_wait.h"
#include "bench/support/bench_support.h"
#include "platform/diagnostics.h"
#include "platform/log_file.h"
#include "platform/posix/process_posix.h"
#include "platform/window_facilities.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

extern char **environ;

namespace offline_upgrade {

namespace fs = std::filesystem;

namespace {

using bench::Median;
using bench::NoOpWindow;

[[noreturn]] void Fail(const std::string &what)
{
    std::fprintf(stderr, "scan_wait_bench: %s\n", what.c_str());
    std::exit(1);
}

int Run(const std::string &shellCommand)
{
    return std::system(shellCommand.c_str());
}

std::string Descriptor(const std::string &build, const std::string &regValue)
{
    return "[CONFIG]\r\nSoft=朔岱测试产品\r\ncorp=bench\r\nVersion=5\r\nBuild=" + build +
           "\r\nRegValue=" + regValue + "\r\nDbType=0\r\nSQLCount=0\r\n";
}

// A package like the real ones: encrypted content, the descriptor as archive comment.
void MakePackage(const fs::path &work, const fs::path &package, const std::string &comment)
{
    const fs::path content = work / "content";
    fs::create_directories(content / "UpdateFiles");
    std::ofstream(content / "UpdateFiles" / "app.txt") << std::string(4096, 'x');
    std::ofstream(content / "UpdateSQL.sql") << "select 1;\n";
    std::ofstream(work / "comment.txt", std::ios::binary) << comment;
    const std::string q = "'";
    if (Run("cd " + q + content.string() + q + " && zip -qr -P " + kPackagePassword + " " + q +
            package.string() + q + " . && zip -qz " + q + package.string() + q + " < " + q +
            (work / "comment.txt").string() + q) != 0)
        Fail("zip cannot make " + package.string());
    fs::remove_all(content);
    fs::remove(work / "comment.txt");
}

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// The tool: start the comment command, then the plain wait, as the scan does per package.
double ScanWithTool(const std::string &folder, const std::vector<std::string> &names)
{
    PosixProcesses processes;
    NoOpWindow window;
    const std::string descriptor = folder + "TempUpdate/Update.ini";
    const auto begin = std::chrono::steady_clock::now();
    for (const std::string &name : names) {
        if (!processes.Start(CommentCommandLine(folder, name)))
            Fail("the archiver cannot be started");
        if (!WaitForArchiver(processes, window, std::chrono::seconds(30)))
            Fail("the archiver hung");
        // What the scan records of each package: the archiver's exit code and words, and
        // the verdict, through the log in the program folder.
        const std::optional<int> code = processes.LastExitCode();
        const std::string said = processes.LastErrorOutput();
        LogInfo("scan: " + name + ": archiver exit code " +
                (code ? std::to_string(*code) : std::string("none")) +
                (said.empty() ? std::string() : " (it said: " + said + ")") +
                "; passed over: product \"NotInstalled\" is not registered on this machine");
    }
    const double elapsed = Seconds(std::chrono::steady_clock::now() - begin);
    if (processes.LastExitCode() != 0 || !fs::exists(descriptor))
        Fail("the archiver did not write the descriptor");
    return elapsed;
}

// A starter that waits on its child directly: posix_spawn, then waitpid. Output goes to the
// null device (unzip -z prints the comment).
double RunDirectly(const std::vector<std::vector<std::string>> &commands)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto begin = std::chrono::steady_clock::now();
    for (const std::vector<std::string> &command : commands) {
        std::vector<char *> argv;
        argv.reserve(command.size() + 1);
        for (const std::string &argument : command)
            argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            Fail(command[0] + " cannot be started");
        int status = 0;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            Fail(command[0] + " failed on " + command[command.size() - 2]);
    }
    const double elapsed = Seconds(std::chrono::steady_clock::now() - begin);
    posix_spawn_file_actions_destroy(&actions);
    return elapsed;
}

} // namespace

} // namespace offline_upgrade

int main(int argc, char **argv)
{
    using namespace offline_upgrade;
    if (argc < 2) {
        std::fprintf(stderr, "usage: scan_wait_bench ARCHIVER [ROUNDS [PACKAGES]]\n");
        return 2;
    }
    const fs::path archiver = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const int packages = argc > 3 ? std::max(1, std::atoi(argv[3])) : 100;

    const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "kx-scan-wait-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        Fail("cannot make the program folder");
    const fs::path root = pattern;
    const std::string folder = root.string() + "/";
    fs::copy_file(archiver, root / kArchiverImageName);
    fs::permissions(root / kArchiverImageName, fs::perms(0755));
    fs::create_directories(root / "TempUpdate");

    // Only the last package fits; the others name a product that is not installed.
    const fs::path work = root / "make";
    fs::create_directories(work);
    MakePackage(work, work / "other.zip", Descriptor("5.0.0100", "NotInstalled"));
    MakePackage(work, work / "fits.zip", Descriptor("5.0.0200", "BenchProduct"));
    std::vector<std::string> names;
    for (int i = 0; i < packages; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "pkg%03d.zip", i);
        names.push_back(name);
        fs::copy_file(work / (i + 1 == packages ? "fits.zip" : "other.zip"), root / name);
    }
    fs::remove_all(work);

    std::vector<std::vector<std::string>> unzipRuns;
    std::vector<std::vector<std::string>> archiverRuns;
    for (const std::string &name : names) {
        unzipRuns.push_back({"unzip", "-zq", folder + name});
        archiverRuns.push_back({folder + kArchiverImageName, "cw", "-y", folder + name,
                                folder + "TempUpdate/Update.ini"});
    }

    // The upgrade log in the program folder, as the program keeps it.
    FileLogSink log({folder});
    const ScopedLogSink installed(log);

    std::printf("%d packages in %s, %d rounds\n", packages, folder.c_str(), rounds);
    std::printf("tool: start, plain wait and a log line with the exit code; unzip, direct: "
                "unzip -zq and the same comment command, each waited on with waitpid\n");
    std::printf("round  tool [s]  unzip [s]  direct [s]  tool/unzip  tool/direct\n");
    std::vector<double> tool;
    std::vector<double> unzip;
    std::vector<double> direct;
    std::vector<double> toUnzip;
    std::vector<double> toDirect;
    for (int r = 0; r < rounds; ++r) {
        // Rotate the order, so none always meets a warm or a cold cache.
        double times[3] = {};
        for (int k = 0; k < 3; ++k) {
            switch ((r + k) % 3) {
            case 0:
                times[0] = ScanWithTool(folder, names);
                break;
            case 1:
                times[1] = RunDirectly(unzipRuns);
                break;
            default:
                times[2] = RunDirectly(archiverRuns);
                break;
            }
        }
        tool.push_back(times[0]);
        unzip.push_back(times[1]);
        direct.push_back(times[2]);
        toUnzip.push_back(times[0] / times[1]);
        toDirect.push_back(times[0] / times[2]);
        std::printf("%5d  %8.3f  %9.3f  %10.3f  %10.2f  %11.2f\n", r + 1, times[0], times[1],
                    times[2], toUnzip.back(), toDirect.back());
    }
    std::printf("median %8.3f  %9.3f  %10.3f  %10.2f  %11.2f\n", Median(tool), Median(unzip),
                Median(direct), Median(toUnzip), Median(toDirect));
    std::printf("(ratios: medians of the per-round ratios; goal tool/unzip at most 1.5)\n");

    // The cost of one log line on its own, which the load of a shared machine hides in the
    // figures above: written and flushed like every line of the scan.
    const int lines = 20000;
    const std::string line = "scan: pkg000.zip: archiver exit code 0; passed over: product "
                             "\"NotInstalled\" is not registered on this machine";
    std::vector<double> perLine;
    for (int r = 0; r < rounds; ++r) {
        const auto begin = std::chrono::steady_clock::now();
        for (int i = 0; i < lines; ++i)
            LogInfo(line);
        perLine.push_back(Seconds(std::chrono::steady_clock::now() - begin) / lines * 1e6);
    }
    std::printf("one log line: median %.2f us (%d lines a round, %s)\n", Median(perLine), lines,
                log.Path().c_str());

    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
