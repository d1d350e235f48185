// Running a program to its end on Windows: CreateProcessW with a pipe for its messages, without
// a console (DETACHED_PROCESS), so that no console host keeps the pipe open after the program.

#include "platform/program_run.h"

#include "platform/diagnostics.h"
#include "platform/win/inherited_start_win.h"
#include "platform/win/unique_handle.h"
#include "platform/win/wide.h"

#include <windows.h>

namespace offline_upgrade {

namespace {

// One argument quoted so that CommandLineToArgvW (and the C runtime) give it back whole.
std::wstring Quote(const std::wstring &argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L'"';
}

} // namespace

ProgramOutcome RunProgramToEnd(const std::vector<std::string> &arguments,
                               const std::string &workingFolder)
{
    ProgramOutcome outcome;
    if (arguments.empty())
        return outcome;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE pipeRead = nullptr, pipeWrite = nullptr;
    if (!CreatePipe(&pipeRead, &pipeWrite, &inherit, 0))
        return outcome;
    UniqueKernelHandle readEnd(pipeRead), writeEnd(pipeWrite);
    // Only the writing end goes to the program.
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    UniqueFileHandle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       &inherit, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    std::wstring line;
    for (const std::string &argument : arguments) {
        if (!line.empty())
            line += L' ';
        line += Quote(Widen(argument));
    }
    line.push_back(L'\0');
    const std::wstring program = Widen(arguments[0]);
    const std::wstring folder = Widen(workingFolder);
    PROCESS_INFORMATION info{};
    // Only its standard handles: no other handle of ours stays open in it.
    const BOOL started = CreateProcessInheriting(program.c_str(), line.data(), DETACHED_PROCESS,
                                                 folder.empty() ? nullptr : folder.c_str(), startup,
                                                 {input.get(), writeEnd.get()}, info);
    const std::string cause = started ? std::string() : LastErrorText();
    // Only the program holds the writing end now, so the reads below end when it does.
    writeEnd.reset();
    input.reset();
    if (!started) {
        LogError("cannot start " + arguments[0] + ": " + cause);
        return outcome;
    }
    outcome.Started = true;
    const UniqueKernelHandle process(info.hProcess), thread(info.hThread);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        outcome.Messages.append(buffer, got);
    readEnd.reset();
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(process.get(), &code))
        outcome.ExitCode = static_cast<int>(code);
    return outcome;
}

} // namespace offline_upgrade
