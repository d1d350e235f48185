#include "platform/win/inherited_start_win.h"

#include "platform/win/short_path_win.h"

#include <algorithm>
#include <memory>
#include <string>

namespace offline_upgrade {

namespace {

// The program a command line starts: its first argument, quoted or up to the first blank.
std::wstring ProgramOf(const wchar_t *commandLine)
{
    std::wstring program;
    const wchar_t *at = commandLine;
    if (*at == L'"') {
        while (*++at && *at != L'"')
            program += *at;
        return program;
    }
    for (; *at && *at != L' ' && *at != L'\t'; ++at)
        program += *at;
    return program;
}

} // namespace

BOOL CreateProcessInheriting(const wchar_t *application, wchar_t *commandLine, DWORD flags,
                             const wchar_t *folder, const STARTUPINFOW &startup,
                             const std::vector<HANDLE> &handles, PROCESS_INFORMATION &info)
{
    // The system finds no program by a path past MAX_PATH (a deep program folder's archiver):
    // it is named apart, through its folder's short names; the command line stays as it is.
    std::wstring program;
    if (!application && commandLine) {
        program = ProgramOf(commandLine);
        if (program.size() >= MAX_PATH) {
            program = WithinMaxPath(program);
            application = program.c_str();
        }
    }
    std::vector<HANDLE> list;
    for (HANDLE handle : handles) {
        // The system refuses a list with a handle twice (standard output and error often
        // share one).
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE &&
            std::find(list.begin(), list.end(), handle) == list.end())
            list.push_back(handle);
    }
    STARTUPINFOEXW extended{};
    extended.StartupInfo = startup;
    extended.StartupInfo.cb = sizeof extended;
    if (list.empty()) {
        extended.StartupInfo.cb = sizeof(STARTUPINFOW);
        return CreateProcessW(application, commandLine, nullptr, nullptr, FALSE, flags, nullptr,
                              folder, &extended.StartupInfo, &info);
    }
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    auto storage = std::make_unique<char[]>(size);
    auto *attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.get());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size))
        return FALSE;
    BOOL started = FALSE;
    if (UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, list.data(),
                                  list.size() * sizeof(HANDLE), nullptr, nullptr)) {
        extended.lpAttributeList = attributes;
        started = CreateProcessW(application, commandLine, nullptr, nullptr, TRUE,
                                 flags | EXTENDED_STARTUPINFO_PRESENT, nullptr, folder,
                                 &extended.StartupInfo, &info);
    }
    const DWORD error = GetLastError();
    DeleteProcThreadAttributeList(attributes);
    SetLastError(error);
    return started;
}

} // namespace offline_upgrade
