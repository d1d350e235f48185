#pragma once
// Processes for tests of stages that start none: nothing can be started and nothing runs.

#include "platform/process.h"

#include <optional>
#include <string>

namespace offline_upgrade {

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

} // namespace offline_upgrade
