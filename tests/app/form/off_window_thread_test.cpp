// A long call run while the window keeps answering, on both systems: the call runs on a
// thread of its own, the window's thread pumps until it has ended, and what it throws comes
// back to the caller.
#include "app/form/off_window_thread.h"

#include "platform/error.h"
#include "tests/support/recording_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace offline_upgrade {

namespace {

// How long a case waits for what it expects before it gives up (a hang guard, not a measure).
constexpr auto kPatience = std::chrono::seconds(30);

TEST(RunOffWindowThread, TheWindowPumpsWhileTheCallRunsAndItsErrorComesBack)
{
    struct Outcome {
        bool otherThread = false; // the call ran off the caller's thread
        bool sawPump = false;     // the caller's thread pumped while the call ran
    };
    struct Case {
        const char *what;
        // The call; waitForPump: it runs until the window has pumped (or gives up).
        bool waitForPump;
        const char *throws; // the call throws KxError with this text; none when null
    };
    const Case cases[] = {
        {"a call that lasts until the window has pumped", true, nullptr},
        {"a call that fails while the window pumps", true, "block refused"},
        {"a call that ends at once", false, nullptr},
        {"a call that fails at once", false, "cannot open"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(std::string("case ") + std::to_string(i) + " " + cases[i].what);
        RecordingWindow window;
        std::atomic<int> pumps{0};
        window.OnPump = [&] { ++pumps; };
        const std::thread::id caller = std::this_thread::get_id();
        Outcome outcome;
        std::string thrown;
        try {
            RunOffWindowThread(window, [&] {
                outcome.otherThread = std::this_thread::get_id() != caller;
                if (cases[i].waitForPump && outcome.otherThread) {
                    const auto until = std::chrono::steady_clock::now() + kPatience;
                    while (pumps == 0 && std::chrono::steady_clock::now() < until)
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    outcome.sawPump = pumps > 0;
                }
                if (cases[i].throws)
                    throw KxError(cases[i].throws);
            });
        } catch (const KxError &error) {
            thrown = error.what();
        }
        EXPECT_TRUE(outcome.otherThread);
        if (cases[i].waitForPump) {
            EXPECT_TRUE(outcome.sawPump);
        }
        EXPECT_EQ(thrown, cases[i].throws ? cases[i].throws : "");
        // Nothing of the window is touched but its pump.
        for (const std::string &call : window.Calls)
            EXPECT_EQ(call, "pump");
    }
}

} // namespace

} // namespace offline_upgrade
