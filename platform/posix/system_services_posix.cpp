#include "platform/system_services.h"

#include "platform/diagnostics.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/host_identity_posix.h"
#include "platform/posix/process_posix.h"
#include "platform/posix/registry_posix.h"

#include <cstdlib>

namespace offline_upgrade {

SystemServices MakeSystemServices()
{
    SystemServices services;
    services.Files = std::make_unique<PosixFileSystem>();
    services.Processes = std::make_unique<PosixProcesses>();
    const std::string store = DefaultRegistryStorePath();
    const char *named = std::getenv("KX_REGISTRY");
    LogInfo(
        "registry store: " + store +
        (named && *named ? " (named by KX_REGISTRY)" : " (the default; KX_REGISTRY is not set)"));
    services.Registry = std::make_unique<RegFileRegistry>(store);
    services.Host = std::make_unique<PosixHostIdentity>();
    return services;
}

std::unique_ptr<IRegistry> MakeRegistryFromStore(const std::string &storePath)
{
    return std::make_unique<RegFileRegistry>(storePath);
}

MachineRegistration OpenMachineRegistration()
{
    const std::string store = DefaultRegistryStorePath();
    return {store, store, nullptr};
}

} // namespace offline_upgrade
