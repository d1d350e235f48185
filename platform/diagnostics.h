#pragma once
// The upgrade log: the one seam through which every stage and platform service records what it
// did and why something failed. The logic never writes files or streams itself; the program
// installs a sink at start, tests install one that records. With no sink installed, lines are
// dropped. Lines are UTF-8 text without a line end. Secrets (passwords in any form) never go in.

#include <string_view>

namespace offline_upgrade {

enum class LogLevel { Info, Warning, Error };

class ILogSink {
public:
    virtual ~ILogSink() = default;
    // Records one line. Never throws: a sink that cannot write drops the line, so a log that
    // cannot be written changes nothing of what the tool does.
    virtual void Write(LogLevel level, std::string_view line) = 0;
};

// Makes sink the receiver of every later line (nullptr: lines are dropped). The caller keeps
// the sink alive until it installs another one or nullptr.
void SetLogSink(ILogSink *sink);

// Records one line through the installed sink, one line at a time from any thread. Never
// throws.
void LogLine(LogLevel level, std::string_view line);

inline void LogInfo(std::string_view line)
{
    LogLine(LogLevel::Info, line);
}
inline void LogWarning(std::string_view line)
{
    LogLine(LogLevel::Warning, line);
}
inline void LogError(std::string_view line)
{
    LogLine(LogLevel::Error, line);
}

// Installs a sink for its own lifetime; lines are dropped again after it.
class ScopedLogSink {
public:
    explicit ScopedLogSink(ILogSink &sink) { SetLogSink(&sink); }
    ~ScopedLogSink() { SetLogSink(nullptr); }
    ScopedLogSink(const ScopedLogSink &) = delete;
    ScopedLogSink &operator=(const ScopedLogSink &) = delete;
};

} // namespace offline_upgrade
