#pragma once
// Starting a program on Windows so that it inherits only the handles it is given: CreateProcessW
// with the handle list of an extended start-up (PROC_THREAD_ATTRIBUTE_HANDLE_LIST). Without it
// a started program inherits every inheritable handle of this process, the log file's included,
// and keeps them open as long as it runs.

#include <windows.h>

#include <vector>

namespace offline_upgrade {

// CreateProcessW(application, commandLine, ...) with startup's fields, flags and folder, the
// child inheriting exactly the handles listed (each must be inheritable; null, invalid and
// repeated ones are left out) and nothing when the list is left empty. Returns what
// CreateProcessW returns; on failure GetLastError says why.
BOOL CreateProcessInheriting(const wchar_t *application, wchar_t *commandLine, DWORD flags,
                             const wchar_t *folder, const STARTUPINFOW &startup,
                             const std::vector<HANDLE> &handles, PROCESS_INFORMATION &info);

} // namespace offline_upgrade
