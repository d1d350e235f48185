// kxpack: the package makers' tool. It lies beside offline-upgrade and KX_Rar.exe and runs
// that archiver, as the tool does.

#include "archiver/archiver_commands.h"
#include "kxpack/kxpack.h"
#include "platform/console.h"
#include "platform/odbc/odbc_data_access.h"
#include "platform/program_folder.h"
#include "platform/system_services.h"

#include <exception>
#include <iostream>

int main(int argc, char **argv)
{
    namespace ou = offline_upgrade;
    ou::UseUtf8StandardStreams();
    try {
        ou::SystemServices system = ou::MakeSystemServices();
        const kxpack::KxpackServices services{
            *system.Files, ou::GetProgramFolder() + ou::kArchiverImageName,
            ou::MakeRegistryFromStore, ou::OpenMachineRegistration, ou::ListOdbcDrivers};
        return kxpack::RunKxpack(services, ou::ProgramArguments(argc, argv), std::cout, std::cerr);
    } catch (const std::exception &e) {
        std::cerr << "kxpack: " << e.what() << "\n";
        return kxpack::kPackUnreadable;
    }
}
