#include "tests/support/archiver_stand_in.h"

#include <windows.h>

#include <shellapi.h>

#include <cstring>
#include <string>
#include <vector>

namespace offline_upgrade {

bool ActAsArchiverIfAsked()
{
    std::vector<wchar_t> real(32768);
    const std::wstring variable(kStandInVariable, kStandInVariable + strlen(kStandInVariable));
    if (GetEnvironmentVariableW(variable.c_str(), real.data(), static_cast<DWORD>(real.size())) ==
        0)
        return false;
    int count = 0;
    LPWSTR *arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; arguments && i < count; ++i) {
        if (std::wstring(arguments[i]).ends_with(L"_stuck.zip"))
            Sleep(INFINITE);
    }
    // The real archiver gets the command line as it was given, after this program's name.
    std::wstring line = GetCommandLineW();
    size_t rest = 0;
    if (!line.empty() && line[0] == L'"')
        rest = line.find(L'"', 1) + 1;
    else
        rest = line.find_first_of(L" \t");
    std::wstring command = L"\"" + std::wstring(real.data()) + L"\"" +
                           (rest == std::wstring::npos ? L"" : line.substr(rest));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(real.data(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
        ExitProcess(127);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 127;
    GetExitCodeProcess(process.hProcess, &code);
    ExitProcess(code);
}

std::filesystem::path ThisProgram()
{
    std::vector<wchar_t> name(32768);
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    return std::filesystem::path(std::wstring(name.data(), length));
}

void SetTestVariable(const char *name, const char *value)
{
    const std::string text = value ? value : "";
    SetEnvironmentVariableW(std::wstring(name, name + strlen(name)).c_str(),
                            value ? std::wstring(text.begin(), text.end()).c_str() : nullptr);
}

} // namespace offline_upgrade
