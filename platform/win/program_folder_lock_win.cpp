// The program folder lock on Windows: LockFileEx on a byte far past the file's content (so the
// holder's process id stays readable to a refused run), on a handle no child inherits, released
// by the system when the process ends however it ends.

#include "platform/program_folder_lock.h"

#include "platform/native_path.h"
#include "platform/win/unique_handle.h"
#include "platform/win/wide.h"

#include <windows.h>

#include <string>
#include <utility>

namespace offline_upgrade {

namespace {

// The locked byte: past anything the file holds, so reading its content never meets the lock.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

std::string RecordedHolder(HANDLE file)
{
    char buffer[32] = {};
    OVERLAPPED at{};
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer - 1, &got, &at) || got == 0)
        return {};
    return ProgramFolderLock::HolderIdFromText(std::string(buffer, got));
}

// Kernel handles fit in 32 bits on 64-bit Windows, for 32-bit interoperability.
long ToLong(HANDLE handle)
{
    return static_cast<long>(reinterpret_cast<intptr_t>(handle));
}

HANDLE ToHandle(long handle)
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}

} // namespace

void ProgramFolderLock::Release()
{
    // Closing the handle releases the lock. The file stays, as on POSIX.
    if (handle_ != -1)
        CloseHandle(ToHandle(handle_));
    handle_ = -1;
}

ProgramFolderLock ProgramFolderLock::Acquire(const std::string &programFolder)
{
    const std::string path = programFolder + kProgramFolderLockName;
    // A program folder deeper than MAX_PATH takes the long form.
    UniqueFileHandle owned(CreateFileW(LongNativePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const HANDLE file = owned.get();
    if (!owned)
        return {Outcome::Failed, path, path + ": " + LastErrorText(), -1};
    OVERLAPPED range{};
    range.OffsetHigh = kLockOffsetHigh;
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
        const DWORD error = GetLastError();
        const std::string holder =
            error == ERROR_LOCK_VIOLATION ? RecordedHolder(file) : std::string();
        owned.reset();
        if (error != ERROR_LOCK_VIOLATION)
            return {Outcome::Failed, path, path + ": " + SystemErrorText(error), -1};
        return {Outcome::Busy, path,
                path + " is locked" + (holder.empty() ? "" : " by process " + holder), -1};
    }
    // Who holds it, for the run that is refused. The lock does not depend on it.
    const std::string id = std::to_string(GetCurrentProcessId()) + "\n";
    DWORD written = 0;
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(file))
        WriteFile(file, id.data(), static_cast<DWORD>(id.size()), &written, nullptr);
    return {Outcome::Held, path, {}, ToLong(owned.release())};
}

} // namespace offline_upgrade
