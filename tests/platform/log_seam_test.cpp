// The log seam on both systems: a sink gets one line at a time, whatever threads log at once
// (a long call of the upgrade logs on its own thread while the window's thread logs too).
#include "platform/diagnostics.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace offline_upgrade {

namespace {

// A sink with no guard of its own, which notes when a line arrives while another is written.
class UnguardedSink : public ILogSink {
public:
    void Write(LogLevel, std::string_view line) override
    {
        if (inside_.fetch_add(1) != 0)
            overlapped_ = true;
        std::this_thread::yield();
        Lines.emplace_back(line);
        inside_.fetch_sub(1);
    }
    bool Overlapped() const { return overlapped_; }
    std::vector<std::string> Lines;

private:
    std::atomic<int> inside_{0};
    std::atomic<bool> overlapped_{false};
};

TEST(LogSeam, ASinkGetsOneLineAtATimeFromThreadsLoggingAtOnce)
{
    UnguardedSink sink;
    const ScopedLogSink installed(sink);
    const int perThread = 2000;
    std::atomic<bool> go{false};
    auto logger = [&](const char *who) {
        while (!go)
            std::this_thread::yield();
        for (int line = 0; line < perThread; ++line)
            LogInfo(std::string(who) + " " + std::to_string(line));
    };
    std::thread window(logger, "window");
    std::thread block(logger, "block");
    go = true;
    window.join();
    block.join();

    EXPECT_FALSE(sink.Overlapped());
    EXPECT_EQ(sink.Lines.size(), static_cast<size_t>(2 * perThread));
}

} // namespace

} // namespace offline_upgrade
