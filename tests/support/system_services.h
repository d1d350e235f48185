#pragma once
// The real services of the platform the tests are built for, one name each, for the tests
// that run the logic on the real file system, processes, registry and host.

#ifdef _WIN32
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
#else
#include "platform/posix/file_system_posix.h"
#include "platform/posix/host_identity_posix.h"
#include "platform/posix/process_posix.h"
#include "platform/posix/registry_posix.h"
namespace offline_upgrade {
using SystemFileSystem = PosixFileSystem;
using SystemProcesses = PosixProcesses;
using SystemRegistry = RegFileRegistry;
using SystemHostIdentity = PosixHostIdentity;
} // namespace offline_upgrade
#endif
