#include "platform/system_services.h"

#include "platform/registry_views.h"
#include "platform/win/file_system_win.h"
#include "platform/win/host_identity_win.h"
#include "platform/win/process_win.h"
#include "platform/win/registry_win.h"

namespace offline_upgrade {

SystemServices MakeSystemServices()
{
    SystemServices services;
    services.Files = std::make_unique<WinFileSystem>();
    services.Processes = std::make_unique<WinProcesses>();
    services.Registry = std::make_unique<WinRegistry>();
    services.Host = std::make_unique<WinHostIdentity>();
    return services;
}

std::unique_ptr<IRegistry> MakeRegistryFromStore(const std::string &storePath)
{
    return std::make_unique<NoWriteRegistry>(std::make_unique<StoreFileRegistry>(storePath));
}

MachineRegistration OpenMachineRegistration()
{
    return {"HKEY_LOCAL_MACHINE (32-bit view)",
            {},
            std::make_unique<NoWriteRegistry>(std::make_unique<WinRegistry>())};
}

} // namespace offline_upgrade
