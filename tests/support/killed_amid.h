#pragma once
// A process killed while its file stage is half done (POSIX: killed_amid_posix.cpp).

#include "tests/support/faulty_file_system.h"

#include <functional>

namespace offline_upgrade {

// Runs run() in a child process whose file system files stops it at its n-th step that moves a
// file into or out of place (RenameFile or ExchangeFiles), where this process kills it. True
// when the child reached that step and was killed there; false when it ended on its own.
bool KilledAtFileMove(FaultyFileSystem &files, int n, const std::function<void()> &run);

} // namespace offline_upgrade
