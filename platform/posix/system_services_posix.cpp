#include "platform/system_services.h"

#include "platform/posix/file_system_posix.h"
#include "platform/posix/host_identity_posix.h"
#include "platform/posix/process_posix.h"
#include "platform/posix/registry_posix.h"

SystemServices MakeSystemServices()
{
    SystemServices services;
    services.Files = std::make_unique<PosixFileSystem>();
    services.Processes = std::make_unique<PosixProcesses>();
    services.Registry = std::make_unique<RegFileRegistry>(DefaultRegistryStorePath());
    services.Host = std::make_unique<PosixHostIdentity>();
    return services;
}

std::unique_ptr<IRegistry> MakeRegistryFromStore(const std::string &storePath)
{
    return std::make_unique<RegFileRegistry>(storePath);
}
