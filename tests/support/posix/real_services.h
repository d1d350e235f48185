#pragma once
// The real services of POSIX, one name each, for the tests that run the logic on the real file
// system, processes, registry and host. The build puts this folder or win/ on the tests'
// include path.

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
