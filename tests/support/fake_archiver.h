#pragma once
// The archiver stand-in of the stage tests: it "unpacks" by running OnStart and then ends with
// ExitCode at once, and remembers every command line it was given.

#include "platform/process.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace offline_upgrade {

class FakeArchiver : public IProcesses {
public:
    bool Start(const std::string &commandLine) override
    {
        Started.push_back(commandLine);
        if (!CanStart)
            return false;
        if (OnStart)
            OnStart();
        return true;
    }
    bool IsProcessRunning(const std::string &) override { return false; }
    void Sleep(int) override {}
    std::optional<int> LastExitCode() override { return ExitCode; }
    bool LastHasEnded() override { return true; }
    bool EndLast() override { return true; }
    std::string LastErrorOutput() override { return ErrorOutput; }

    bool CanStart = true;
    std::optional<int> ExitCode = 0; // nothing: killed by a signal
    std::function<void()> OnStart;
    std::string ErrorOutput;
    std::vector<std::string> Started;
};

} // namespace offline_upgrade
