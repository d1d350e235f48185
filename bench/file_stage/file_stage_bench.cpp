// The file stage against `cp -r` followed by one `sync`: both copy the same tree over an
// existing copy of it (every file is replaced; the stage keeps each replaced file until its
// result is out, cp overwrites it in place) and bring it to stable storage, alternately, for
// several rounds; prints the medians, the median ratio and the peak memory of each.
//
// file_stage_bench BASE [ROUNDS [TREE [OTHER]]]
//     makes its trees under BASE/kx-file-stage-bench and removes them at the end; TREE "large"
//     or "small" measures only that one ("both": each). OTHER: another build of this program
//     (an older one, say), whose stage then runs in every round too, so that two versions are
//     judged in one run.
// file_stage_bench --once PROGRAM TARGET
//     runs one stage of PROGRAM/TempUpdate/pkg/UpdateFiles over TARGET and prints the seconds
//     to its result and the seconds of what it left for after the result.

#include "bench/support/bench_support.h"
#include "platform/diagnostics.h"
#include "platform/log_file.h"
#include "platform/posix/file_system_posix.h"
#include "platform/window_facilities.h"
#include "upgrade/file_update.h"

#include "platform/data_access.h"
#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace offline_upgrade {

namespace {

using bench::Median;
using bench::NoOpWindow;
using bench::StageParts;

struct TreeSpec {
    const char *name;
    int files;
    int filesPerFolder;
    uint32_t minSize;
    uint32_t maxSize;
};

// Deterministic sizes and bytes, so every run copies the same tree.
uint64_t Next(uint64_t &state)
{
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state >> 33;
}

void Fail(const std::string &what)
{
    std::fprintf(stderr, "file_stage_bench: %s\n", what.c_str());
    std::exit(1);
}

uint64_t MakeTree(const std::string &root, const TreeSpec &shape)
{
    PosixFileSystem files;
    uint64_t state = 42;
    uint64_t total = 0;
    std::vector<char> buffer(shape.maxSize);
    for (char &c : buffer)
        c = static_cast<char>(Next(state));
    for (int i = 0; i < shape.files; ++i) {
        // Two levels: group/folder/file, as an application tree has bin/, lib/, plugins/...
        const int folder = i / shape.filesPerFolder;
        const std::string dir =
            root + "/g" + std::to_string(folder % 5) + "/d" + std::to_string(folder);
        if (i % shape.filesPerFolder == 0 && !files.ForceDirectories(dir))
            Fail("cannot create " + dir);
        const uint32_t size =
            shape.minSize +
            static_cast<uint32_t>(Next(state) % (shape.maxSize - shape.minSize + 1));
        const std::string path = dir + "/file" + std::to_string(i) + ".dat";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        buffer[Next(state) % shape.maxSize] ^= 1;
        if (fd < 0 || ::write(fd, buffer.data(), size) != static_cast<ssize_t>(size))
            Fail("cannot write " + path);
        ::close(fd);
        total += size;
    }
    return total;
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// What the run left for after its result, where the stage being measured has such a thing
// (an older build removes its kept files before it returns). Found by argument-dependent
// look-up, so that this file builds against an older tree as well.
template <class Context>
auto FinishAfterResult(Context &context, int) -> decltype(FinishUpgrade(context), void())
{
    FinishUpgrade(context);
}
template <class Context> void FinishAfterResult(Context &, long) {}

// One stage over target with the tree below program; the seconds to the result and of what
// was left for after it.
struct StageTimes {
    double ToResult = 0;
    double AfterResult = 0;
};

StageTimes RunStage(const std::string &program, const std::string &target)
{
    PosixFileSystem files;
    // The upgrade log in the program folder, as the program keeps it.
    FileLogSink log({program});
    const ScopedLogSink installed(log);
    NoOpWindow window;
    StageParts parts(target);
    UpgradeContext context = parts.Context(program, window, files);
    StageTimes times;
    const auto start = std::chrono::steady_clock::now();
    if (!CopyUpdateFiles(context))
        Fail("the file stage failed");
    times.ToResult = Seconds(start);
    const auto after = std::chrono::steady_clock::now();
    FinishAfterResult(context, 0);
    times.AfterResult = Seconds(after);
    return times;
}

// Runs one program to its end; sets its peak memory in KiB. With output, what it writes to
// its standard output goes there.
void RunProgram(std::vector<std::string> arguments, long &peakKiB, std::string *output = nullptr)
{
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int pipeFds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (output) {
        if (::pipe2(pipeFds, O_CLOEXEC) != 0)
            Fail("cannot make a pipe");
        ::posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    }
    pid_t pid = 0;
    const int started = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (started != 0)
        Fail("cannot start " + arguments[0]);
    if (output) {
        ::close(pipeFds[1]);
        char buffer[256];
        for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            output->append(buffer, static_cast<size_t>(n));
        ::close(pipeFds[0]);
    }
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Fail(arguments[0] + " failed");
    peakKiB = std::max(peakKiB, usage.ru_maxrss);
}

// One stage run by a build of this program in a process of its own.
StageTimes RunStageIn(const std::string &binary, const std::string &program,
                      const std::string &target, long &peakKiB)
{
    std::string output;
    RunProgram({binary, "--once", program, target}, peakKiB, &output);
    StageTimes times;
    if (std::sscanf(output.c_str(), "%lf %lf", &times.ToResult, &times.AfterResult) != 2)
        Fail(binary + " --once printed no times: " + output);
    return times;
}

// Runs cp -r, then sync, as a careful user would before calling a copy done; returns the time
// of both and sets the peak memory of cp in KiB.
double RunCp(const std::string &source, const std::string &target, long &peakKiB)
{
    const auto start = std::chrono::steady_clock::now();
    // -T: into target itself, not into a folder of the source's name below it.
    RunProgram({"cp", "-rT", source, target}, peakKiB);
    long syncPeakKiB = 0;
    RunProgram({"sync"}, syncPeakKiB);
    return Seconds(start);
}

void Measure(const std::string &base, const TreeSpec &shape, int rounds, const std::string &self,
             const std::string &other)
{
    PosixFileSystem files;
    const std::string program = base + "/" + shape.name + "/";
    const std::string source = program + "TempUpdate/pkg/UpdateFiles";
    const std::string target = base + "/" + shape.name + "-target";
    const uint64_t bytes = MakeTree(source, shape);
    // KX_BENCH_SETTLE=S: S seconds of rest before each timed run. On ext4 without a journal the
    // search for a free inode steps over every inode freed in the last 5-10 s, and the
    // previous round's removal of the kept files is such a batch, which no real upgrade has
    // right before it.
    const char *settleText = std::getenv("KX_BENCH_SETTLE");
    const int settle = settleText ? std::max(0, std::atoi(settleText)) : 0;

    // Each contender in turn, in an order that rotates from round to round; before each, a
    // target that holds the whole tree, and the previous copy's dirty pages written out.
    struct Contender {
        std::string Name;
        std::string Binary; // empty: cp -r + sync
        std::vector<double> Seconds, After, Ratios;
        long PeakKiB = 0;
    };
    std::vector<Contender> contenders{{"stage", self, {}, {}, {}, 0}};
    if (!other.empty())
        contenders.push_back({"other", other, {}, {}, {}, 0});
    contenders.push_back({"cp", "", {}, {}, {}, 0});
    for (int round = 0; round < rounds; ++round) {
        std::printf("  %-6s round %d:", shape.name, round + 1);
        for (size_t turn = 0; turn < contenders.size(); ++turn) {
            Contender &c = contenders[(turn + static_cast<size_t>(round)) % contenders.size()];
            if (!files.DirectoryExists(target)) {
                long ignored = 0;
                RunProgram({"cp", "-rT", source, target}, ignored);
            }
            ::sync();
            if (settle > 0)
                std::this_thread::sleep_for(std::chrono::seconds(settle));
            if (c.Binary.empty()) {
                c.Seconds.push_back(RunCp(source, target, c.PeakKiB));
            } else {
                const StageTimes times = RunStageIn(c.Binary, program, target, c.PeakKiB);
                c.Seconds.push_back(times.ToResult);
                c.After.push_back(times.AfterResult);
            }
        }
        const double cp = contenders.back().Seconds.back();
        for (Contender &c : contenders) {
            c.Ratios.push_back(c.Seconds.back() / cp);
            std::printf(" %s %.3f s", c.Name.c_str(), c.Seconds.back());
            if (!c.After.empty())
                std::printf(" (+%.3f s after)", c.After.back());
            std::printf(",");
        }
        std::printf(" stage/cp %.2f\n", contenders[0].Ratios.back());
        std::fflush(stdout);
    }
    files.RemoveTree(target);
    files.RemoveTree(base + "/" + shape.name);

    std::printf("%s: %d files, %.1f MB on %s\n", shape.name, shape.files, bytes / 1e6,
                base.c_str());
    for (const Contender &c : contenders) {
        std::printf("  %-5s median %.3f s", c.Name.c_str(), Median(c.Seconds));
        if (!c.After.empty())
            std::printf(" to the result, %.3f s after it", Median(c.After));
        if (!c.Binary.empty())
            std::printf(", median ratio to cp -r + sync %.2f (goal: disk 1.20, tmpfs 1.30)",
                        Median(c.Ratios));
        std::printf("; peak RSS %ld KiB\n", c.PeakKiB);
    }
    if (!other.empty()) {
        std::vector<double> versus;
        for (size_t i = 0; i < contenders[0].Seconds.size(); ++i)
            versus.push_back(contenders[0].Seconds[i] / contenders[1].Seconds[i]);
        std::printf("  median ratio stage / other %.2f\n", Median(versus));
    }
}

} // namespace

} // namespace offline_upgrade

int main(int argc, char **argv)
{
    using namespace offline_upgrade;
    if (argc == 4 && std::string(argv[1]) == "--once") {
        const StageTimes times = RunStage(argv[2], argv[3]);
        std::printf("%.6f %.6f\n", times.ToResult, times.AfterResult);
        return 0;
    }
    if (argc < 2 || argc > 5) {
        std::fprintf(stderr, "usage: file_stage_bench BASE [ROUNDS [large|small|both [OTHER]]]\n"
                             "       file_stage_bench --once PROGRAM TARGET\n");
        return 2;
    }
    const int rounds = argc >= 3 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::string only = argc >= 4 && std::string(argv[3]) != "both" ? argv[3] : "";
    const std::string other = argc == 5 ? argv[4] : "";
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        Fail("cannot find this program's own file");
    self[length] = '\0';
    PosixFileSystem files;
    const std::string base = std::string(argv[1]) + "/kx-file-stage-bench";
    files.RemoveTree(base);
    if (!files.ForceDirectories(base))
        Fail("cannot create " + base);

    const TreeSpec large{"large", 5000, 100, 20000, 100000}; // about 300 MB
    const TreeSpec small{"small", 2000, 50, 100, 4000};
    if (only.empty() || only == large.name)
        Measure(base, large, rounds, self, other);
    if (only.empty() || only == small.name)
        Measure(base, small, rounds, self, other);
    files.RemoveTree(base);
    return 0;
}
