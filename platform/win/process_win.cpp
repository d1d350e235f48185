#include "platform/win/process_win.h"

#include "platform/diagnostics.h"
#include "platform/win/inherited_start_win.h"
#include "platform/win/unique_handle.h"
#include "platform/win/wide.h"

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace offline_upgrade {

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
bool MakeErrorFile(UniqueFileHandle &write, UniqueFileHandle &read)
{
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t path[MAX_PATH + 1] = {};
    if (GetTempPathW(MAX_PATH, folder) == 0 || GetTempFileNameW(folder, L"kxe", 0, path) == 0)
        return false;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    write.reset(CreateFileW(path, GENERIC_WRITE, kShareAll, &inherit, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!write) {
        DeleteFileW(path);
        return false;
    }
    read.reset(CreateFileW(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!read) {
        write.reset();
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
    last_.reset();
    errors_.reset();
    ended_ = false;
}

bool WinProcesses::Start(const std::string &commandLine)
{
    Forget();
    if (commandLine.empty()) {
        LogError("processes: cannot start an empty command line");
        return false;
    }
    UniqueFileHandle input(OpenNull(GENERIC_READ));
    UniqueFileHandle output(OpenNull(GENERIC_WRITE));
    UniqueFileHandle errorWrite, errorRead;
    // Without the file (both stay empty), standard error goes to NUL.
    static_cast<void>(MakeErrorFile(errorWrite, errorRead));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = input.get();
    startup.hStdOutput = output.get();
    startup.hStdError = errorWrite ? errorWrite.get() : output.get();
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
    if (!started) {
        LogError("processes: cannot start " + commandLine + ": " + cause);
        return false;
    }
    const UniqueKernelHandle thread(info.hThread); // not needed: closed at once
    last_.reset(info.hProcess);
    errors_ = std::move(errorRead);
    return true;
}

bool WinProcesses::IsProcessRunning(const std::string &imageName)
{
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        LogWarning("processes: cannot read the process list: " + LastErrorText());
        return false;
    }
    const std::wstring wanted = Widen(imageName);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more && !found;
         more = Process32NextW(snapshot.get(), &entry))
        found = !wanted.empty() && wanted == entry.szExeFile;
    return found;
}

void WinProcesses::Sleep(int milliseconds)
{
    if (milliseconds <= 0)
        return;
    // The early wake is for the end of our own archiver; once it has ended its handle is
    // signalled for good, and a wait on it would return at once in every pass for as long as
    // someone else's process of that image name runs.
    if (last_ && !LastHasEnded())
        WaitForSingleObject(last_.get(), static_cast<DWORD>(milliseconds));
    else
        ::Sleep(static_cast<DWORD>(milliseconds));
}

std::optional<int> WinProcesses::LastExitCode()
{
    if (ended_ || !LastHasEnded())
        return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(last_.get(), &code))
        return std::nullopt;
    return static_cast<int>(code);
}

std::string WinProcesses::LastErrorOutput()
{
    if (!last_ || !errors_)
        return {};
    const HANDLE file = errors_.get();
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
        if (!ReadFile(file, text.data() + got, static_cast<DWORD>(keep - got), &n, nullptr) ||
            n == 0)
            break;
        got += n;
    }
    text.resize(got);
    return text;
}

bool WinProcesses::LastHasEnded()
{
    return last_ && WaitForSingleObject(last_.get(), 0) == WAIT_OBJECT_0;
}

bool WinProcesses::EndLast()
{
    if (!last_)
        return false;
    if (LastHasEnded())
        return true;
    if (TerminateProcess(last_.get(), 1))
        ended_ = true;
    else
        LogWarning("processes: cannot end the archiver: " + LastErrorText());
    return WaitForSingleObject(last_.get(), kEndWaitMs) == WAIT_OBJECT_0;
}

} // namespace offline_upgrade
