// The script runner against the mariadb command-line client, on the private test server: the
// same INSERT statements, ours as one block each through RunUpgradeScripts (connection
// included), the client's as one batch on its standard input (process start and connection
// included). Two loads: 1,000 one-row INSERTs and 200 INSERTs of 100 rows each. Alternately,
// for several rounds; prints the medians and the median ratio of each load.
//
// script_runner_bench WORK_DIR [ROUNDS]   needs the server of scripts/db-server and ODBCSYSINI;
//                                         writes its scripts under WORK_DIR.

#include "bench/support/bench_support.h"
#include "platform/error.h"
#include "platform/odbc/odbc_data_access.h"
#include "platform/posix/file_system_posix.h"
#include "platform/process.h"
#include "platform/window_facilities.h"
#include "upgrade/database_connection.h"
#include "upgrade/script_runner.h"

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
#include <functional>
#include <string>
#include <vector>

extern char **environ;

namespace offline_upgrade {

namespace {

using bench::Median;
using bench::NoOpWindow;
using bench::StageParts;

// Kept equal to the logins of scripts/db-server.
const std::string kServer = "127.0.0.1";
const std::string kUser = "kxtest";
const std::string kPassword = "kx;pw}{=1";
const std::string kDatabase = "kx_bench";

struct Load {
    std::string Name;
    std::vector<std::string> Statements;
    long long Rows;
};

Load OneRowInserts()
{
    Load load{"1000 x 1-row INSERT", {}, 1000};
    for (int i = 0; i < 1000; ++i) {
        load.Statements.push_back("INSERT INTO bench_rows (id, name, note) VALUES (" +
                                  std::to_string(i) + ", 'name " + std::to_string(i) +
                                  "', '升级 note for row " + std::to_string(i) + "')");
    }
    return load;
}

Load HundredRowInserts()
{
    Load load{"200 x 100-row INSERT", {}, 20000};
    int id = 0;
    for (int b = 0; b < 200; ++b) {
        std::string sql = "INSERT INTO bench_rows (id, name, note) VALUES ";
        for (int r = 0; r < 100; ++r, ++id) {
            if (r > 0)
                sql += ", ";
            sql += "(" + std::to_string(id) + ", 'name " + std::to_string(id) +
                   "', '升级 note for row " + std::to_string(id) + "')";
        }
        load.Statements.push_back(sql);
    }
    return load;
}

void WriteFile(const std::filesystem::path &path, const std::string &bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out)
        throw KxError("cannot write " + path.string());
}

double Seconds(const std::function<void()> &run)
{
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs the client with the batch file on its standard input; throws unless it succeeds.
void RunClient(const std::string &batchFile)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, batchFile.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const std::string password = "--password=" + kPassword;
    const std::string user = "--user=" + kUser;
    std::vector<const char *> argv = {"mariadb",     "--no-defaults",   "--host=127.0.0.1",
                                      "--port=3306", user.c_str(),      password.c_str(),
                                      "--batch",     kDatabase.c_str(), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, "mariadb", &actions, nullptr,
                                const_cast<char *const *>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw KxError("cannot start the mariadb client");
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw KxError("the mariadb client failed");
}

} // namespace

} // namespace offline_upgrade

int main(int argc, char **argv)
{
    using namespace offline_upgrade;
    if (argc < 2) {
        std::fprintf(stderr, "usage: script_runner_bench WORK_DIR [ROUNDS]\n");
        return 2;
    }
    const std::filesystem::path work = std::filesystem::absolute(argv[1]) / "kx-script-bench";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    try {
        // The bench database, through the test database the server was started with.
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
        auto resetTable = [&] {
            adminCommand.SetCommandText(
                "DROP TABLE IF EXISTS bench_rows;\nCREATE TABLE bench_rows (id INT PRIMARY KEY, "
                "name VARCHAR(40), note VARCHAR(80)) ENGINE=InnoDB");
            adminCommand.Execute();
        };
        auto checkRows = [&](long long expected, const char *who) {
            count.Close();
            count.SetSQL("SELECT COUNT(*) FROM bench_rows");
            count.Open();
            if (std::stoll(count.FirstFieldText()) != expected)
                throw KxError(std::string(who) + " did not insert every row");
        };

        StageParts parts(std::string{});
        parts.Package.PackageName = "bench.zip";
        parts.Package.DbType = kDbTypeMySql;
        parts.Product.ServerName = kServer;
        parts.Product.DBaseName = kDatabase;
        parts.Product.UserName = kUser;
        parts.Product.PassWord = kPassword;
        parts.LocalIP.clear();
        OdbcConnection tempConnection;
        OdbcQuery ADOQuery(tempConnection);
        OdbcCommand updataExec(tempConnection);
        NoOpWindow window;
        PosixFileSystem files;
        UpgradeContext context = parts.Context(work.string() + "/", window, files, tempConnection,
                                               ADOQuery, updataExec, parts.Processes);

        std::printf("%-22s %10s %10s %8s\n", "load", "runner s", "client s", "ratio");
        for (const Load &load : {OneRowInserts(), HundredRowInserts()}) {
            std::string script, batch;
            for (size_t i = 0; i < load.Statements.size(); ++i) {
                script += "-- sql begin block " + std::to_string(i + 1) + "\r\n" +
                          load.Statements[i] + "\r\n-- end sql\r\n";
                batch += load.Statements[i] + ";\n";
            }
            WriteFile(work / "TempUpdate/bench/UpdateSQL.sql", script);
            const std::string batchFile = (work / "batch.sql").string();
            WriteFile(batchFile, batch);
            parts.Package.SQLCount = static_cast<int32_t>(load.Statements.size());

            auto runOurs = [&] {
                if (!ConnectProductDatabase(context) || !RunUpgradeScripts(context, true))
                    throw KxError("the runner failed");
                tempConnection.Close();
            };
            auto runClient = [&] { RunClient(batchFile); };

            std::vector<double> ours, client, ratios;
            for (int round = 0; round < rounds; ++round) {
                double a = 0;
                double b = 0;
                // Alternate who goes first, so neither always meets a warmer server.
                for (int turn = 0; turn < 2; ++turn) {
                    const bool oursNow = (turn == 0) == (round % 2 == 0);
                    resetTable();
                    if (oursNow) {
                        a = Seconds(runOurs);
                        checkRows(load.Rows, "the runner");
                    } else {
                        b = Seconds(runClient);
                        checkRows(load.Rows, "the client");
                    }
                }
                ours.push_back(a);
                client.push_back(b);
                ratios.push_back(a / b);
            }
            std::printf(
                "%-22s %10.3f %10.3f %8.2f   (median of %d rounds; ratio of medians %.2f)\n",
                load.Name.c_str(), Median(ours), Median(client), Median(ratios), rounds,
                Median(ours) / Median(client));
        }
        adminCommand.SetCommandText("DROP DATABASE IF EXISTS " + kDatabase);
        adminCommand.Execute();
    } catch (const std::exception &error) {
        std::fprintf(stderr, "script_runner_bench: %s\n", error.what());
        std::filesystem::remove_all(work);
        return 1;
    }
    std::filesystem::remove_all(work);
    return 0;
}
