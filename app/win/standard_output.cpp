#include "app/win/standard_output.h"

#include "platform/console.h"

#include <windows.h>

namespace {

bool IsConsole(HANDLE handle)
{
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != FALSE;
}

} // namespace

void ConnectStandardOutput()
{
    bool attached = false;
    // The console of the process that started this one, as a console program would have it;
    // "access denied" says that the program has a console already (Wine gives it the parent's).
    auto attach = [&attached] {
        if (!attached)
            attached = AttachConsole(ATTACH_PARENT_PROCESS) != FALSE ||
                       GetLastError() == ERROR_ACCESS_DENIED;
        return attached;
    };
    for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE handle = GetStdHandle(which);
        const DWORD type =
            handle && handle != INVALID_HANDLE_VALUE ? GetFileType(handle) : FILE_TYPE_UNKNOWN;
        // A file or a pipe takes the UTF-8 bytes as they are.
        if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE)
            continue;
        if (type == FILE_TYPE_CHAR) {
            // A console handed over, usable once attached to its console; or a device such as
            // NUL, which takes the bytes.
            if (!IsConsole(handle))
                attach();
            continue;
        }
        if (!attach())
            continue;
        HANDLE console =
            CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (console != INVALID_HANDLE_VALUE)
            SetStdHandle(which, console);
    }
    // Every standard stream that is now a console gets the text as UTF-16.
    UseUtf8StandardStreams();
}
