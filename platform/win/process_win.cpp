#include "platform/win/process_win.h"

#include "platform/diagnostics.h"
#include "platform/win/inherited_start_win.h"
#include "platform/win/wide.h"

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
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

// A new temporary file for a started program's standard error: the program's inheritable
// handle to write, and our own handle to read (its own file position). The file goes when both
// are closed. False when it cannot be made; errors then go to NUL.
bool MakeErrorFile(HANDLE &write, HANDLE &read)
{
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t path[MAX_PATH + 1] = {};
    if (GetTempPathW(MAX_PATH, folder) == 0 || GetTempFileNameW(folder, L"kxe", 0, path) == 0)
        return false;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    write = CreateFileW(path, GENERIC_WRITE, kShareAll, &inherit, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (write == INVALID_HANDLE_VALUE) {
        DeleteFileW(path);
        return false;
    }
    read = CreateFileW(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (read == INVALID_HANDLE_VALUE) {
        CloseHandle(write);
        return false;
    }
    return true;
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
    if (errors_ != nullptr)
        CloseHandle(static_cast<HANDLE>(errors_));
    errors_ = nullptr;
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
    HANDLE errorWrite = INVALID_HANDLE_VALUE, errorRead = INVALID_HANDLE_VALUE;
    if (!MakeErrorFile(errorWrite, errorRead))
        errorWrite = errorRead = INVALID_HANDLE_VALUE;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = errorWrite != INVALID_HANDLE_VALUE ? errorWrite : output;
    // The system may write into the command line.
    std::wstring line = Widen(commandLine);
    line.push_back(L'\0');
    PROCESS_INFORMATION info{};
    // Only its three standard handles: no other handle of ours (the log file's) stays open
    // in it.
    const BOOL started =
        CreateProcessInheriting(nullptr, line.data(), DETACHED_PROCESS, nullptr, startup,
                                {startup.hStdInput, startup.hStdOutput, startup.hStdError}, info);
    const std::string cause = started ? std::string() : LastErrorText();
    if (input != INVALID_HANDLE_VALUE)
        CloseHandle(input);
    if (output != INVALID_HANDLE_VALUE)
        CloseHandle(output);
    if (errorWrite != INVALID_HANDLE_VALUE)
        CloseHandle(errorWrite);
    if (!started) {
        if (errorRead != INVALID_HANDLE_VALUE)
            CloseHandle(errorRead);
        LogError("processes: cannot start " + commandLine + ": " + cause);
        return false;
    }
    CloseHandle(info.hThread);
    last_ = info.hProcess;
    errors_ = errorRead != INVALID_HANDLE_VALUE ? errorRead : nullptr;
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
    // The early wake is for the end of our own archiver; once it has ended its handle is
    // signalled for good, and a wait on it would return at once in every pass for as long as
    // someone else's process of that image name runs.
    if (last_ != nullptr && !LastHasEnded())
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

std::string WinProcesses::LastErrorOutput()
{
    if (last_ == nullptr || errors_ == nullptr)
        return {};
    const HANDLE file = static_cast<HANDLE>(errors_);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0)
        return {};
    // The end: a program's last words say why it stopped.
    const auto total = static_cast<uint64_t>(size.QuadPart);
    const size_t keep = static_cast<size_t>(std::min<uint64_t>(total, kErrorOutputLimit));
    LARGE_INTEGER from{};
    from.QuadPart = static_cast<LONGLONG>(total - keep);
    if (!SetFilePointerEx(file, from, nullptr, FILE_BEGIN))
        return {};
    std::string text(keep, '\0');
    size_t got = 0;
    while (got < keep) {
        DWORD n = 0;
        if (!ReadFile(file, text.data() + got, static_cast<DWORD>(keep - got), &n, nullptr) || n == 0)
            break;
        got += n;
    }
    text.resize(got);
    return text;
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
