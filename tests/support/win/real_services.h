#pragma once
// The real services of Windows, one name each, for the tests that run the logic on the real
// file system, processes, registry and host. The build puts this folder or posix/ on the tests'
// include path.

#include "platform/win/file_system_win.h"
#include "platform/win/host_identity_win.h"
#include "platform/win/process_win.h"
#include "platform/win/registry_win.h"

namespace offline_upgrade {

using SystemFileSystem = WinFileSystem;
using SystemProcesses = WinProcesses;
using SystemRegistry = WinRegistry;
using SystemHostIdentity = WinHostIdentity;

} // namespace offline_upgrade
