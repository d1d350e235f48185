// A stand-in program for the process tests: sleeps the given milliseconds, then exits with
// the given code. Copied under other names (KX_Rar.exe) where a test needs another image name.
#include <windows.h>

#include <cstdlib>

int main(int argc, char **argv)
{
    const int milliseconds = argc > 1 ? std::atoi(argv[1]) : 0;
    const int code = argc > 2 ? std::atoi(argv[2]) : 0;
    Sleep(static_cast<DWORD>(milliseconds));
    return code;
}
