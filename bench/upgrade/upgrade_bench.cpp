// The whole upgrade against the same work done by the usual tools. One package holds a tree
// of 5,000 files of 20-100 KB (about 300 MB) and one of 2,000 files of 0.1-4 KB, and a script
// of 200 blocks of one 100-row INSERT each. Ours: RunUpgrade with the real archiver, file
// system, processes and ODBC objects and a window that draws nothing. Theirs: `unzip -P`, the
// `mariadb` client with the same statements on its standard input, and `cp -r` of the unpacked
// tree, one after the other. Both start from a fresh unpack folder, a fresh product folder and
// an empty table, in alternating order, for several rounds; prints the medians (with each
// part), the median ratio and the peak memory of every program involved.
//
// upgrade_bench BASE ARCHIVER [ROUNDS]   works under BASE/kx-upgrade-bench and removes it at
//                                        the end; ARCHIVER is the KX_Rar.exe to copy into the
//                                        program folder. Needs the server of scripts/db-server
//                                        and ODBCSYSINI.
//
// The package is made with `zip -P` (traditional encryption), which both sides can read:
// unzip knows no AES.

#include "bench/support/bench_support.h"
#include "platform/error.h"
#include "platform/odbc/odbc_data_access.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/process_posix.h"
#include "platform/window_facilities.h"
#include "upgrade/upgrade_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char **environ;

namespace offline_upgrade {

namespace {

using bench::Median;
using bench::StageParts;

using Clock = std::chrono::steady_clock;

// Kept equal to the logins of scripts/db-server.
const std::string kServer = "127.0.0.1";
const std::string kUser = "kxtest";
const std::string kPassword = "kx;pw}{=1";
const std::string kDatabase = "kx_upgrade_bench";
const std::string kPackage = "bench_pkg";
const int kBlocks = 200;
const int kRowsPerBlock = 100;

// Draws nothing; notes when each stage shows its first step text, so that the run can be
// told in parts.
class StageClock : public IWindowFacilities {
public:
    void SetStepText(const std::string &text) override
    {
        const auto mark = [&](const char *prefix, Clock::time_point &at) {
            if (text.rfind(prefix, 0) == 0 && at == Clock::time_point{})
                at = Clock::now();
        };
        mark("正在连接产品数据库", Connect);
        mark("正在更新文件", Files);
    }
    std::string StepText() const override { return {}; }
    void SetProgressMax(int maximum) override { max_ = std::max(maximum, 0); }
    int ProgressMax() const override { return max_; }
    void SetProgressPosition(int position) override { position_ = std::clamp(position, 0, max_); }
    int ProgressPosition() const override { return position_; }
    void ProcessMessages() override {}
    void Repaint() override {}
    void ShowMessage(const std::string &text, const std::string &, MessageIcon) override
    {
        Messages.push_back(text);
    }

    Clock::time_point Connect{};
    Clock::time_point Files{};
    std::vector<std::string> Messages;

private:
    int max_ = 100;
    int position_ = 0;
};

void Fail(const std::string &what)
{
    std::fprintf(stderr, "upgrade_bench: %s\n", what.c_str());
    std::exit(1);
}

double Seconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

// Runs a program to its end, standard input from a file when one is named, output dropped.
// Fails the benchmark unless it ends with 0.
void RunChild(std::vector<std::string> args, const std::string &input)
{
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!input.empty())
        posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        Fail("cannot start " + args[0]);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Fail(args[0] + " failed");
}

// Files that compress about as application files do: text-like bytes, the same on every run.
uint64_t MakeTree(const std::string &root, int count, int perFolder, uint32_t minSize,
                  uint32_t maxSize, uint64_t seed)
{
    PosixFileSystem files;
    uint64_t state = seed;
    const auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return state >> 33;
    };
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789 \n=_.;ABCDEFGHIJ";
    std::string buffer(maxSize + 4096, '\0');
    for (char &c : buffer)
        c = alphabet[next() % (sizeof(alphabet) - 1)];
    uint64_t total = 0;
    for (int i = 0; i < count; ++i) {
        const int folder = i / perFolder;
        const std::string dir =
            root + "/g" + std::to_string(folder % 5) + "/d" + std::to_string(folder);
        if (i % perFolder == 0 && !files.ForceDirectories(dir))
            Fail("cannot create " + dir);
        const uint32_t size = minSize + static_cast<uint32_t>(next() % (maxSize - minSize + 1));
        const size_t offset = next() % 4096;
        const std::string path = dir + "/file" + std::to_string(i) + ".dat";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, buffer.data() + offset, size) != static_cast<ssize_t>(size))
            Fail("cannot write " + path);
        ::close(fd);
        total += size;
    }
    return total;
}

void WriteFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out)
        Fail("cannot write " + path);
}

struct Parts {
    std::vector<double> total, unpack, scripts, files;
};

void PrintParts(const char *who, const Parts &parts)
{
    std::printf("  %-6s total %7.3f s  (unpack %.3f, connect+scripts %.3f, files %.3f)\n", who,
                Median(parts.total), Median(parts.unpack), Median(parts.scripts),
                Median(parts.files));
}

} // namespace

} // namespace offline_upgrade

int main(int argc, char **argv)
{
    using namespace offline_upgrade;
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: upgrade_bench BASE ARCHIVER [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc == 4 ? std::max(1, std::atoi(argv[3])) : 5;
    PosixFileSystem files;
    const std::string base = std::filesystem::absolute(argv[1]).string() + "/kx-upgrade-bench";
    files.RemoveTree(base);
    const std::string staging = base + "/staging";
    const std::string program = base + "/prog/";
    const std::string packageFile = program + kPackage + ".zip";
    const std::string target = base + "/product";
    const std::string peerUnpacked = base + "/peer-unpacked";
    const std::string batchFile = base + "/batch.sql";
    if (!files.ForceDirectories(program))
        Fail("cannot create " + program);
    std::filesystem::copy_file(argv[2], program + "KX_Rar.exe");

    // The package.
    const std::string tree = staging + "/" + kPackage + "/UpdateFiles";
    uint64_t bytes = MakeTree(tree + "/large", 5000, 100, 20000, 100000, 42);
    bytes += MakeTree(tree + "/small", 2000, 50, 100, 4000, 7);
    std::string script, batch;
    for (int b = 0, id = 0; b < kBlocks; ++b) {
        std::string sql = "INSERT INTO bench_rows (id, name, note) VALUES ";
        for (int r = 0; r < kRowsPerBlock; ++r, ++id) {
            if (r > 0)
                sql += ", ";
            sql += "(" + std::to_string(id) + ", 'name " + std::to_string(id) +
                   "', '升级 note for row " + std::to_string(id) + "')";
        }
        script +=
            "-- sql begin block " + std::to_string(b + 1) + "\r\n" + sql + "\r\n-- end sql\r\n";
        batch += sql + ";\n";
    }
    WriteFile(staging + "/" + kPackage + "/UpdateSQL.sql", script);
    WriteFile(batchFile, batch);
    {
        const std::string cwd = std::filesystem::current_path().string();
        std::filesystem::current_path(staging);
        RunChild({"zip", "-q", "-r", "-P", "xr352", packageFile, kPackage}, "");
        std::filesystem::current_path(cwd);
    }
    files.RemoveTree(staging);

    try {
        // The bench database, reached through the test database the server was started with.
        OdbcConnection admin;
        OdbcCommand adminCommand(admin);
        OdbcQuery count(admin);
        admin.SetConnectionString(
            "Provider=MSDASQL;DRIVER={MySQL ODBC 5.1 Driver};SERVER=" + kServer +
            ";DATABASE=kx_test;USER=" + kUser + ";PASSWORD=" + kPassword + ";");
        admin.Open();
        adminCommand.SetCommandText("CREATE DATABASE IF NOT EXISTS " + kDatabase +
                                    " CHARACTER SET utf8mb4;\nUSE " + kDatabase);
        adminCommand.Execute();
        const auto resetTable = [&] {
            adminCommand.SetCommandText(
                "DROP TABLE IF EXISTS bench_rows;\nCREATE TABLE bench_rows (id INT PRIMARY KEY, "
                "name VARCHAR(40), note VARCHAR(80)) ENGINE=InnoDB");
            adminCommand.Execute();
        };
        const auto checkRows = [&](const char *who) {
            count.Close();
            count.SetSQL("SELECT COUNT(*) FROM bench_rows");
            count.Open();
            if (std::stoll(count.FirstFieldText()) != kBlocks * kRowsPerBlock)
                Fail(std::string(who) + " did not insert every row");
        };

        StageParts parts(target);
        parts.Package.PackageName = kPackage + ".zip";
        parts.Package.PackagePath = program;
        parts.Package.DbType = kDbTypeMySql;
        parts.Package.SQLCount = kBlocks;
        parts.Product.ServerName = "localhost"; // this machine: the scripts run
        parts.Product.DBaseName = kDatabase;
        parts.Product.UserName = kUser;
        parts.Product.PassWord = kPassword;
        parts.LocalIP = "10.0.0.1";
        OdbcConnection tempConnection;
        OdbcQuery ADOQuery(tempConnection);
        OdbcCommand updataExec(tempConnection);
        PosixProcesses processes;

        Parts ours, theirs;
        std::vector<double> ratios;
        for (int round = 0; round < rounds; ++round) {
            double a = 0, b = 0;
            for (int turn = 0; turn < 2; ++turn) {
                // Untimed: nothing unpacked, no product folder, an empty table, the previous
                // turn's dirty pages written out.
                files.RemoveTree(program + "TempUpdate");
                files.RemoveTree(peerUnpacked);
                files.RemoveTree(target);
                resetTable();
                ::sync();
                if ((turn == 0) == (round % 2 == 0)) {
                    StageClock window;
                    UpgradeContext context = parts.Context(program, window, files, tempConnection,
                                                           ADOQuery, updataExec, processes);
                    const auto start = Clock::now();
                    if (!RunUpgrade(context, packageFile))
                        Fail("the upgrade failed: " +
                             (window.Messages.empty() ? "" : window.Messages.front()));
                    const auto end = Clock::now();
                    a = Seconds(start, end);
                    ours.total.push_back(a);
                    ours.unpack.push_back(Seconds(start, window.Connect));
                    ours.scripts.push_back(Seconds(window.Connect, window.Files));
                    ours.files.push_back(Seconds(window.Files, end));
                    checkRows("the upgrade");
                } else {
                    const auto start = Clock::now();
                    RunChild({"unzip", "-qq", "-o", "-P", "xr352", packageFile, "-d", peerUnpacked},
                             "");
                    const auto unpacked = Clock::now();
                    RunChild({"mariadb", "--no-defaults", "--host=" + kServer, "--port=3306",
                              "--user=" + kUser, "--password=" + kPassword, "--batch", kDatabase},
                             batchFile);
                    const auto scripted = Clock::now();
                    RunChild({"cp", "-r", peerUnpacked + "/" + kPackage + "/UpdateFiles", target},
                             "");
                    // The tool's file stage ends with the files on stable storage; so does
                    // this side.
                    RunChild({"sync"}, "");
                    const auto end = Clock::now();
                    b = Seconds(start, end);
                    theirs.total.push_back(b);
                    theirs.unpack.push_back(Seconds(start, unpacked));
                    theirs.scripts.push_back(Seconds(unpacked, scripted));
                    theirs.files.push_back(Seconds(scripted, end));
                    checkRows("the mariadb client");
                }
            }
            ratios.push_back(a / b);
            std::printf("  round %d: upgrade %.3f s, unzip+mariadb+cp %.3f s, ratio %.2f\n",
                        round + 1, a, b, a / b);
        }

        // The memory of the programs, each run once more (untimed) under /usr/bin/time: a child
        // spawned from this process would report this process's size as its own peak.
        const std::string peakFile = base + "/peak.txt";
        const auto peakOf = [&](std::vector<std::string> args, const std::string &input) {
            args.insert(args.begin(), {"/usr/bin/time", "-f", "%M", "-o", peakFile});
            RunChild(args, input);
            std::ifstream in(peakFile);
            long kib = 0;
            in >> kib;
            return kib;
        };
        files.RemoveTree(program + "TempUpdate");
        files.RemoveTree(peerUnpacked);
        files.RemoveTree(target);
        resetTable();
        const long archiverPeak = peakOf(
            {program + "KX_Rar.exe", "x", "-y", "-pxr352", packageFile, program + "TempUpdate"},
            "");
        const long unzipPeak =
            peakOf({"unzip", "-qq", "-o", "-P", "xr352", packageFile, "-d", peerUnpacked}, "");
        const long clientPeak =
            peakOf({"mariadb", "--no-defaults", "--host=" + kServer, "--port=3306",
                    "--user=" + kUser, "--password=" + kPassword, "--batch", kDatabase},
                   batchFile);
        const long cpPeak =
            peakOf({"cp", "-r", peerUnpacked + "/" + kPackage + "/UpdateFiles", target}, "");

        adminCommand.SetCommandText("DROP DATABASE IF EXISTS " + kDatabase);
        adminCommand.Execute();
        files.RemoveTree(base);

        struct rusage self {};
        ::getrusage(RUSAGE_SELF, &self);
        std::printf("%d + 2000 files, %.1f MB, %d blocks of %d rows, on %s; medians of %d "
                    "rounds\n",
                    5000, static_cast<double>(bytes) / 1e6, kBlocks, kRowsPerBlock, argv[1],
                    rounds);
        PrintParts("ours", ours);
        PrintParts("theirs", theirs);
        std::printf("  median ratio %.2f (goal on disk <= 0.85); ratio of medians %.2f\n",
                    Median(ratios), Median(ours.total) / Median(theirs.total));
        std::printf("  peak RSS KiB: bench process (RunUpgrade) %ld, KX_Rar.exe %ld; unzip %ld, "
                    "mariadb %ld, cp %ld\n",
                    self.ru_maxrss, archiverPeak, unzipPeak, clientPeak, cpPeak);
    } catch (const std::exception &error) {
        files.RemoveTree(base);
        Fail(error.what());
    }
    return 0;
}
