#include "platform/diagnostics.h"

#include <atomic>
#include <mutex>

namespace {
std::atomic<ILogSink *> installedSink{nullptr};
// Lines may come from helper threads (copies made several at once); a sink sees one at a time.
std::mutex writing;
} // namespace

void SetLogSink(ILogSink *sink) { installedSink.store(sink); }

void LogLine(LogLevel level, std::string_view line)
{
    ILogSink *sink = installedSink.load();
    if (sink == nullptr)
        return;
    try {
        const std::lock_guard<std::mutex> one(writing);
        sink->Write(level, line);
    } catch (...) {
        // A log that fails must never change the outcome of what it records.
    }
}
