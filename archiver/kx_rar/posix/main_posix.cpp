// The program's start on POSIX: x and a come from the module built into the program.

#include "kx_rar_main.h"
#include "ops_loader.h"

int main(int argc, char **argv)
{
    return kx_rar::KxRarMain(std::vector<std::string>(argv + 1, argv + argc),
                             [&] { return kx_rar::RunOpsCommand(argc, argv); });
}
