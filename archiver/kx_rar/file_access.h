#pragma once
// The archiver's few file-system operations, one implementation per system, chosen by the
// build: posix/file_access_posix.cpp (descriptors, openat and friends) and
// win/file_access_win.cpp (handles, the wide-character calls, NtCreateFile relative to an
// open folder). Names are UTF-8 byte strings on both; the Windows form converts at its edge.
//
// Operations return false (or an invalid handle) on failure; ErrorText() then gives the
// system's words for it, read at once on the same thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kx_rar {

namespace fa {

// The characters that separate the parts of a path: "/" on POSIX, "/" and "\\" on Windows.
extern const char kPathSeparators[];

// The length of the root that starts path and that no entry name may keep: 2 for a drive
// letter on Windows ("C:"), else 0 (a leading separator only gives an empty part).
size_t RootLength(const std::string &path);

// A descriptor or a handle, as a number; -1 when there is none.
using Native = std::intptr_t;
constexpr Native kNone = -1;

void CloseNative(Native handle, bool &ok);

// An owned descriptor or handle, closed when it goes out of scope.
class Handle {
public:
    Handle() = default;
    explicit Handle(Native h) : h_(h) {}
    ~Handle() { Reset(); }
    Handle(Handle &&other) noexcept : h_(std::exchange(other.h_, kNone)) {}
    Handle &operator=(Handle &&other) noexcept
    {
        if (this != &other) {
            Reset();
            h_ = std::exchange(other.h_, kNone);
        }
        return *this;
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;

    Native Get() const { return h_; }
    bool Valid() const { return h_ != kNone; }
    // Closes now and reports whether the close succeeded; for files whose last write errors
    // only show at close.
    bool Close()
    {
        bool ok = true;
        if (const Native h = std::exchange(h_, kNone); h != kNone)
            CloseNative(h, ok);
        return ok;
    }
    void Reset() { Close(); }

private:
    Native h_ = kNone;
};

// Why an operation failed, where the caller acts on it.
enum class Failure { Other, Exists, NotFound, NotAFolder };

// The system's words for the last failure of this thread.
std::string ErrorText();
// The kind of the last failure of this thread.
Failure LastFailure();

enum class Kind { Regular, Folder, Other };

struct Info {
    Kind Type = Kind::Other;
    uint64_t Size = 0;
};

// Opens a file for reading without blocking (a FIFO or a device named like a file must not
// hold the program).
Handle OpenRead(const std::string &path);
// Opens an existing file for reading and writing.
Handle OpenReadWrite(const std::string &path);
bool Stat(Native handle, Info &info);

// Reads up to size bytes at offset: the count, 0 at the end, -1 on an error.
int64_t ReadAt(Native handle, void *data, size_t size, uint64_t offset);
// Writes all bytes at offset; false on an error.
bool WriteAt(Native handle, const void *data, size_t size, uint64_t offset);
// Writes all bytes at the current position; false on an error.
bool Write(Native handle, const void *data, size_t size);

// Opens the folder at path (links followed: the caller names it).
Handle OpenFolder(const std::string &path);
// Opens the folder name inside the open folder dir, never through a symbolic link, junction
// or other reparse point: those fail with Failure::NotAFolder, as a file there does.
Handle OpenFolderAt(Native dir, const std::string &name);
// Creates the folder name inside dir; Failure::Exists when something has that name.
bool MakeFolderAt(Native dir, const std::string &name);
// Creates the new file name inside dir for writing, never through a link; Failure::Exists
// when something has that name. mode: the POSIX permission bits where they exist.
Handle CreateNewAt(Native dir, const std::string &name, unsigned mode);
// Renames from to to inside dir, replacing a file present under to.
bool RenameAt(Native dir, const std::string &from, const std::string &to);
// Removes the file (or the empty folder) name inside dir.
bool RemoveAt(Native dir, const std::string &name, bool folder);
// Sets the modification time of the open file; a failure is ignored by the callers.
void SetModifiedTime(Native handle, int64_t seconds, long nanoseconds);

// Path operations, links followed. On Windows each path goes to the system in its long form
// (SystemPath), so paths past the old limit of 260 characters work.

// The full path of path as the system resolves it: on POSIX the current folder before a
// relative path, "." and ".." parts and repeated separators taken out lexically; on Windows
// what GetFullPathNameW makes of it (drive, "\" separators). No trailing separator but on a
// root. Empty when it cannot be made.
std::string FullPath(const std::string &path);
// The form of path to hand to a library that opens it by name (UTF-8): path itself on
// POSIX; on Windows its full path behind the long-path prefix "\\?\" ("\\?\UNC\" for a
// share), or path itself when that cannot be made or it names a device ("\\.\").
std::string SystemPath(const std::string &path);
bool Exists(const std::string &path);
// Creates the folder path (its parent must exist); Failure::Exists when something has that
// name.
bool MakeFolder(const std::string &path);
bool RemoveFile(const std::string &path);
bool RemoveEmptyFolder(const std::string &path);
// Renames, replacing a file present under to.
bool RenamePath(const std::string &from, const std::string &to);
// Free bytes for this user in the file system of the folder; UINT64_MAX when unknown.
uint64_t FreeSpace(const std::string &folder);

// What the add command needs to know of a path (links followed).
struct PathInfo {
    Kind Type = Kind::Other;
    std::pair<uint64_t, uint64_t> Id; // one file, however it is reached
    int64_t ModifiedTime = 0;         // seconds since 1970
    uint32_t Mode = 0;                // POSIX type and permission bits, stored in entries
};
bool StatPath(const std::string &path, PathInfo &info);
// The names in a folder, without "." and "..".
bool ListFolder(const std::string &path, std::vector<std::string> &names);

// How many files the process may hold open at a time; UINT64_MAX when unlimited.
uint64_t OpenFilesLimit();
// A number unique to this process among those running.
unsigned long ProcessId();
// Writes the bytes to stderr in one call.
void WriteError(const std::string &bytes);

} // namespace fa

} // namespace kx_rar
