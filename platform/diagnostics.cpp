#include "platform/diagnostics.h"

#include <atomic>
#include <mutex>

namespace offline_upgrade {

namespace {
std::atomic<ILogSink *> installedSink{nullptr};
// One line at a time, whatever thread logs: the window's and a long call run beside it
// (upgrade/off_window_thread.h) both log, and a sink need not guard itself. Recursive, so a
// sink that logs while it writes does not stop.
std::recursive_mutex writing;
} // namespace

void SetLogSink(ILogSink *sink)
{
    installedSink.store(sink);
}

void LogLine(LogLevel level, std::string_view line)
{
    ILogSink *sink = installedSink.load();
    if (sink == nullptr)
        return;
    try {
        const std::lock_guard<std::recursive_mutex> one(writing);
        sink->Write(level, line);
    } catch (...) {
        // A log that fails must never change the outcome of what it records.
    }
}

} // namespace offline_upgrade
