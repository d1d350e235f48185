#include "platform/diagnostics.h"

#include <atomic>

namespace {
std::atomic<ILogSink *> installedSink{nullptr};
} // namespace

void SetLogSink(ILogSink *sink) { installedSink.store(sink); }

void LogLine(LogLevel level, std::string_view line)
{
    ILogSink *sink = installedSink.load();
    if (sink == nullptr)
        return;
    try {
        sink->Write(level, line);
    } catch (...) {
        // A log that fails must never change the outcome of what it records.
    }
}
