// The program's start on Windows: the arguments in UTF-8 from the wide command line, so that
// any file name comes through; x and a are linked in.

#include "kx_rar_main.h"
#include "ops_commands.h"

#include "platform/win/wide.h"

#include <windows.h>
#include <shellapi.h>

int main()
{
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; wide && i < count; ++i)
        args.push_back(Narrow(wide[i]));
    if (wide)
        LocalFree(wide);
    return KxRarMain(args, [&] { return RunOpsCommandLine(args); });
}
