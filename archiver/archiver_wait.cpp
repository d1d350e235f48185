#include "archiver/archiver_wait.h"

#include "archiver/archiver_commands.h"

namespace {

const int kPlainWaitSleepMs = 10;
const int kProgressWaitSleepMs = 5;
const int kProgressStep = 10;

} // namespace

void WaitForArchiver(IProcesses &processes, IWindowFacilities &window)
{
    while (processes.IsProcessRunning(kArchiverImageName)) {
        processes.Sleep(kPlainWaitSleepMs);
        window.ProcessMessages();
    }
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
