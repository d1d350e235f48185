#pragma once
// Keeps the log's records while it lives, for tests that look for a stage's reasons.

#include "platform/diagnostics.h"

#include <string>
#include <string_view>
#include <vector>

namespace offline_upgrade {

class LogRecorder : public ILogSink {
public:
    LogRecorder() { SetLogSink(this); }
    ~LogRecorder() override { SetLogSink(nullptr); }
    LogRecorder(const LogRecorder &) = delete;
    LogRecorder &operator=(const LogRecorder &) = delete;

    void Write(LogLevel level, std::string_view line) override
    {
        Lines.emplace_back(line);
        if (level == LogLevel::Error)
            Errors.emplace_back(line);
    }
    // Every record, one per row, for a failure message.
    std::string Text() const
    {
        std::string text;
        for (const std::string &line : Lines)
            text += line + "\n";
        return text;
    }
    bool Holds(const std::string &part) const { return Text().find(part) != std::string::npos; }

    std::vector<std::string> Lines;
    std::vector<std::string> Errors;
};

} // namespace offline_upgrade
