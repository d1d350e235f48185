// The program's start on Windows: the arguments in UTF-8 from the wide command line, so that
// any file name comes through; x and a are linked in.

#include "kx_rar_main.h"
#include "ops_commands.h"

#include "platform/console.h"

int main()
{
    const std::vector<std::string> args = offline_upgrade::ProgramArguments(0, nullptr);
    return kx_rar::KxRarMain(args, [&] { return kx_rar::RunOpsCommandLine(args); });
}
