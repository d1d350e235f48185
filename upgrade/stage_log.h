#pragma once
// The log of one stage of an upgrade: its start, and its end with the outcome and the time it
// took, whichever way it ends.

#include <chrono>
#include <string>

namespace offline_upgrade {

class StageLog {
public:
    explicit StageLog(std::string name);
    // "<name>: succeeded|failed|ended by an error after N ms". Without Done and without an
    // error leaving the stage, the stage counts as failed.
    ~StageLog();
    StageLog(const StageLog &) = delete;
    StageLog &operator=(const StageLog &) = delete;

    // Records the stage's outcome and gives it back, for "return stage.Done(ok);".
    bool Done(bool ok)
    {
        ok_ = ok;
        return ok;
    }

private:
    std::string name_;
    std::chrono::steady_clock::time_point start_;
    int errorsAtStart_;
    bool ok_ = false;
};

// Milliseconds since start, as the log shows times.
std::string MillisecondsSince(std::chrono::steady_clock::time_point start);

} // namespace offline_upgrade
