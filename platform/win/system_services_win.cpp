#include "platform/system_services.h"

#include "platform/win/file_system_win.h"
#include "platform/win/host_identity_win.h"
#include "platform/win/process_win.h"
#include "platform/win/registry_win.h"

SystemServices MakeSystemServices()
{
    SystemServices services;
    services.Files = std::make_unique<WinFileSystem>();
    services.Processes = std::make_unique<WinProcesses>();
    services.Registry = std::make_unique<WinRegistry>();
    services.Host = std::make_unique<WinHostIdentity>();
    return services;
}
