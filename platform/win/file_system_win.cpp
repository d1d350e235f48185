#include "platform/win/file_system_win.h"

#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/path_text.h"
#include "platform/text.h"
#include "platform/wildcard.h"
#include "platform/win/short_path_win.h"
#include "platform/win/unique_handle.h"
#include "platform/win/wide.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <utility>

namespace offline_upgrade {

namespace {

// From this length on a path takes the long form: the plain calls stop at MAX_PATH, and
// CreateDirectoryW twelve characters before it.
constexpr size_t kLongPathFrom = MAX_PATH - 12;

bool IsSeparator(wchar_t c);

// A path in the form the system takes past MAX_PATH: "\\?\C:\..." or "\\?\UNC\server\...",
// made whole (GetFullPathNameW) with "\" only, since the system then takes it as it stands.
// Shorter paths, and any that cannot be made whole, stay as they are.
std::wstring LongForm(std::wstring wide)
{
    if (wide.size() < kLongPathFrom || wide.rfind(L"\\\\?\\", 0) == 0)
        return wide;
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return wide;
    std::wstring full(size, L'\0');
    const DWORD got = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (got == 0 || got >= size)
        return wide;
    full.resize(got);
    if (full.size() >= 2 && IsSeparator(full[0]) && IsSeparator(full[1]))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// The wide path the system is handed for the logic's UTF-8 path.
std::wstring SystemPath(const std::string &path)
{
    return LongForm(Widen(path));
}

// A path the system gave back, without the long form's prefix.
std::wstring ShortForm(const std::wstring &wide)
{
    if (wide.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return L"\\\\" + wide.substr(8);
    if (wide.rfind(L"\\\\?\\", 0) == 0)
        return wide.substr(4);
    return wide;
}

// The root of the volume holding path ("C:\"). The call takes no path past MAX_PATH, so a
// longer one is asked by its nearest folder that fits (a volume mounted deeper is not seen).
bool VolumeOf(const std::wstring &path, std::wstring &volume)
{
    std::wstring fits = ShortForm(path);
    while (fits.size() >= MAX_PATH) {
        const size_t separator = fits.find_last_of(L"\\/");
        if (separator == std::wstring::npos || separator == 0)
            return false;
        fits.resize(separator);
    }
    wchar_t root[MAX_PATH + 1] = {};
    if (!GetVolumePathNameW(fits.c_str(), root, MAX_PATH))
        return false;
    volume = root;
    return true;
}

constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE;

DWORD Attributes(const std::string &path)
{
    return GetFileAttributesW(SystemPath(path).c_str());
}

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

std::wstring Join(const std::wstring &folder, const std::wstring &name)
{
    if (folder.empty() || IsSeparator(folder.back()))
        return folder + name;
    return folder + L'\\' + name;
}

// Removes path and everything below it; links and junctions are removed, never followed.
bool RemoveWide(const std::wstring &given)
{
    const std::wstring path = LongForm(given);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return DeleteFileW(path.c_str()) != 0;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW found{};
        UniqueFindHandle find(FindFirstFileW(Join(path, L"*").c_str(), &found));
        if (find) {
            do {
                const std::wstring name = found.cFileName;
                if (name != L"." && name != L"..")
                    RemoveWide(Join(path, name));
            } while (FindNextFileW(find.get(), &found));
            // Closed before the folder goes, which the search holds open.
            find.reset();
        }
    }
    return RemoveDirectoryW(path.c_str()) != 0;
}

bool FlushFile(const std::wstring &path)
{
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && FlushFileBuffers(file.get());
}

} // namespace

bool WinFileSystem::FileExists(const std::string &path)
{
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool WinFileSystem::DirectoryExists(const std::string &path)
{
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

EntryKind WinFileSystem::KindOf(const std::string &path)
{
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return EntryKind::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return EntryKind::Link;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? EntryKind::Folder : EntryKind::File;
}

bool WinFileSystem::ResolvePath(const std::string &path, std::string &resolved)
{
    // No access asked for: only the name of what the handle reaches is read.
    UniqueFileHandle file(CreateFileW(SystemPath(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file)
        return false;
    std::wstring name(32768, L'\0');
    DWORD got = GetFinalPathNameByHandleW(file.get(), name.data(), static_cast<DWORD>(name.size()),
                                          FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    file.reset();
    if (got == 0 || got >= name.size()) {
        // What is there cannot be named by its handle (Wine past MAX_PATH): its full path.
        const std::wstring wide = SystemPath(path);
        got = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(name.size()), name.data(), nullptr);
        if (got == 0 || got >= name.size())
            return false;
    }
    name.resize(got);
    resolved = WithoutTrailingSeparators(Narrow(ShortForm(name)));
    return true;
}

bool WinFileSystem::RemoveFile(const std::string &path)
{
    if (DeleteFileW(SystemPath(path).c_str()))
        return true;
    LogWarning("file system: cannot delete " + path + ": " + LastErrorText());
    return false;
}

bool WinFileSystem::ForceDirectories(const std::string &path)
{
    const std::wstring wide = SystemPath(path);
    const std::string shown = Narrow(wide);
    // The root ("C:\", "\\?\C:\", "\\server\share\") is there or not; it is never made.
    const size_t root = Widen(shown.substr(0, PathRootLength(shown))).size();
    // Each folder from the top down; the ones that exist are passed over.
    for (size_t at = root; at <= wide.size(); ++at) {
        if (at < wide.size() && !IsSeparator(wide[at]))
            continue;
        const std::wstring part = wide.substr(0, at);
        if (part.empty() || part.back() == L':' || IsSeparator(part.back()))
            continue;
        const DWORD attributes = GetFileAttributesW(part.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            LogError("file system: cannot create the folder " + Narrow(part) + ": " +
                     LastErrorText());
            return false;
        }
    }
    return DirectoryExists(path);
}

bool WinFileSystem::RemoveTree(const std::string &path)
{
    if (RemoveWide(SystemPath(path)))
        return true;
    LogWarning("file system: cannot remove " + path + ": " + LastErrorText());
    return Attributes(path) == INVALID_FILE_ATTRIBUTES;
}

std::string WinFileSystem::GetCurrentDir()
{
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(size, L'\0');
    const DWORD got = size == 0 ? 0 : GetCurrentDirectoryW(size, folder.data());
    if (got == 0 || got >= size)
        throw KxError("cannot read the working folder: " + LastErrorText());
    folder.resize(got);
    return Narrow(folder);
}

void WinFileSystem::SetCurrentDir(const std::string &path)
{
    // The working folder is never longer than MAX_PATH on Windows, and a program started
    // from a longer one (Wine allows it) fails: a deep folder goes in its short names.
    if (!SetCurrentDirectoryW(WithinMaxPath(Widen(path)).c_str()))
        throw KxError("cannot change to the folder " + path + ": " + LastErrorText());
}

bool WinFileSystem::ListFolder(const std::string &folder, const std::string &pattern,
                               std::vector<FolderEntry> &entries)
{
    entries.clear();
    WIN32_FIND_DATAW found{};
    const UniqueFindHandle find(FindFirstFileW(Join(SystemPath(folder), L"*").c_str(), &found));
    if (!find) {
        LogWarning("file system: cannot list " + folder + ": " + LastErrorText());
        return false;
    }
    do {
        const std::wstring wideName = found.cFileName;
        if (wideName == L"." || wideName == L"..")
            continue;
        std::string name = Narrow(wideName);
        if (!MatchesWildcard(name, pattern))
            continue;
        const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const uint64_t size =
            isFolder ? 0 : (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        entries.push_back(
            {std::move(name), found.dwFileAttributes & kKeptAttributes, size, !isFolder});
    } while (FindNextFileW(find.get(), &found));
    std::sort(entries.begin(), entries.end(), [](const FolderEntry &a, const FolderEntry &b) {
        const int folded = CompareIgnoreAsciiCase(a.Name, b.Name);
        return folded != 0 ? folded < 0 : OrdinalCompare(a.Name, b.Name) < 0;
    });
    return true;
}

bool WinFileSystem::MayReplaceFile(const std::string &path)
{
    const std::wstring wide = SystemPath(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        return false;
    // Setting the file aside is a rename, which needs delete access; asked for while sharing
    // everything, it is refused only when the rights forbid it or another program holds the
    // file open without delete sharing (a running program's image allows it). A link is set
    // aside itself, so the link is opened, not what it leads to.
    const UniqueFileHandle file(
        CreateFileW(wide.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        LogError("file system: " + path + " cannot be set aside: " +
                 (error == ERROR_SHARING_VIOLATION
                      ? "another program holds it open without delete sharing ("
                      : std::string("(")) +
                 SystemErrorText(error) + ")");
        return false;
    }
    return true;
}

bool WinFileSystem::FlushFileSystems(const std::vector<std::string> &paths)
{
    bool ok = true;
    std::set<std::wstring> volumes;
    for (const std::string &path : paths) {
        const std::wstring wide = SystemPath(path);
        std::wstring volume;
        if (GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES ||
            !VolumeOf(wide, volume)) {
            LogError("file system: cannot flush the files of " + path + ": " + LastErrorText());
            ok = false;
            continue;
        }
        volumes.insert(volume);
    }
    for (std::wstring volume : volumes) {
        // "C:\" as the device "\\.\C:"; flushing a whole volume needs administrator rights.
        if (volume.size() < 2 || volume[1] != L':')
            continue;
        const UniqueFileHandle device(CreateFileW((L"\\\\.\\" + volume.substr(0, 2)).c_str(),
                                                  GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  nullptr, OPEN_EXISTING, 0, nullptr));
        if (!device)
            continue; // no rights: each copy was flushed on its own
        if (!FlushFileBuffers(device.get()))
            LogWarning("file system: cannot flush the volume " + Narrow(volume) + ": " +
                       LastErrorText());
    }
    return ok;
}

namespace {

// FILETIME counts 100 ns from 1601; the logic counts ns from 1970.
constexpr int64_t kEpochDifference = 116444736000000000LL;

} // namespace

bool WinFileSystem::MayReadFile(const std::string &path)
{
    const std::wstring wide = SystemPath(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    const UniqueFileHandle file(CreateFileW(
        wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
}

bool WinFileSystem::MayCreateIn(const std::string &folder)
{
    if (!DirectoryExists(folder))
        return false;
    // The folder's rights are the system's to decide: a file made and deleted at once, under
    // a name of the tool's own (GetTempFileNameW stops at MAX_PATH). The checks write
    // nothing, so the folder gets its time back.
    const UniqueFileHandle folderHandle(
        CreateFileW(SystemPath(folder).c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILETIME written{};
    const bool timed = folderHandle && GetFileTime(folderHandle.get(), nullptr, nullptr, &written);
    static std::atomic<unsigned> counter{0};
    const std::string probe =
        JoinPath(folder, ".kxprobe-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(GetTickCount()) + "-" + std::to_string(++counter));
    UniqueFileHandle probeFile(
        CreateFileW(SystemPath(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    const bool created = static_cast<bool>(probeFile);
    // Deleted on close, before the folder's time is set back.
    probeFile.reset();
    if (timed)
        SetFileTime(folderHandle.get(), nullptr, nullptr, &written);
    return created;
}

bool WinFileSystem::SpaceOf(const std::string &path, FileSystemSpace &space)
{
    const std::wstring wide = SystemPath(path);
    std::wstring volume;
    DWORD serial = 0;
    ULARGE_INTEGER available{};
    if (!VolumeOf(wide, volume) ||
        !GetVolumeInformationW(volume.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0) ||
        !GetDiskFreeSpaceExW(wide.c_str(), &available, nullptr, nullptr)) {
        LogError("file system: cannot read the free space of the volume of " + path + ": " +
                 LastErrorText());
        return false;
    }
    space.Id = serial;
    space.Available = available.QuadPart;
    return true;
}

bool WinFileSystem::CopyFileBeside(const std::string &source, const std::string &dest,
                                   const std::string &temp)
{
    const std::wstring wideSource = SystemPath(source);
    const std::wstring wideTemp = SystemPath(temp);
    const DWORD sourceAttributes = GetFileAttributesW(wideSource.c_str());
    if (sourceAttributes == INVALID_FILE_ATTRIBUTES ||
        (sourceAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        LogError("file system: cannot copy " + source + ": not a file");
        return false;
    }
    // Never over a file that is there.
    if (!CopyFileW(wideSource.c_str(), wideTemp.c_str(), TRUE)) {
        LogError("file system: cannot copy " + source + " to " + temp + ": " + LastErrorText());
        return false;
    }
    const DWORD destAttributes = GetFileAttributesW(SystemPath(dest).c_str());
    const bool replacing =
        destAttributes != INVALID_FILE_ATTRIBUTES && !(destAttributes & FILE_ATTRIBUTE_DIRECTORY);
    const DWORD kept = replacing ? destAttributes & kKeptAttributes & ~FILE_ATTRIBUTE_READONLY
                                 : FILE_ATTRIBUTE_ARCHIVE;
    SetFileAttributesW(wideTemp.c_str(), kept == 0 ? FILE_ATTRIBUTE_NORMAL : kept);
    if (!FlushFile(wideTemp)) {
        LogError("file system: cannot flush " + temp + ": " + LastErrorText());
        DeleteFileW(wideTemp.c_str());
        return false;
    }
    return true;
}

bool WinFileSystem::RenameFile(const std::string &from, const std::string &to, bool replace)
{
    const DWORD flags = (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH;
    if (MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(), flags))
        return true;
    LogError("file system: cannot rename " + from + " to " + to + ": " + LastErrorText());
    return false;
}

// Windows has no step that swaps two names: the file stage renames the replaced file aside
// and the new one into place instead, which needs no identity.
bool WinFileSystem::IdentityOf(const std::string &, uint64_t &)
{
    return false;
}

ExchangeOutcome WinFileSystem::ExchangeFiles(const std::string &, const std::string &)
{
    return ExchangeOutcome::Unsupported;
}

bool WinFileSystem::RemoveFiles(const std::vector<std::string> &paths)
{
    bool all = true;
    for (const std::string &path : paths)
        all = RemoveFile(path) && all;
    return all;
}

bool WinFileSystem::CreateFolder(const std::string &path)
{
    if (CreateDirectoryW(SystemPath(path).c_str(), nullptr))
        return true;
    LogError("file system: cannot create the folder " + path + ": " + LastErrorText());
    return false;
}

bool WinFileSystem::RemoveFolder(const std::string &path)
{
    if (RemoveDirectoryW(SystemPath(path).c_str()))
        return true;
    LogError("file system: cannot remove the folder " + path + ": " + LastErrorText());
    return false;
}

bool WinFileSystem::ModifiedTime(const std::string &path, int64_t &nanoseconds)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data)) {
        LogError("file system: cannot read the time of " + path + ": " + LastErrorText());
        return false;
    }
    const int64_t ticks = (static_cast<int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                          data.ftLastWriteTime.dwLowDateTime;
    nanoseconds = (ticks - kEpochDifference) * 100;
    return true;
}

bool WinFileSystem::SetModifiedTime(const std::string &path, int64_t nanoseconds)
{
    // Folders open only with backup semantics.
    const UniqueFileHandle file(CreateFileW(SystemPath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                            nullptr));
    const int64_t ticks = nanoseconds / 100 + kEpochDifference;
    FILETIME written;
    written.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
    written.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    const bool ok = file && SetFileTime(file.get(), nullptr, nullptr, &written);
    if (!ok)
        LogError("file system: cannot set the time of " + path + ": " + LastErrorText());
    return ok;
}

namespace {

class WinFileReader : public IFileReader {
public:
    WinFileReader(UniqueFileHandle file, std::string path)
        : file_(std::move(file)), path_(std::move(path))
    {
    }
    bool Read(char *buffer, size_t capacity, size_t &got) override
    {
        DWORD n = 0;
        got = 0;
        const DWORD ask = static_cast<DWORD>(std::min<size_t>(capacity, 1u << 30));
        if (!::ReadFile(file_.get(), buffer, ask, &n, nullptr)) {
            LogError("file system: cannot read " + path_ + ": " + LastErrorText());
            return false;
        }
        got = n;
        return true;
    }

private:
    UniqueFileHandle file_;
    std::string path_;
};

class WinFileWriter : public IFileWriter {
public:
    WinFileWriter(UniqueFileHandle file, std::string path)
        : file_(std::move(file)), path_(std::move(path))
    {
    }
    bool Write(const char *data, size_t size) override
    {
        while (size > 0) {
            DWORD wrote = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
            if (!WriteFile(file_.get(), data, chunk, &wrote, nullptr) || wrote == 0) {
                LogError("file system: cannot write " + path_ + ": " + LastErrorText());
                return false;
            }
            data += wrote;
            size -= wrote;
        }
        return true;
    }
    bool Close() override
    {
        const bool ok = file_.Close();
        if (!ok)
            LogError("file system: cannot close " + path_ + ": " + LastErrorText());
        return ok;
    }

private:
    UniqueFileHandle file_;
    std::string path_;
};

} // namespace

std::unique_ptr<IFileReader> WinFileSystem::OpenFileForReading(const std::string &path)
{
    UniqueFileHandle file(CreateFileW(SystemPath(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        LogError("file system: cannot open " + path + ": " + LastErrorText());
        return nullptr;
    }
    return std::make_unique<WinFileReader>(std::move(file), path);
}

std::unique_ptr<IFileWriter> WinFileSystem::CreateNewFile(const std::string &path)
{
    UniqueFileHandle file(CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                      nullptr));
    if (!file) {
        LogError("file system: cannot create " + path + ": " + LastErrorText());
        return nullptr;
    }
    return std::make_unique<WinFileWriter>(std::move(file), path);
}

bool WinFileSystem::ReadFile(const std::string &path, std::string &bytes)
{
    bytes.clear();
    UniqueFileHandle file(CreateFileW(SystemPath(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        LogError("file system: cannot open " + path + ": " + LastErrorText());
        return false;
    }
    char chunk[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ::ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) != 0) && got > 0)
        bytes.append(chunk, got);
    file.reset();
    if (!ok) {
        bytes.clear();
        LogError("file system: cannot read " + path + ": " + LastErrorText());
    }
    return ok;
}

bool WinFileSystem::WriteFileDurably(const std::string &path, const std::string &bytes)
{
    const std::wstring wide = SystemPath(path);
    const std::wstring temp = wide + L".kx-new";
    UniqueFileHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    bool ok = static_cast<bool>(file);
    for (size_t done = 0; ok && done < bytes.size();) {
        DWORD wrote = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
        ok = WriteFile(file.get(), bytes.data() + done, chunk, &wrote, nullptr) != 0;
        done += wrote;
    }
    ok = ok && FlushFileBuffers(file.get());
    file.reset();
    ok = ok && MoveFileExW(temp.c_str(), wide.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        LogError("file system: cannot write " + path + ": " + LastErrorText());
        DeleteFileW(temp.c_str());
    }
    return ok;
}

} // namespace offline_upgrade
