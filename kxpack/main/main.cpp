// kxpack: the package makers' tool. It lies beside offline-upgrade and KX_Rar.exe and runs
// that archiver, as the tool does.

#include "archiver/archiver_commands.h"
#include "kxpack/kxpack.h"
#include "platform/program_folder.h"
#include "platform/system_services.h"

#include <exception>
#include <iostream>

int main(int argc, char **argv)
{
    try {
        SystemServices system = MakeSystemServices();
        const KxpackServices services{*system.Files, GetProgramFolder() + kArchiverImageName,
                                      MakeRegistryFromStore};
        return RunKxpack(services, std::vector<std::string>(argv + 1, argv + argc), std::cout,
                         std::cerr);
    } catch (const std::exception &e) {
        std::cerr << "kxpack: " << e.what() << "\n";
        return kPackUnreadable;
    }
}
