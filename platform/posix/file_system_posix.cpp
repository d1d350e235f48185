// The file system on POSIX: folder listings with Windows wildcards, order and attributes, and
// a file copy that replaces its target by rename.

#include "platform/posix/file_system_posix.h"

#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/path_text.h"
#include "platform/posix/durable_write.h"
#include "platform/posix/unique_fd.h"
#include "platform/text.h"
#include "platform/wildcard.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

namespace offline_upgrade {

namespace {

struct DirCloser {
    void operator()(DIR *dir) const { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

// Takes ownership of fd, also when the stream cannot be made.
UniqueDir OpenDirStream(int fd)
{
    DIR *dir = ::fdopendir(fd);
    if (!dir)
        ::close(fd);
    return UniqueDir(dir);
}

bool IsDotOrDotDot(const char *name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

uint32_t AttributesOf(const char *name, const struct stat &st)
{
    uint32_t attributes = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
    if (!(st.st_mode & S_IWUSR))
        attributes |= kAttrReadOnly;
    if (name[0] == '.')
        attributes |= kAttrHidden;
    return attributes;
}

std::string ErrorText(int error)
{
    return std::strerror(error);
}

// Logs what failed with the system's reason (errno as it stands) and returns false, so that a
// false result of a service never loses its cause.
bool Failed(const std::string &what)
{
    const int error = errno;
    LogError(what + ": " + ErrorText(error));
    return false;
}

bool IsFolder(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeFolderWithParents(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (::mkdir(path.c_str(), 0777) == 0)
        return true;
    if (errno == EEXIST)
        return IsFolder(path);
    if (errno != ENOENT)
        return false;
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return false;
    if (!MakeFolderWithParents(path.substr(0, slash)))
        return false;
    return ::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && IsFolder(path));
}

// A folder without owner rights cannot be emptied by its owner; the tree is going anyway.
void GrantOwnerRights(int parentFd, const char *name)
{
    struct stat st;
    if (::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
        (st.st_mode & S_IRWXU) != S_IRWXU)
        ::fchmodat(parentFd, name, (st.st_mode & 07777) | S_IRWXU, 0);
}

// Removes everything below the open folder dirFd; links are removed, never followed.
void RemoveContents(int dirFd)
{
    std::vector<std::string> names;
    {
        UniqueDir dir = OpenDirStream(::dup(dirFd));
        if (!dir)
            return;
        // Names first: removing while reading may make some file systems skip entries.
        while (const dirent *entry = ::readdir(dir.get())) {
            if (!IsDotOrDotDot(entry->d_name))
                names.emplace_back(entry->d_name);
        }
    }
    for (const std::string &name : names) {
        if (::unlinkat(dirFd, name.c_str(), 0) == 0 || errno == ENOENT)
            continue;
        GrantOwnerRights(dirFd, name.c_str());
        UniqueFd child(
            ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!child)
            continue;
        RemoveContents(child.get());
        ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
    }
}

// Copies size bytes, or up to the end when the file has shrunk since.
bool CopyBytes(int in, int out, uint64_t size)
{
    // In-kernel copies first (reflink or page-cache splice), then plain reads and writes for
    // file systems that offer neither. Stopping at the known size saves a call per file.
    constexpr uint64_t kChunk = uint64_t{1} << 30;
    uint64_t left = size;
    while (left > 0) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, std::min(left, kChunk), 0);
        if (n > 0) {
            left -= static_cast<uint64_t>(n);
            continue;
        }
        if (n == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
            errno != EBADF && errno != EPERM)
            return false;
        break;
    }
    while (left > 0) {
        const ssize_t n = ::sendfile(out, in, nullptr, std::min(left, kChunk));
        if (n > 0) {
            left -= static_cast<uint64_t>(n);
            continue;
        }
        if (n == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EINVAL && errno != ENOSYS)
            return false;
        break;
    }
    if (left == 0)
        return true;
    std::vector<char> buffer(size_t{1} << 17);
    while (left > 0) {
        const ssize_t n = ::read(in, buffer.data(), std::min<uint64_t>(left, buffer.size()));
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            done += w;
        }
        left -= static_cast<uint64_t>(n);
    }
    return true;
}

// The file mode creation mask, read once without changing it (the tool never changes it);
// -1 when it cannot be read.
int CreationMask()
{
    static const int mask = [] {
        UniqueFd fd(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
        char text[4096];
        const ssize_t n = fd ? ::read(fd.get(), text, sizeof text - 1) : -1;
        if (n <= 0)
            return -1;
        text[n] = '\0';
        const char *line = std::strstr(text, "\nUmask:");
        return line ? static_cast<int>(std::strtol(line + 7, nullptr, 8)) : -1;
    }();
    return mask;
}

// True when creating a file with mode gives exactly mode, so no fchmod is needed.
bool ModeSurvivesCreation(mode_t mode)
{
    const int mask = CreationMask();
    return mask >= 0 && (mode & 07000) == 0 && (mode & static_cast<mode_t>(mask)) == 0;
}

// Unlinks the temporary copy unless it was renamed into place.
class TempFileGuard {
public:
    // name lies in folder and lives as long as the guard.
    TempFileGuard(int folder, const char *name) : folder_(folder), name_(name) {}
    ~TempFileGuard()
    {
        if (armed_)
            ::unlinkat(folder_, name_, 0);
    }
    TempFileGuard(const TempFileGuard &) = delete;
    TempFileGuard &operator=(const TempFileGuard &) = delete;
    void Disarm() { armed_ = false; }

private:
    int folder_;
    const char *name_;
    bool armed_ = true;
};

EntryKind KindOfMode(mode_t mode)
{
    if (S_ISLNK(mode))
        return EntryKind::Link;
    if (S_ISDIR(mode))
        return EntryKind::Folder;
    return S_ISREG(mode) ? EntryKind::File : EntryKind::Other;
}

using Place = FolderLookup::Place;

Place Whole(const std::string &path)
{
    return {AT_FDCWD, path.c_str()};
}

// The effective user may open what place names (links followed) for mode (R_OK, W_OK).
bool MayAccess(const Place &place, int mode)
{
    return ::faccessat(place.Folder, place.Name, mode, AT_EACCESS) == 0;
}

// MayReadFile of place, without the hint: a plain file, or a link to one, that may be read.
bool MayReadAt(const Place &place)
{
    struct stat st;
    return ::fstatat(place.Folder, place.Name, &st, 0) == 0 && S_ISREG(st.st_mode) &&
           MayAccess(place, R_OK);
}

// MayReplaceFile of place: anything but a folder (links followed) that may be written.
bool MayReplaceAt(const Place &place)
{
    struct stat st;
    return ::fstatat(place.Folder, place.Name, &st, 0) == 0 && !S_ISDIR(st.st_mode) &&
           MayAccess(place, W_OK);
}

} // namespace

bool PosixFileSystem::FileExists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool PosixFileSystem::DirectoryExists(const std::string &path)
{
    return IsFolder(path);
}

EntryKind PosixFileSystem::KindOf(const std::string &path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return EntryKind::Missing;
    return KindOfMode(st.st_mode);
}

bool PosixFileSystem::ResolvePath(const std::string &path, std::string &resolved)
{
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real)
        return false;
    resolved = real.get();
    return true;
}

bool PosixFileSystem::RemoveFile(const std::string &path)
{
    return ::unlink(path.c_str()) == 0 || Failed("cannot delete " + path);
}

bool PosixFileSystem::ForceDirectories(const std::string &path)
{
    if (path.empty())
        return false;
    return IsFolder(path) || MakeFolderWithParents(path) ||
           Failed("cannot create the folder " + path);
}

bool PosixFileSystem::RemoveTree(const std::string &path)
{
    // A trailing separator would make the system resolve a link named by the path.
    std::string tree = path;
    while (tree.size() > 1 && tree.back() == '/')
        tree.pop_back();
    struct stat st;
    if (::lstat(tree.c_str(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return ::unlink(tree.c_str()) == 0 || errno == ENOENT || Failed("cannot delete " + tree);
    if ((st.st_mode & S_IRWXU) != S_IRWXU)
        ::chmod(tree.c_str(), (st.st_mode & 07777) | S_IRWXU);
    {
        UniqueFd dir(::open(tree.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (dir)
            RemoveContents(dir.get());
    }
    if (::rmdir(tree.c_str()) == 0)
        return true;
    const int error = errno;
    if (::lstat(tree.c_str(), &st) != 0 && errno == ENOENT)
        return true;
    errno = error;
    return Failed("cannot remove the folder " + tree);
}

std::string PosixFileSystem::GetCurrentDir()
{
    std::string buffer(PATH_MAX, '\0');
    while (!::getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            throw KxError("cannot read the working directory: " + ErrorText(errno));
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

void PosixFileSystem::SetCurrentDir(const std::string &path)
{
    if (::chdir(path.c_str()) != 0)
        throw KxError("cannot make " + path + " the working directory: " + ErrorText(errno));
}

namespace {

// ListFolder without the log: nullptr, or the step that failed (errno says why).
const char *ListInto(const std::string &folder, const std::string &pattern,
                     std::vector<FolderEntry> &entries)
{
    entries.clear();
    UniqueDir dir = OpenDirStream(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        return "cannot list the folder ";
    const int fd = ::dirfd(dir.get());
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir.get());
        if (!entry) {
            if (errno == 0)
                break;
            const int error = errno;
            entries.clear();
            errno = error;
            return "cannot read the folder ";
        }
        const char *name = entry->d_name;
        if (IsDotOrDotDot(name) || !MatchesWildcard(name, pattern))
            continue;
        // Links are listed as what they point to; a dangling one as an empty file.
        struct stat st;
        if (::fstatat(fd, name, &st, 0) != 0 && ::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone since it was read
        const uint64_t size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
        entries.push_back({name, AttributesOf(name, st), size, S_ISREG(st.st_mode)});
    }
    std::sort(entries.begin(), entries.end(), [](const FolderEntry &a, const FolderEntry &b) {
        const int byName = CompareIgnoreAsciiCase(a.Name, b.Name);
        return byName != 0 ? byName < 0 : OrdinalCompare(a.Name, b.Name) < 0;
    });
    return nullptr;
}

} // namespace

bool PosixFileSystem::ListFolder(const std::string &folder, const std::string &pattern,
                                 std::vector<FolderEntry> &entries)
{
    const char *step = ListInto(folder, pattern, entries);
    return !step || Failed(step + folder);
}

mode_t ReplacedFileMode(const struct stat &old, bool ownerKept)
{
    const mode_t bits = old.st_mode & 07777;
    // As the system itself drops them when another user writes the file: a program must not
    // become set-user-ID to someone it does not belong to.
    return ownerKept ? bits : bits & ~mode_t{S_ISUID | S_ISGID};
}

mode_t NewFileMode(mode_t sourceMode)
{
    return sourceMode & 0777;
}

bool PosixFileSystem::MayReplaceFile(const std::string &path)
{
    return MayReplaceAt(Whole(path));
}

FolderLookup::Place FolderLookup::Find(const std::string &path)
{
    size_t nameAt = 0;
    const size_t folderLength = opens_ ? FolderLength(path, nameAt) : 0;
    if (folderLength == 0)
        return {AT_FDCWD, path.c_str()};
    // A folder part is never empty, so the first path always opens its folder.
    if (folder_.size() != folderLength || path.compare(0, folderLength, folder_) != 0) {
        folder_.assign(path, 0, folderLength);
        // O_PATH: the folder is only a starting point for names, never read.
        fd_.reset(::open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat st;
        hasDevice_ = fd_ && ::fstat(fd_.get(), &st) == 0;
        device_ = hasDevice_ ? st.st_dev : 0;
    }
    if (!fd_)
        return {AT_FDCWD, path.c_str()};
    return {fd_.get(), path.c_str() + nameAt};
}

FolderLookup::Place FolderLookup::FindInLast(const std::string &path)
{
    size_t nameAt = 0;
    const size_t folderLength = FolderLength(path, nameAt);
    if (folderLength == 0 || !fd_ || folder_.size() != folderLength ||
        path.compare(0, folderLength, folder_) != 0)
        return {AT_FDCWD, path.c_str()};
    return {fd_.get(), path.c_str() + nameAt};
}

bool FolderLookup::DeviceOfLast(const Place &place, dev_t &device) const
{
    if (!fd_ || place.Folder != fd_.get() || !hasDevice_)
        return false;
    device = device_;
    return true;
}

size_t FolderLookup::FolderLength(const std::string &path, size_t &nameAt)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return 0;
    nameAt = slash + 1;
    const char *name = path.c_str() + nameAt;
    // "a/", "a/." and "a/.." name the folder itself or its parent: used whole.
    if (name[0] == '\0' || IsDotOrDotDot(name))
        return 0;
    return slash == 0 ? 1 : slash; // "/name": the root
}

namespace {

// Opens source for a copy; only a file is copied. Nullptr, or the step that failed (errno
// says why).
const char *OpenSource(const FolderLookup::Place &source, UniqueFd &in, struct stat &from)
{
    // Non-blocking, so that a FIFO in the tree cannot hang the copy.
    in.reset(::openat(source.Folder, source.Name, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!in)
        return "open the source";
    if (::fstat(in.get(), &from) != 0)
        return "read the source's attributes";
    if (!S_ISREG(from.st_mode)) {
        errno = EINVAL;
        return "the source is not a plain file";
    }
    return nullptr;
}

// The bits to create a copy with, and whether creating with them already gives the copy its
// final bits and owner, so that FillCopy need not change them (ownedAlike: the replaced file
// belongs to the process's effective user and group).
mode_t CreationMode(const struct stat &from, bool replacing, const struct stat &old,
                    bool ownedAlike, bool &final)
{
    if (!replacing) {
        const mode_t mode = NewFileMode(from.st_mode);
        final = ModeSurvivesCreation(mode);
        return mode;
    }
    const mode_t mode = ReplacedFileMode(old, true);
    final = ownedAlike && ModeSurvivesCreation(mode);
    return final ? mode : NewFileMode(from.st_mode);
}

// From this size on, a copy's write-back starts as soon as it is written.
constexpr uint64_t kEarlyWriteBackBytes = 16 * 1024;

// Fills the new file out with the bytes of in and gives it the bits, owner and times of the
// rule of CopyFileBeside (old: the file it is to replace, when replacing; final: it was created
// with its final bits and owner; ownedAlike as for CreationMode). Closes out. Nullptr, or the
// step that failed (errno says why).
const char *FillCopy(int in, const struct stat &from, UniqueFd &out, bool replacing,
                     const struct stat &old, bool ownedAlike, bool final)
{
    if (!CopyBytes(in, out.get(), static_cast<uint64_t>(from.st_size)))
        return "copy the bytes";
    if (!final) {
        mode_t mode = NewFileMode(from.st_mode);
        if (replacing) {
            // Before the mode: a change of owner clears the set-user-ID bits, which the mode
            // sets.
            bool ownerKept = ownedAlike;
            if (!ownerKept)
                ownerKept = ::fchown(out.get(), old.st_uid, old.st_gid) == 0;
            mode = ReplacedFileMode(old, ownerKept);
        }
        if (::fchmod(out.get(), mode) != 0)
            return "set the permission bits";
    }
    const struct timespec times[2] = {from.st_atim, from.st_mtim};
    if (::futimens(out.get(), times) != 0)
        return "set the modification time";
    // The disk starts writing a larger copy now rather than at the stage's one flush, so that
    // the flush finds less to wait for; a small copy is left for the flush, which writes many
    // at once more cheaply than one by one. Only a hint: a failure shows at the flush.
    if (static_cast<uint64_t>(from.st_size) >= kEarlyWriteBackBytes)
        (void)::sync_file_range(out.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    // No fsync here: the rename keeps a failed copy from ever showing under the target's
    // name, and the stage flushes each file system once at its end (FlushFileSystems), which
    // costs far less than a flush per file.
    if (!out.Close())
        return "write the copy";
    return nullptr;
}

} // namespace

bool PosixFileSystem::MayReadFile(const std::string &path)
{
    return MayReadAt(Whole(path));
}

bool PosixFileSystem::MayCreateIn(const std::string &folder)
{
    return IsFolder(folder) && ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool PosixFileSystem::SpaceOf(const std::string &path, FileSystemSpace &space)
{
    struct stat st;
    struct statvfs fs;
    if (::stat(path.c_str(), &st) != 0 || ::statvfs(path.c_str(), &fs) != 0)
        return Failed("cannot read the free space of the file system of " + path);
    space.Id = static_cast<uint64_t>(st.st_dev);
    // Root may also use the blocks the file system keeps back for it.
    const uint64_t blocks = ::geteuid() == 0 ? fs.f_bfree : fs.f_bavail;
    space.Available = blocks * static_cast<uint64_t>(fs.f_frsize);
    return true;
}

bool PosixFileSystem::CopyFileBeside(const std::string &source, const std::string &dest,
                                     const std::string &temp)
{
    // One copy: opening its folders would cost more than the walks it saves.
    FolderLookup sources(false);
    FolderLookup targets(false);
    int error = 0;
    const char *step =
        CopyWithin(source, dest, temp, {::geteuid(), ::getegid()}, sources, targets, error);
    if (!step)
        return true;
    errno = error;
    return Failed("cannot copy " + source + " to " + temp + ": " + step);
}

const char *PosixFileSystem::CopyWithin(const std::string &source, const std::string &dest,
                                        const std::string &temp, const EffectiveIds &ids,
                                        FolderLookup &sources, FolderLookup &targets, int &error)
{
    const auto failed = [&error](const char *step) {
        error = errno;
        return step;
    };
    UniqueFd in;
    struct stat from;
    if (const char *step = OpenSource(sources.Find(source), in, from))
        return failed(step);
    const FolderLookup::Place target = targets.Find(dest);
    struct stat old;
    const bool replacing =
        ::fstatat(target.Folder, target.Name, &old, 0) == 0 && !S_ISDIR(old.st_mode);
    const bool ownedAlike = replacing && old.st_uid == ids.User && old.st_gid == ids.Group;
    bool final = false;
    const mode_t mode = CreationMode(from, replacing, old, ownedAlike, final);
    // temp lies in dest's folder: the folder just found serves it too.
    const FolderLookup::Place made = targets.FindInLast(temp);
    UniqueFd out(::openat(made.Folder, made.Name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!out)
        return failed("create the copy");
    TempFileGuard guard(made.Folder, made.Name);
    dev_t device = 0;
    if (!targets.DeviceOfLast(made, device)) {
        struct stat st;
        if (::fstat(out.get(), &st) != 0)
            return failed("read the copy's attributes");
        device = st.st_dev;
    }
    WatchForFlush(device, temp);
    if (const char *step = FillCopy(in.get(), from, out, replacing, old, ownedAlike, final))
        return failed(step);
    guard.Disarm();
    return nullptr;
}

namespace {

// Runs of consecutive items whose paths (path(i)) lie in one folder, at most kRun long, so that
// threads mostly work in folders of their own (creating a file takes its folder's lock) and each
// looks its folders up once. Where each run starts; the last element is the end.
template <class Path> std::vector<size_t> RunsByFolder(size_t count, Path path)
{
    constexpr size_t kRun = 64;
    std::vector<size_t> starts;
    std::string_view folder;
    for (size_t i = 0; i < count; ++i) {
        const std::string &at = path(i);
        size_t nameAt = 0;
        const std::string_view here(at.data(), FolderLookup::FolderLength(at, nameAt));
        if (starts.empty() || here != folder || i - starts.back() >= kRun)
            starts.push_back(i);
        folder = here;
    }
    starts.push_back(count);
    return starts;
}

// Runs of one item each, for RunAll.
std::vector<size_t> EachAlone(size_t count)
{
    std::vector<size_t> starts(count + 1);
    for (size_t i = 0; i <= count; ++i)
        starts[i] = i;
    return starts;
}

// At most this many threads in all: work that waits on a disk overlaps its waits even beyond
// the cores.
constexpr size_t kMaxThreads = 4;

// Threads for work that keeps a core busy: no more than the cores.
size_t CoreThreads()
{
    return std::min<size_t>(kMaxThreads, std::max(1U, std::thread::hardware_concurrency()));
}

// Calls work(begin, end, calling) for every run, on the calling thread (calling true) and on
// helper threads, up to threads in all, where there are itemsPerThread items for each (fewer do
// not pay for a thread). Returns when every run is done, or once stop is set, when the runs
// under way are. work may throw on the calling thread only; the helpers are stopped and joined
// before it leaves.
template <class Work>
void RunAll(const std::vector<size_t> &runs, size_t itemsPerThread, size_t threads,
            std::atomic<bool> &stop, Work work)
{
    std::atomic<size_t> next{0};
    const auto take = [&](bool calling) {
        for (size_t run = next++; run + 1 < runs.size() && !stop; run = next++)
            work(runs[run], runs[run + 1], calling);
    };
    struct Helpers {
        std::atomic<bool> &stop;
        std::vector<std::thread> threads;
        void Join()
        {
            for (std::thread &thread : threads)
                thread.join();
            threads.clear();
        }
        ~Helpers()
        {
            stop = true;
            Join();
        }
    } helpers{stop, {}};
    const size_t extra = std::min(threads - 1, runs.back() / itemsPerThread);
    try {
        for (size_t i = 0; i < extra; ++i)
            helpers.threads.emplace_back(take, false);
    } catch (const std::system_error &) {
        // No more threads to be had: fewer do the same work.
    }
    take(true);
    helpers.Join();
}

// Files to examine, copy or remove that pay for a thread of their own.
constexpr size_t kFilesPerThread = 32;

} // namespace

void PosixFileSystem::ListFolders(const std::vector<std::string> &folders,
                                  const std::string &pattern, std::vector<FolderListing> &listings)
{
    // Folders that pay for a thread of their own: each is a walk over its entries.
    constexpr size_t kFoldersPerThread = 4;
    listings.assign(folders.size(), FolderListing{});
    std::vector<const char *> failed(folders.size(), nullptr); // the step, for the log
    std::vector<int> errors(folders.size(), 0);
    std::atomic<bool> stop{false};
    std::atomic<bool> outOfMemory{false};
    RunAll(EachAlone(folders.size()), kFoldersPerThread, CoreThreads(), stop,
           [&](size_t begin, size_t, bool) {
               try {
                   failed[begin] = ListInto(folders[begin], pattern, listings[begin].Entries);
                   errors[begin] = errno;
                   listings[begin].Listed = !failed[begin];
               } catch (const std::bad_alloc &) {
                   outOfMemory = true;
                   stop = true;
               }
           });
    // Out of memory on the way: one by one, where it may throw as any call does.
    if (outOfMemory)
        return IFileSystem::ListFolders(folders, pattern, listings);
    for (size_t i = 0; i < folders.size(); ++i) {
        if (failed[i])
            LogError(failed[i] + folders[i] + ": " + ErrorText(errors[i]));
    }
}

namespace {

// ExamineCopyPlaces for one place.
void ExaminePlace(const CopyPlace &place, CopyPlaceFacts &fact, FolderLookup &sources,
                  FolderLookup &targets)
{
    // As MayReadFile, KindOf, MayReplaceFile and IdentityOf, by name in an open folder.
    const Place source = sources.Find(place.Source);
    fact.SourceReadable = place.SourceListedPlain ? MayAccess(source, R_OK) : MayReadAt(source);
    const Place target = targets.Find(place.Target);
    struct stat st;
    if (::fstatat(target.Folder, target.Name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    fact.TargetKind = KindOfMode(st.st_mode);
    if (fact.TargetKind == EntryKind::Folder)
        return;
    fact.TargetIdentity = static_cast<uint64_t>(st.st_ino);
    // A link: what it leads to is what may or may not be written; else this is no folder.
    fact.TargetReplaceable = S_ISLNK(st.st_mode) ? MayReplaceAt(target) : MayAccess(target, W_OK);
}

} // namespace

void PosixFileSystem::ExamineCopyPlaces(const std::vector<CopyPlace> &places,
                                        std::vector<CopyPlaceFacts> &facts)
{
    facts.assign(places.size(), CopyPlaceFacts{});
    std::atomic<bool> stop{false};
    std::atomic<bool> outOfMemory{false};
    RunAll(RunsByFolder(places.size(),
                        [&](size_t i) -> const std::string & { return places[i].Source; }),
           kFilesPerThread, CoreThreads(), stop, [&](size_t begin, size_t end, bool) {
               FolderLookup sources;
               FolderLookup targets;
               try {
                   for (size_t i = begin; i < end; ++i)
                       ExaminePlace(places[i], facts[i], sources, targets);
               } catch (const std::bad_alloc &) {
                   outOfMemory = true;
                   stop = true;
               }
           });
    // Out of memory on the way: one by one, where it may throw as any call does.
    if (outOfMemory)
        IFileSystem::ExamineCopyPlaces(places, facts);
}

bool PosixFileSystem::CopyFilesBeside(const std::vector<FileCopy> &copies,
                                      const std::function<void(size_t)> &copied)
{
    struct Failure {
        size_t Index = 0;
        const char *Step = nullptr; // nullptr: out of memory
        int Error = 0;
    };
    const EffectiveIds ids{::geteuid(), ::getegid()};
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::vector<size_t> done;       // copied, not yet reported; under lock
    std::optional<Failure> failure; // the first; under lock
    const auto fail = [&](Failure what) {
        const std::lock_guard<std::mutex> hold(lock);
        if (!failure)
            failure = what;
        stop = true;
    };
    const auto report = [&] {
        std::vector<size_t> reported;
        {
            const std::lock_guard<std::mutex> hold(lock);
            reported.swap(done);
        }
        for (const size_t i : reported)
            copied(i);
    };
    RunAll(RunsByFolder(copies.size(),
                        [&](size_t i) -> const std::string & { return copies[i].Dest; }),
           kFilesPerThread, CoreThreads(), stop, [&](size_t begin, size_t end, bool calling) {
               FolderLookup sources;
               FolderLookup targets;
               try {
                   for (size_t i = begin; i < end && !stop; ++i) {
                       int error = 0;
                       const FileCopy &copy = copies[i];
                       if (const char *step = CopyWithin(copy.Source, copy.Dest, copy.Temp, ids,
                                                         sources, targets, error)) {
                           fail({i, step, error});
                           break;
                       }
                       const std::lock_guard<std::mutex> hold(lock);
                       done.push_back(i);
                   }
               } catch (const std::bad_alloc &) {
                   fail({copies.size(), nullptr, ENOMEM});
               }
               // The helpers' copies too are reported from here, between the runs.
               if (calling)
                   report();
           });
    report();
    if (!failure)
        return true;
    if (!failure->Step) {
        LogError("cannot copy the files: out of memory");
        return false;
    }
    const FileCopy &copy = copies[failure->Index];
    LogError("cannot copy " + copy.Source + " to " + copy.Temp + ": " + failure->Step + ": " +
             ErrorText(failure->Error));
    return false;
}

void PosixFileSystem::WatchForFlush(dev_t device, const std::string &path)
{
    const std::lock_guard<std::mutex> hold(unflushedLock_);
    if (unflushed_.count(device))
        return;
    UniqueFd fd(::open(ParentFolder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // Without it the flush opens a descriptor of its own, as for any other path.
    if (fd)
        unflushed_.emplace(device, std::move(fd));
}

namespace {

// Renames from to to unless something is at to; false with errno.
bool RenameWithoutReplacing(const Place &from, const Place &to)
{
    if (::renameat2(from.Folder, from.Name, to.Folder, to.Name, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: only the tool renames in these folders meanwhile.
    struct stat st;
    if (::fstatat(to.Folder, to.Name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return errno == ENOENT && ::renameat(from.Folder, from.Name, to.Folder, to.Name) == 0;
}

// Swaps a and b; a failure is logged with the paths as given.
ExchangeOutcome Exchange(const Place &a, const Place &b, const std::string &aPath,
                         const std::string &bPath)
{
    if (::renameat2(a.Folder, a.Name, b.Folder, b.Name, RENAME_EXCHANGE) == 0)
        return ExchangeOutcome::Exchanged;
    // A file system without the flag (an older kernel, a network or FUSE file system).
    if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
        return ExchangeOutcome::Unsupported;
    (void)Failed("cannot swap " + aPath + " and " + bPath);
    return ExchangeOutcome::Failed;
}

} // namespace

bool PosixFileSystem::RenameFile(const std::string &from, const std::string &to, bool replace)
{
    if (replace ? ::rename(from.c_str(), to.c_str()) == 0
                : RenameWithoutReplacing(Whole(from), Whole(to)))
        return true;
    return Failed("cannot rename " + from + " to " + to);
}

size_t PosixFileSystem::MoveFiles(const std::vector<FileMove> &moves, ExchangeOutcome &stoppedBy)
{
    FolderLookup folders;
    for (size_t i = 0; i < moves.size(); ++i) {
        const FileMove &move = moves[i];
        const Place from = folders.Find(move.From);
        // Both names lie in one folder: it is looked up once.
        const Place to = folders.FindInLast(move.To);
        if (move.Exchange) {
            stoppedBy = Exchange(from, to, move.From, move.To);
            if (stoppedBy != ExchangeOutcome::Exchanged)
                return i;
        } else if (!RenameWithoutReplacing(from, to)) {
            (void)Failed("cannot rename " + move.From + " to " + move.To);
            stoppedBy = ExchangeOutcome::Failed;
            return i;
        }
    }
    stoppedBy = ExchangeOutcome::Exchanged;
    return moves.size();
}

bool PosixFileSystem::IdentityOf(const std::string &path, uint64_t &identity)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    identity = static_cast<uint64_t>(st.st_ino);
    return true;
}

ExchangeOutcome PosixFileSystem::ExchangeFiles(const std::string &a, const std::string &b)
{
    return Exchange(Whole(a), Whole(b), a, b);
}

bool PosixFileSystem::RemoveFiles(const std::vector<std::string> &paths)
{
    std::vector<int> errors(paths.size(), 0); // each written by the one thread that unlinks it
    std::atomic<bool> stop{false};
    // Not bound by the cores: an unlink mostly waits on the file system's journal.
    RunAll(EachAlone(paths.size()), kFilesPerThread, kMaxThreads, stop,
           [&](size_t i, size_t, bool) {
               if (::unlink(paths[i].c_str()) != 0)
                   errors[i] = errno;
           });
    bool all = true;
    for (size_t i = 0; i < paths.size(); ++i) {
        if (errors[i] != 0) {
            LogError("cannot delete " + paths[i] + ": " + ErrorText(errors[i]));
            all = false;
        }
    }
    return all;
}

bool PosixFileSystem::CreateFolder(const std::string &path)
{
    return ::mkdir(path.c_str(), 0777) == 0 || Failed("cannot create the folder " + path);
}

bool PosixFileSystem::RemoveFolder(const std::string &path)
{
    return ::rmdir(path.c_str()) == 0 || Failed("cannot remove the folder " + path);
}

bool PosixFileSystem::ModifiedTime(const std::string &path, int64_t &nanoseconds)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return Failed("cannot read the time of " + path);
    nanoseconds = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

bool PosixFileSystem::SetModifiedTime(const std::string &path, int64_t nanoseconds)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(nanoseconds / 1000000000);
    times[1].tv_nsec = static_cast<long>(nanoseconds % 1000000000);
    if (times[1].tv_nsec < 0) {
        times[1].tv_nsec += 1000000000;
        --times[1].tv_sec;
    }
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0 ||
           Failed("cannot set the time of " + path);
}

namespace {

class PosixFileReader : public IFileReader {
public:
    PosixFileReader(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    bool Read(char *buffer, size_t capacity, size_t &got) override
    {
        got = 0;
        for (;;) {
            const ssize_t n = ::read(fd_.get(), buffer, capacity);
            if (n >= 0) {
                got = static_cast<size_t>(n);
                return true;
            }
            if (errno != EINTR)
                return Failed("cannot read " + path_);
        }
    }

private:
    UniqueFd fd_;
    std::string path_;
};

class PosixFileWriter : public IFileWriter {
public:
    PosixFileWriter(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    bool Write(const char *data, size_t size) override
    {
        while (size > 0) {
            const ssize_t n = ::write(fd_.get(), data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return Failed("cannot write " + path_);
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    bool Close() override
    {
        if (!fd_.Close())
            return Failed("cannot close " + path_);
        return true;
    }

private:
    UniqueFd fd_;
    std::string path_;
};

} // namespace

std::unique_ptr<IFileReader> PosixFileSystem::OpenFileForReading(const std::string &path)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        (void)Failed("cannot open " + path);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        LogError("cannot read " + path + ": not a plain file");
        return nullptr;
    }
    (void)::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::make_unique<PosixFileReader>(fd.release(), path);
}

std::unique_ptr<IFileWriter> PosixFileSystem::CreateNewFile(const std::string &path)
{
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) {
        (void)Failed("cannot create " + path);
        return nullptr;
    }
    return std::make_unique<PosixFileWriter>(fd.release(), path);
}

bool PosixFileSystem::ReadFile(const std::string &path, std::string &bytes)
{
    bytes.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return Failed("cannot open " + path);
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n > 0) {
            bytes.append(chunk, static_cast<size_t>(n));
        } else if (n == 0) {
            return true;
        } else if (errno != EINTR) {
            bytes.clear();
            return Failed("cannot read " + path);
        }
    }
}

bool PosixFileSystem::WriteFileDurably(const std::string &path, const std::string &bytes)
{
    const DurableWriteStep step = WriteDurably(path, bytes);
    return step == DurableWriteStep::Done ||
           Failed("cannot write " + path + ": " + DurableWriteStepText(step));
}

bool PosixFileSystem::FlushFileSystems(const std::vector<std::string> &paths)
{
    bool ok = true;
    std::set<dev_t> flushed;
    for (const std::string &path : paths) {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat st;
        if (!fd || ::fstat(fd.get(), &st) != 0) {
            LogError("cannot open " + path + " to flush its file system: " + ErrorText(errno));
            ok = false;
            continue;
        }
        if (!flushed.insert(st.st_dev).second)
            continue;
        // Waits for the write-back of the whole file system, names included. It reports the
        // errors that arise from the moment the descriptor was opened: the one opened before
        // the first copy there, when there is one.
        const std::lock_guard<std::mutex> hold(unflushedLock_);
        const auto watched = unflushed_.find(st.st_dev);
        const int through = watched != unflushed_.end() ? watched->second.get() : fd.get();
        if (::syncfs(through) != 0) {
            LogError("flushing the file system of " + path + " failed: " + ErrorText(errno));
            ok = false;
        }
        if (watched != unflushed_.end())
            unflushed_.erase(watched);
    }
    return ok;
}

} // namespace offline_upgrade
