#pragma once
// The system's own services of the platform the program is built for. The build picks the one
// implementation (posix/ or win/); callers name only the interfaces.

#include "platform/file_system.h"
#include "platform/host_identity.h"
#include "platform/process.h"
#include "platform/registry.h"

#include <memory>
#include <string>

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
// registration. Never throws beyond std::bad_alloc.
std::unique_ptr<IRegistry> MakeRegistryFromStore(const std::string &storePath);
