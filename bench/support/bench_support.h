#pragma once
// What the benchmark programs share: the median of a series of timings, and stand-ins for the
// services a stage needs but a benchmark does not measure.

#include "platform/data_access.h"
#include "platform/process.h"
#include "platform/window_facilities.h"
#include "upgrade/upgrade_context.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace offline_upgrade::bench {

inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Draws nothing; keeps the bar like the window does and counts what a stage asked of it.
class NoOpWindow : public IWindowFacilities {
public:
    void SetStepText(const std::string &) override {}
    std::string StepText() const override { return {}; }
    void SetProgressMax(int maximum) override
    {
        max_ = std::max(maximum, 0);
        position_ = std::min(position_, max_);
    }
    int ProgressMax() const override { return max_; }
    void SetProgressPosition(int position) override { position_ = std::clamp(position, 0, max_); }
    int ProgressPosition() const override { return position_; }
    void ProcessMessages() override { ++Pumps; }
    void Repaint() override { ++Repaints; }
    void ShowMessage(const std::string &text, const std::string &, MessageIcon) override
    {
        Messages.push_back(text);
    }

    long Pumps = 0;
    long Repaints = 0;
    std::vector<std::string> Messages;

private:
    int max_ = 100;
    int position_ = 0;
};

class NoConnection : public IConnection {
public:
    void SetConnectionString(const std::string &) override {}
    std::string ConnectionString() const override { return {}; }
    bool Connected() const override { return false; }
    void Open() override {}
    void Close() override {}
};

class NoQuery : public IQuery {
public:
    void Close() override {}
    void SetSQL(const std::string &) override {}
    void Open() override {}
    std::string FirstFieldText() override { return {}; }
};

class NoCommand : public ICommand {
public:
    void SetCommandText(const std::string &) override {}
    void Execute() override {}
};

class NoProcesses : public IProcesses {
public:
    bool Start(const std::string &) override { return false; }
    bool IsProcessRunning(const std::string &) override { return false; }
    void Sleep(int) override {}
    std::optional<int> LastExitCode() override { return {}; }
    bool LastHasEnded() override { return true; }
    bool EndLast() override { return false; }
    std::string LastErrorOutput() override { return {}; }
};

// What a benchmark's upgrade context is made of. As made: the package "pkg.zip" for the
// product in target, a fixed host, no database and no processes, for measuring the file stage
// alone; the benchmarks with a database fill in their package and product and hand their own
// connection, query, command and processes to Context.
struct StageParts {
    explicit StageParts(const std::string &target)
    {
        Package.PackageName = "pkg.zip";
        Product.Path = target;
    }
    T_PackageInfo Package;
    T_ProductReg Product;
    std::string ComputerName = "bench";
    std::string LocalIP = "127.0.0.1";
    NoConnection Connection;
    NoQuery Query;
    NoCommand Command;
    NoProcesses Processes;

    UpgradeContext Context(const std::string &programFolder, IWindowFacilities &window,
                           IFileSystem &files)
    {
        return Context(programFolder, window, files, Connection, Query, Command, Processes);
    }
    UpgradeContext Context(const std::string &programFolder, IWindowFacilities &window,
                           IFileSystem &files, IConnection &connection, IQuery &query,
                           ICommand &command, IProcesses &processes)
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
            .Window = window,
            .Files = files,
            .Processes = processes,
        };
    }
};

} // namespace offline_upgrade::bench
