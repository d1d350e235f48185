#pragma once
// Windows tests only: a test that needs a fresh process (a console of its own, a system setting
// read at start) runs this test program again with only itself selected.

#include <windows.h>

#include <string>

namespace offline_upgrade {

// Runs this test program again with only the test named and the environment variable given
// (set for the child only); the child inherits this process's inheritable handles when
// inheritHandles. Returns its exit code, or -1 when it cannot start or does not end within a
// minute.
inline int RunThisTestAgain(const wchar_t *test, const wchar_t *variable, const wchar_t *value,
                            bool inheritHandles = false)
{
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(program) + L"\" --gtest_filter=" + test;
    SetEnvironmentVariableW(variable, value);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessW(program, command.data(), nullptr, nullptr, inheritHandles ? TRUE : FALSE, 0,
                       nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableW(variable, nullptr);
    if (!started)
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

} // namespace offline_upgrade
