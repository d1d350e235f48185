#include "upgrade/stage_log.h"

#include "platform/diagnostics.h"

#include <exception>

namespace offline_upgrade {

std::string MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    return std::to_string(elapsed.count()) + " ms";
}

StageLog::StageLog(std::string name)
    : name_(std::move(name)), start_(std::chrono::steady_clock::now()),
      errorsAtStart_(std::uncaught_exceptions())
{
    LogInfo(name_ + ": started");
}

StageLog::~StageLog()
{
    try {
        const std::string time = " after " + MillisecondsSince(start_);
        if (std::uncaught_exceptions() > errorsAtStart_)
            LogError(name_ + ": ended by an error" + time);
        else if (ok_)
            LogInfo(name_ + ": succeeded" + time);
        else
            LogError(name_ + ": failed" + time);
    } catch (...) {
        // Out of memory for a log line: the stage's outcome stands all the same.
    }
}

} // namespace offline_upgrade
