#pragma once
// The waits for the archiver. The tool keeps no handle of the archiver it starts; a wait ends
// in the first pass in which no process named KX_Rar.exe runs, whoever started it. The message
// pump runs in every pass, so the window stays responsive.

#include "platform/process.h"
#include "platform/window_facilities.h"

#include <chrono>

namespace offline_upgrade {

// The wait of the package scan, after the comment command: while an archiver runs, sleep
// 10 ms and pump messages once. An archiver already gone ends it without sleeping or pumping.
// A pass that finds an archiver still running once limit has passed since the start ends the
// wait: with false when the archiver this tool started (processes' last) still runs, as one
// damaged or hostile file must not keep the window from ever showing; with true when ours has
// ended and only someone else's program of that image name runs on, so that such a program
// cannot make the scan pass over every package. True also when no archiver runs any more.
bool WaitForArchiver(IProcesses &processes, IWindowFacilities &window,
                     std::chrono::milliseconds limit);

// The wait of the upgrade run, after the extract command, expecting the progress bar at 0 of
// 100: while an archiver runs, move the bar on by 10 (back to 0 where it reaches its maximum,
// so it shows 10 to 90, then 0), sleep 5 ms and pump messages once. An archiver already gone
// ends it without moving the bar, sleeping or pumping. No time limit: a large package may take
// long to unpack.
void WaitForArchiverWithProgress(IProcesses &processes, IWindowFacilities &window);

} // namespace offline_upgrade
