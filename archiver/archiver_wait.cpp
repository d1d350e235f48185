#include "archiver/archiver_wait.h"

#include "archiver/archiver_commands.h"
#include "platform/diagnostics.h"

namespace offline_upgrade {

namespace {

const int kPlainWaitSleepMs = 10;
const int kProgressWaitSleepMs = 5;
const int kProgressStep = 10;

} // namespace

bool WaitForArchiver(IProcesses &processes, IWindowFacilities &window,
                     std::chrono::milliseconds limit)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    while (processes.IsProcessRunning(kArchiverImageName)) {
        // In milliseconds, so that a limit as large as the type allows cannot overflow.
        if (std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start) >= limit) {
            if (!processes.LastHasEnded())
                return false;
            LogWarning("another program's process named " + std::string(kArchiverImageName) +
                       " still runs after " + std::to_string(limit.count()) +
                       " ms; the archiver this tool started has ended, so the wait ends");
            return true;
        }
        processes.Sleep(kPlainWaitSleepMs);
        window.ProcessMessages();
    }
    return true;
}

void WaitForArchiverWithProgress(IProcesses &processes, IWindowFacilities &window)
{
    while (processes.IsProcessRunning(kArchiverImageName)) {
        window.SetProgressPosition(window.ProgressPosition() + kProgressStep);
        // Read back: the bar holds a position above its maximum at the maximum.
        if (window.ProgressPosition() >= window.ProgressMax())
            window.SetProgressPosition(0);
        processes.Sleep(kProgressWaitSleepMs);
        window.ProcessMessages();
    }
}

} // namespace offline_upgrade
