// The module with the commands x and a; see ops_module.h.

#include "ops_module.h"

#include "ops_commands.h"

#include <clocale>
#include <string>
#include <vector>

extern "C" __attribute__((visibility("default"))) int KxRarRunOps(int argc, char **argv)
{
    // Entry names flagged as UTF-8 then come through unchanged, whatever the caller's
    // locale; names without the flag are taken as raw bytes anyway.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    return kx_rar::RunOpsCommandLine(std::vector<std::string>(argv + 1, argv + argc));
}
