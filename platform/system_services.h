#pragma once
// The system's own services of the platform the program is built for. The build picks the one
// implementation (posix/ or win/); callers name only the interfaces.

#include "platform/file_system.h"
#include "platform/host_identity.h"
#include "platform/process.h"
#include "platform/registry.h"

#include <memory>
#include <string>

namespace offline_upgrade {

struct SystemServices {
    std::unique_ptr<IFileSystem> Files;
    std::unique_ptr<IProcesses> Processes;
    std::unique_ptr<IRegistry> Registry;
    std::unique_ptr<IHostIdentity> Host;
};

// Makes each service once, and logs which registry store it reads and how it was found.
// Never throws beyond std::bad_alloc.
SystemServices MakeSystemServices();

// A registry read from a store file in the registry editor's export format (see the README),
// instead of the system's own: for tools that judge a package against another machine's
// registration. On POSIX it is the store registry of the tool itself, which adds a missing key
// to the file; on Windows the file is only read. Never throws beyond std::bad_alloc.
std::unique_ptr<IRegistry> MakeRegistryFromStore(const std::string &storePath);

// This machine's product registration as the tool reads it, for tools that judge a package
// against it without changing it.
struct MachineRegistration {
    std::string Name; // where it is, for the reader
    // POSIX: the store file the tool reads (KX_REGISTRY, else the default); the caller reads a
    // copy through MakeRegistryFromStore. Empty on Windows.
    std::string StoreFile;
    // Windows: the registry itself (HKEY_LOCAL_MACHINE, 32-bit view) seen through a view that
    // never writes. Empty on POSIX.
    std::unique_ptr<IRegistry> Registry;
};
MachineRegistration OpenMachineRegistration();

} // namespace offline_upgrade
