#include "archiver/archiver_wait.h"

#include "tests/support/recording_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

using ::testing::Each;
using ::testing::ElementsAre;

// Says "running" for the first runningPasses checks, then "gone". Its calls go into the
// window's call list, so one list shows the order of checks, sleeps, bar moves and pumps.
class FakeProcesses : public IProcesses {
public:
    FakeProcesses(RecordingWindow &window, int runningPasses)
        : window_(window), runningLeft_(runningPasses)
    {
    }
    bool Start(const std::string &) override { return true; }
    bool IsProcessRunning(const std::string &imageName) override
    {
        AskedNames.push_back(imageName);
        window_.Calls.push_back("check");
        if (runningLeft_ == 0)
            return false;
        --runningLeft_;
        return true;
    }
    void Sleep(int milliseconds) override
    {
        window_.Calls.push_back("sleep:" + std::to_string(milliseconds));
    }
    std::optional<int> LastExitCode() override { return 0; }
    bool LastHasEnded() override { return OursEnded; }
    bool EndLast() override { return true; }
    std::string LastErrorOutput() override { return {}; }

    std::vector<std::string> AskedNames;
    // Whether the archiver this tool started has ended; the running ones above are then
    // someone else's.
    bool OursEnded = true;

private:
    RecordingWindow &window_;
    int runningLeft_;
};

TEST(WaitForArchiver, SleepsTenThenPumpsForEveryPassTheArchiverRuns)
{
    const struct {
        int running;
        std::vector<std::string> calls;
    } cases[] = {
        {0, {"check"}},
        {1, {"check", "sleep:10", "pump", "check"}},
        {3,
         {"check", "sleep:10", "pump", "check", "sleep:10", "pump", "check", "sleep:10", "pump",
          "check"}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        RecordingWindow window;
        FakeProcesses processes(window, cases[i].running);
        EXPECT_TRUE(WaitForArchiver(processes, window, std::chrono::hours(1))) << "case " << i;
        EXPECT_EQ(window.Calls, cases[i].calls) << "case " << i;
        EXPECT_THAT(processes.AskedNames, Each(std::string("KX_Rar.exe"))) << "case " << i;
    }
}

// At the limit only our own archiver still running ends the wait with false; another
// program's process of that image name holds the wait up to the limit, and then the package
// is examined.
TEST(WaitForArchiver, AtTheLimitOnlyOurOwnArchiverStillRunningGivesUp)
{
    const struct {
        int running; // passes in which some KX_Rar.exe runs
        bool oursEnded;
        int limitMs;
        bool expected;
    } cases[] = {
        {1000000, false, 0, false}, // ours hangs
        {1000000, true, 0, true},   // ours ended, a foreign one runs on
        {0, false, 0, true},        // none runs (ours reaped elsewhere)
        {1000000, false, 30, false}, {1000000, true, 30, true},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        RecordingWindow window;
        FakeProcesses processes(window, cases[i].running);
        processes.OursEnded = cases[i].oursEnded;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(WaitForArchiver(processes, window, std::chrono::milliseconds(cases[i].limitMs)),
                  cases[i].expected)
            << "case " << i;
        if (cases[i].limitMs == 0) {
            EXPECT_EQ(window.Calls, std::vector<std::string>{"check"}) << "case " << i;
        } else {
            // A real limit: the passes go on until it has passed, whoever's archiver runs.
            EXPECT_GE(std::chrono::steady_clock::now() - start,
                      std::chrono::milliseconds(cases[i].limitMs))
                << "case " << i;
            EXPECT_GT(window.Pumps, 0) << "case " << i;
        }
    }
}

TEST(WaitForArchiverWithProgress, ArchiverAlreadyGoneLeavesTheBarAlone)
{
    RecordingWindow window;
    window.SetProgressPosition(0);
    window.Calls.clear();
    window.Positions.clear();
    FakeProcesses processes(window, 0);
    WaitForArchiverWithProgress(processes, window);
    EXPECT_EQ(window.Calls, std::vector<std::string>{"check"});
    EXPECT_EQ(window.ProgressPosition(), 0);
}

TEST(WaitForArchiverWithProgress, MovesByTenAndWrapsToZeroBeforeAnythingIsPainted)
{
    RecordingWindow window;
    window.SetProgressMax(100);
    window.SetProgressPosition(0);
    window.Calls.clear();
    window.Positions.clear();
    FakeProcesses processes(window, 12);
    WaitForArchiverWithProgress(processes, window);

    EXPECT_THAT(window.Positions, ElementsAre(10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 0, 10, 20));
    // One pass: check, move, sleep 5, pump. The pass that reaches the maximum sets 0 before
    // it sleeps or pumps, so no pump ever sees the bar full.
    const std::vector<std::string> wrapPass = {"check", "pos:100", "pos:0", "sleep:5", "pump"};
    const std::vector<std::string> firstPass = {"check", "pos:10", "sleep:5", "pump"};
    const size_t wrapAt = 9 * firstPass.size(); // after the passes to 10 .. 90
    ASSERT_GE(window.Calls.size(), wrapAt + wrapPass.size());
    EXPECT_TRUE(std::equal(firstPass.begin(), firstPass.end(), window.Calls.begin()));
    EXPECT_TRUE(std::equal(wrapPass.begin(), wrapPass.end(),
                           window.Calls.begin() + static_cast<std::ptrdiff_t>(wrapAt)));
    EXPECT_EQ(window.Calls.back(), "check");
    EXPECT_EQ(window.Pumps, 12);
}

// Event handlers run inside the pump; what they do to the bar is read back on the next pass.
TEST(WaitForArchiverWithProgress, ContinuesFromWhereAHandlerLeftTheBar)
{
    RecordingWindow window;
    window.SetProgressPosition(0);
    window.OnPump = [&window] {
        if (window.Pumps == 1)
            window.SetProgressPosition(85);
    };
    window.Positions.clear();
    FakeProcesses processes(window, 3);
    WaitForArchiverWithProgress(processes, window);
    EXPECT_THAT(window.Positions, ElementsAre(10, 85, 95, 100, 0));
}

} // namespace

} // namespace offline_upgrade
