// A stand-in program for the process tests: sleeps the given milliseconds, writes the third
// argument (if any) to standard error, then exits with the given code. Copied under other names
// (KX_Rar.exe) where a test needs another image name.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    const int milliseconds = argc > 1 ? std::atoi(argv[1]) : 0;
    const int code = argc > 2 ? std::atoi(argv[2]) : 0;
    Sleep(static_cast<DWORD>(milliseconds));
    if (argc > 3)
        std::fputs(argv[3], stderr);
    return code;
}
