#pragma once
// How both windows keep answering during a long call of the upgrade that waits on something
// outside the tool (the database running a block, opening a connection): the call runs on a
// thread of its own while the window's thread pumps its messages, so the window paints and
// takes input meanwhile. Each window's RunWhileAnswering is this.

#include "platform/window_facilities.h"

#include <chrono>
#include <functional>

namespace offline_upgrade {

// How often the window pumps while the work runs: the pace of the archiver waits.
inline constexpr std::chrono::milliseconds kOffThreadPumpInterval{10};

// Runs work to its end on a thread of its own and returns then; what work throws is thrown
// here, on the caller's thread. Meanwhile the caller's thread pumps the window's messages
// (window.ProcessMessages) every kOffThreadPumpInterval until work has ended.
void RunOffWindowThread(IWindowFacilities &window, const std::function<void()> &work);

} // namespace offline_upgrade
