#include "platform/win/process_win.h"

#include "platform/diagnostics.h"
#include "platform/win/wide.h"

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <vector>

namespace {

constexpr DWORD kEndWaitMs = 1000;

// NUL, inheritable, for the started program's standard handles.
HANDLE OpenNull(DWORD access)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

std::vector<std::string> SplitWindowsCommandLine(const std::string &commandLine)
{
    std::vector<std::string> arguments;
    if (commandLine.empty())
        return arguments;
    int count = 0;
    wchar_t **list = CommandLineToArgvW(Widen(commandLine).c_str(), &count);
    if (list == nullptr)
        return arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(Narrow(list[i]));
    LocalFree(list);
    return arguments;
}

WinProcesses::~WinProcesses()
{
    Forget();
}

void WinProcesses::Forget()
{
    if (last_ != nullptr)
        CloseHandle(static_cast<HANDLE>(last_));
    last_ = nullptr;
    ended_ = false;
}

bool WinProcesses::Start(const std::string &commandLine)
{
    Forget();
    if (commandLine.empty()) {
        LogError("processes: cannot start an empty command line");
        return false;
    }
    HANDLE input = OpenNull(GENERIC_READ);
    HANDLE output = OpenNull(GENERIC_WRITE);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    // The system may write into the command line.
    std::wstring line = Widen(commandLine);
    line.push_back(L'\0');
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                        DETACHED_PROCESS, nullptr, nullptr, &startup, &info);
    const std::string cause = started ? std::string() : LastErrorText();
    if (input != INVALID_HANDLE_VALUE)
        CloseHandle(input);
    if (output != INVALID_HANDLE_VALUE)
        CloseHandle(output);
    if (!started) {
        LogError("processes: cannot start " + commandLine + ": " + cause);
        return false;
    }
    CloseHandle(info.hThread);
    last_ = info.hProcess;
    return true;
}

bool WinProcesses::IsProcessRunning(const std::string &imageName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        LogWarning("processes: cannot read the process list: " + LastErrorText());
        return false;
    }
    const std::wstring wanted = Widen(imageName);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry))
        found = !wanted.empty() && wanted == entry.szExeFile;
    CloseHandle(snapshot);
    return found;
}

void WinProcesses::Sleep(int milliseconds)
{
    if (milliseconds <= 0)
        return;
    if (last_ != nullptr)
        WaitForSingleObject(static_cast<HANDLE>(last_), static_cast<DWORD>(milliseconds));
    else
        ::Sleep(static_cast<DWORD>(milliseconds));
}

std::optional<int> WinProcesses::LastExitCode()
{
    if (ended_ || !LastHasEnded())
        return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(static_cast<HANDLE>(last_), &code))
        return std::nullopt;
    return static_cast<int>(code);
}

bool WinProcesses::LastHasEnded()
{
    return last_ != nullptr && WaitForSingleObject(static_cast<HANDLE>(last_), 0) == WAIT_OBJECT_0;
}

bool WinProcesses::EndLast()
{
    if (last_ == nullptr)
        return false;
    if (LastHasEnded())
        return true;
    if (TerminateProcess(static_cast<HANDLE>(last_), 1))
        ended_ = true;
    else
        LogWarning("processes: cannot end the archiver: " + LastErrorText());
    return WaitForSingleObject(static_cast<HANDLE>(last_), kEndWaitMs) == WAIT_OBJECT_0;
}
