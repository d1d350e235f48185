// The archiver's file access on Windows: handles and the wide-character calls. Names below an
// open folder are opened with NtCreateFile relative to that folder's handle, the system's own
// equivalent of openat, and without following reparse points (links, junctions), which are
// refused wherever a folder of ours belongs.

#include "file_access.h"

#include "platform/win/unique_handle.h"
#include "platform/win/wide.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <vector>

namespace kx_rar {

using offline_upgrade::Narrow;
using offline_upgrade::SystemErrorText;
using offline_upgrade::UniqueFindHandle;
using offline_upgrade::Widen;

namespace fa {

namespace {

// From the system's kernel interface, which MinGW's headers declare only in part.
constexpr ULONG kFileNonDirectoryFile = 0x00000040;
constexpr ULONG kFileSynchronousIoNonalert = 0x00000020;
constexpr ULONG kFileDeleteOnClose = 0x00001000;
constexpr ULONG kFileOpenReparsePoint = 0x00200000;
constexpr ULONG kFileDirectoryFile = 0x00000001;
constexpr ULONG kObjCaseInsensitive = 0x00000040;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Seconds from 1601 to 1970, in the 100 ns steps of a FILETIME.
constexpr int64_t kEpochDifference = 116444736000000000LL;

constexpr int kFileRenameInformation = 10;

struct RenameInformation {
    BOOLEAN ReplaceIfExists;
    HANDLE RootDirectory;
    ULONG FileNameLength;
    WCHAR FileName[1];
};

HANDLE H(Native handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

Handle Own(HANDLE h)
{
    return Handle(h == nullptr || h == INVALID_HANDLE_VALUE ? kNone : reinterpret_cast<Native>(h));
}

// The full path of wide, grown until it fits; empty when the system cannot make one.
std::wstring FullWide(const std::wstring &wide)
{
    std::wstring full(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD length =
            GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0)
            return {};
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length);
    }
    return {};
}

// Paths past 260 characters reach the system only behind the long-path prefix, which in turn
// takes the path as it is: full, with "\" alone. Every path gets it, so that short and long
// ones take the same way.
std::wstring WidePath(const std::string &path)
{
    const std::wstring wide = Widen(path);
    if (wide.empty() || wide.starts_with(L"\\\\?\\") || wide.starts_with(L"\\\\.\\"))
        return wide;
    const std::wstring full = FullWide(wide);
    // A device name ("NUL", "CON.txt" where Windows reads it so) comes back as "\\.\NUL".
    if (full.empty() || full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\"))
        return full.empty() ? wide : full;
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// Name relative to dir, through the kernel interface. Sets the last error on failure.
Handle OpenRelative(Native dir, const std::string &name, ACCESS_MASK access, ULONG share,
                    ULONG disposition, ULONG options)
{
    std::wstring wide = Widen(name);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    if (wide.empty() || wide.size() > 32767) {
        SetLastError(ERROR_INVALID_NAME);
        return Handle();
    }
    UNICODE_STRING text;
    text.Buffer = wide.data();
    text.Length = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, kObjCaseInsensitive, H(dir), nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE h = nullptr;
    const NTSTATUS status = NtCreateFile(
        &h, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
        disposition, options | kFileSynchronousIoNonalert | kFileOpenReparsePoint, nullptr, 0);
    if (status < 0) {
        SetLastError(RtlNtStatusToDosError(status));
        return Handle();
    }
    return Own(h);
}

bool Attributes(Native handle, BY_HANDLE_FILE_INFORMATION &info)
{
    return GetFileInformationByHandle(H(handle), &info) != 0;
}

} // namespace

const char kPathSeparators[] = "/\\";

size_t RootLength(const std::string &path)
{
    const bool letter = path.size() >= 2 && path[1] == ':' &&
                        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return letter ? 2 : 0;
}

void CloseNative(Native handle, bool &ok)
{
    ok = CloseHandle(H(handle)) != 0;
}

std::string ErrorText()
{
    return SystemErrorText(GetLastError());
}

Failure LastFailure()
{
    switch (GetLastError()) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return Failure::Exists;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return Failure::NotFound;
    case ERROR_DIRECTORY:
    case ERROR_CANT_ACCESS_FILE:
        return Failure::NotAFolder;
    default:
        return Failure::Other;
    }
}

Handle OpenRead(const std::string &path)
{
    // Backup semantics open folders too, so that they are named as such, not as denied.
    return Own(CreateFileW(WidePath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

Handle OpenReadWrite(const std::string &path)
{
    return Own(CreateFileW(WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool Stat(Native handle, Info &info)
{
    if (GetFileType(H(handle)) != FILE_TYPE_DISK) {
        info.Type = Kind::Other;
        info.Size = 0;
        return true;
    }
    BY_HANDLE_FILE_INFORMATION attributes;
    if (!Attributes(handle, attributes))
        return false;
    info.Type =
        (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::Folder : Kind::Regular;
    info.Size = static_cast<uint64_t>(attributes.nFileSizeHigh) << 32 | attributes.nFileSizeLow;
    return true;
}

int64_t ReadAt(Native handle, void *data, size_t size, uint64_t offset)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    if (!ReadFile(H(handle), data, want, &got, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return got;
}

bool WriteAt(Native handle, const void *data, size_t size, uint64_t offset)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD done = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        if (!WriteFile(H(handle), p, want, &done, &at) || done == 0)
            return false;
        p += done;
        size -= done;
        offset += done;
    }
    return true;
}

bool Write(Native handle, const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        DWORD done = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        if (!WriteFile(H(handle), p, want, &done, nullptr) || done == 0)
            return false;
        p += done;
        size -= done;
    }
    return true;
}

Handle OpenFolder(const std::string &path)
{
    Handle folder = Own(CreateFileW(
        WidePath(path).c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
        kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (folder.Valid() && Attributes(folder.Get(), info) &&
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        folder.Reset();
        SetLastError(ERROR_DIRECTORY);
    }
    return folder;
}

Handle OpenFolderAt(Native dir, const std::string &name)
{
    // Shared for deletion as a POSIX folder is: the handle keeps the folder it opened even
    // when that is renamed, and every name below it is opened through the handle.
    Handle folder =
        OpenRelative(dir, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                     kShareAll, FILE_OPEN, kFileDirectoryFile);
    BY_HANDLE_FILE_INFORMATION info;
    if (folder.Valid() && (!Attributes(folder.Get(), info) ||
                           (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
        folder.Reset();
        SetLastError(ERROR_CANT_ACCESS_FILE);
    }
    return folder;
}

bool MakeFolderAt(Native dir, const std::string &name)
{
    return OpenRelative(dir, name, FILE_LIST_DIRECTORY, kShareAll, FILE_CREATE, kFileDirectoryFile)
        .Valid();
}

Handle CreateNewAt(Native dir, const std::string &name, unsigned)
{
    return OpenRelative(dir, name, FILE_GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                        FILE_CREATE, kFileNonDirectoryFile);
}

bool RenameAt(Native dir, const std::string &from, const std::string &to)
{
    const Handle file =
        OpenRelative(dir, from, DELETE, kShareAll, FILE_OPEN, kFileNonDirectoryFile);
    if (!file.Valid())
        return false;
    // Through the kernel call: the Win32 one turns the name into a full path first and so
    // loses the folder handle.
    const std::wstring target = Widen(to);
    std::vector<char> buffer(sizeof(RenameInformation) + target.size() * sizeof(wchar_t));
    auto *info = reinterpret_cast<RenameInformation *>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = H(dir);
    info->FileNameLength = static_cast<ULONG>(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), info->FileName);
    const auto rename = [&] {
        IO_STATUS_BLOCK io{};
        const NTSTATUS status =
            NtSetInformationFile(H(file.Get()), &io, info, static_cast<ULONG>(buffer.size()),
                                 static_cast<FILE_INFORMATION_CLASS>(kFileRenameInformation));
        if (status < 0)
            SetLastError(RtlNtStatusToDosError(status));
        return status >= 0;
    };
    if (rename())
        return true;
    // A read-only file in the way is replaced as on POSIX systems, where only the folder's
    // permissions count.
    if (GetLastError() != ERROR_ACCESS_DENIED)
        return false;
    const Handle old = OpenRelative(dir, to, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                    kShareAll, FILE_OPEN, kFileNonDirectoryFile);
    BY_HANDLE_FILE_INFORMATION attributes;
    if (!old.Valid() || !Attributes(old.Get(), attributes) ||
        !(attributes.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    FILE_BASIC_INFO basic{};
    basic.FileAttributes =
        (attributes.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(H(old.Get()), FileBasicInfo, &basic, sizeof basic)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return rename();
}

bool RemoveAt(Native dir, const std::string &name, bool folder)
{
    Handle doomed =
        OpenRelative(dir, name, DELETE, kShareAll, FILE_OPEN,
                     (folder ? kFileDirectoryFile : kFileNonDirectoryFile) | kFileDeleteOnClose);
    return doomed.Valid() && doomed.Close();
}

void SetModifiedTime(Native handle, int64_t seconds, long nanoseconds)
{
    const int64_t ticks = seconds * 10000000 + nanoseconds / 100 + kEpochDifference;
    if (ticks < 0)
        return;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
    SetFileTime(H(handle), nullptr, nullptr, &time);
}

std::string FullPath(const std::string &path)
{
    std::wstring full = FullWide(Widen(path));
    // A root keeps its separator ("C:\").
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/'))
        full.pop_back();
    return Narrow(full);
}

std::string SystemPath(const std::string &path)
{
    return Narrow(WidePath(path));
}

bool MakeFolder(const std::string &path)
{
    return CreateDirectoryW(WidePath(path).c_str(), nullptr) != 0;
}

bool Exists(const std::string &path)
{
    return GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RemoveFile(const std::string &path)
{
    return DeleteFileW(WidePath(path).c_str()) != 0;
}

bool RemoveEmptyFolder(const std::string &path)
{
    return RemoveDirectoryW(WidePath(path).c_str()) != 0;
}

bool RenamePath(const std::string &from, const std::string &to)
{
    return MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING) !=
           0;
}

uint64_t FreeSpace(const std::string &folder)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(WidePath(folder).c_str(), &available, nullptr, nullptr))
        return UINT64_MAX;
    return available.QuadPart;
}

bool StatPath(const std::string &path, PathInfo &info)
{
    const Handle h = Own(CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION attributes;
    if (!h.Valid() || !Attributes(h.Get(), attributes))
        return false;
    const bool folder = attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    info.Type = folder                                      ? Kind::Folder
                : GetFileType(H(h.Get())) == FILE_TYPE_DISK ? Kind::Regular
                                                            : Kind::Other;
    info.Id = {attributes.dwVolumeSerialNumber,
               static_cast<uint64_t>(attributes.nFileIndexHigh) << 32 | attributes.nFileIndexLow};
    const int64_t ticks = static_cast<int64_t>(
        static_cast<uint64_t>(attributes.ftLastWriteTime.dwHighDateTime) << 32 |
        attributes.ftLastWriteTime.dwLowDateTime);
    info.ModifiedTime = (ticks - kEpochDifference) / 10000000;
    // The POSIX bits a Unix unpacker restores: folders open to all, read-only kept.
    const bool readOnly = attributes.dwFileAttributes & FILE_ATTRIBUTE_READONLY;
    info.Mode = folder ? 040755 : readOnly ? 0100444 : 0100644;
    return true;
}

bool ListFolder(const std::string &path, std::vector<std::string> &names)
{
    names.clear();
    WIN32_FIND_DATAW found;
    const std::wstring pattern = WidePath(path) + L"\\*";
    UniqueFindHandle search(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, 0));
    if (!search)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::wstring_view name(found.cFileName);
        if (name != L"." && name != L"..")
            names.push_back(Narrow(name));
    } while (FindNextFileW(search.get(), &found));
    const DWORD error = GetLastError();
    search.reset();
    SetLastError(error);
    return error == ERROR_NO_MORE_FILES;
}

uint64_t OpenFilesLimit()
{
    // Handles are not counted against a small limit here.
    return UINT64_MAX;
}

unsigned long ProcessId()
{
    return GetCurrentProcessId();
}

void WriteError(const std::string &bytes)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

} // namespace fa

} // namespace kx_rar
