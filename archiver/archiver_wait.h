#pragma once
// The waits for the archiver. The tool keeps no handle of the archiver it starts; a wait ends
// in the first pass in which no process named KX_Rar.exe runs, whoever started it. Neither
// wait has a time limit; the message pump runs in every pass, so the window stays responsive.

#include "platform/process.h"
#include "platform/window_facilities.h"

// The wait of the package scan, after the comment command: while an archiver runs, sleep
// 10 ms and pump messages once. An archiver already gone ends it without sleeping or pumping.
void WaitForArchiver(IProcesses &processes, IWindowFacilities &window);

// The wait of the upgrade run, after the extract command, expecting the progress bar at 0 of
// 100: while an archiver runs, move the bar on by 10 (back to 0 where it reaches its maximum,
// so it shows 10 to 90, then 0), sleep 5 ms and pump messages once. An archiver already gone
// ends it without moving the bar, sleeping or pumping.
void WaitForArchiverWithProgress(IProcesses &processes, IWindowFacilities &window);
