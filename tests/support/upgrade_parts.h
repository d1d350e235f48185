#pragma once
// What an UpgradeContext refers to, for tests of the stages: the package and product to fill
// in, one fixed host, a recording window, no processes, and a database that fails the test
// when a stage reaches it. Context() names each field, so a new one cannot shift the others.

#include "platform/data_access.h"
#include "tests/support/no_processes.h"
#include "tests/support/recording_window.h"
#include "upgrade/upgrade_context.h"

#include <gtest/gtest.h>

#include <string>

namespace offline_upgrade {

class UnusedConnection : public IConnection {
public:
    void SetConnectionString(const std::string &) override { ADD_FAILURE(); }
    std::string ConnectionString() const override { return {}; }
    bool Connected() const override { return false; }
    void Open() override { ADD_FAILURE(); }
    void Close() override {}
};

class UnusedQuery : public IQuery {
public:
    void Close() override {}
    void SetSQL(const std::string &) override { ADD_FAILURE(); }
    void Open() override { ADD_FAILURE(); }
    std::string FirstFieldText() override { return {}; }
};

class UnusedCommand : public ICommand {
public:
    void SetCommandText(const std::string &) override { ADD_FAILURE(); }
    void Execute() override { ADD_FAILURE(); }
};

// The host every stage test runs on.
inline const std::string kTestComputerName = "host";
inline const std::string kTestLocalIp = "127.0.0.1";

struct UpgradeParts {
    // Each field has an initializer, so that naming only some of them is no missing one.
    T_PackageInfo Package{};
    T_ProductReg Product{};
    std::string ComputerName = kTestComputerName;
    std::string LocalIP = kTestLocalIp;
    UnusedConnection Connection{};
    UnusedQuery Query{};
    UnusedCommand Command{};
    RecordingWindow Window{};
    NoProcesses Processes{};

    // A context over these parts; the database and the processes may be given real ones.
    UpgradeContext Context(const std::string &programFolder, IFileSystem &files)
    {
        return Context(programFolder, files, Connection, Query, Command, Processes);
    }
    UpgradeContext Context(const std::string &programFolder, IFileSystem &files,
                           IConnection &connection, IQuery &query, ICommand &command,
                           IProcesses &processes)
    {
        return UpgradeContext{
            .ProgramFolder = programFolder,
            .Package = Package,
            .Product = Product,
            .ComputerName = ComputerName,
            .LocalIP = LocalIP,
            .tempConnection = connection,
            .ADOQuery = query,
            .updataExec = command,
            .Window = Window,
            .Files = files,
            .Processes = processes,
        };
    }
};

} // namespace offline_upgrade
