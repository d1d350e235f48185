// The archiver's file access on POSIX systems: descriptors and the *at calls.

#include "file_access.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

namespace kx_rar {

namespace fa {

namespace {

int Fd(Native handle)
{
    return static_cast<int>(handle);
}

Kind KindOf(mode_t mode)
{
    return S_ISREG(mode) ? Kind::Regular : S_ISDIR(mode) ? Kind::Folder : Kind::Other;
}

} // namespace

const char kPathSeparators[] = "/";

size_t RootLength(const std::string &)
{
    return 0;
}

void CloseNative(Native handle, bool &ok)
{
    ok = ::close(Fd(handle)) == 0;
}

std::string ErrorText()
{
    return std::strerror(errno);
}

Failure LastFailure()
{
    switch (errno) {
    case EEXIST:
        return Failure::Exists;
    case ENOENT:
        return Failure::NotFound;
    case ENOTDIR:
    case ELOOP:
        return Failure::NotAFolder;
    default:
        return Failure::Other;
    }
}

Handle OpenRead(const std::string &path)
{
    return Handle(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

Handle OpenReadWrite(const std::string &path)
{
    return Handle(::open(path.c_str(), O_RDWR | O_CLOEXEC));
}

bool Stat(Native handle, Info &info)
{
    struct stat st {};
    if (fstat(Fd(handle), &st) != 0)
        return false;
    info.Type = KindOf(st.st_mode);
    info.Size = static_cast<uint64_t>(st.st_size);
    return true;
}

int64_t ReadAt(Native handle, void *data, size_t size, uint64_t offset)
{
    ssize_t n = 0;
    do {
        n = pread(Fd(handle), data, size, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    return n;
}

bool WriteAt(Native handle, const void *data, size_t size, uint64_t offset)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = pwrite(Fd(handle), p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool Write(Native handle, const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(Fd(handle), p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

Handle OpenFolder(const std::string &path)
{
    return Handle(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

Handle OpenFolderAt(Native dir, const std::string &name)
{
    return Handle(openat(Fd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

bool MakeFolderAt(Native dir, const std::string &name)
{
    return mkdirat(Fd(dir), name.c_str(), 0777) == 0;
}

Handle CreateNewAt(Native dir, const std::string &name, unsigned mode)
{
    return Handle(openat(Fd(dir), name.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         static_cast<mode_t>(mode)));
}

bool RenameAt(Native dir, const std::string &from, const std::string &to)
{
    return renameat(Fd(dir), from.c_str(), Fd(dir), to.c_str()) == 0;
}

bool RemoveAt(Native dir, const std::string &name, bool folder)
{
    return unlinkat(Fd(dir), name.c_str(), folder ? AT_REMOVEDIR : 0) == 0;
}

void SetModifiedTime(Native handle, int64_t seconds, long nanoseconds)
{
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), nanoseconds}};
    futimens(Fd(handle), times);
}

std::string FullPath(const std::string &path)
{
    std::string full = path;
    if (path.empty() || path[0] != '/') {
        std::unique_ptr<char, void (*)(void *)> cwd(getcwd(nullptr, 0), std::free);
        if (!cwd)
            return {};
        full = std::string(cwd.get()) + "/" + path;
    }
    full = std::filesystem::path(full).lexically_normal().string();
    while (full.size() > 1 && full.back() == '/')
        full.pop_back();
    return full;
}

std::string SystemPath(const std::string &path)
{
    return path;
}

bool MakeFolder(const std::string &path)
{
    return mkdir(path.c_str(), 0777) == 0;
}

bool Exists(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

bool RemoveFile(const std::string &path)
{
    return unlink(path.c_str()) == 0;
}

bool RemoveEmptyFolder(const std::string &path)
{
    return rmdir(path.c_str()) == 0;
}

bool RenamePath(const std::string &from, const std::string &to)
{
    return rename(from.c_str(), to.c_str()) == 0;
}

uint64_t FreeSpace(const std::string &folder)
{
    struct statvfs info {};
    if (statvfs(folder.c_str(), &info) != 0)
        return UINT64_MAX;
    return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

bool StatPath(const std::string &path, PathInfo &info)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return false;
    info.Type = KindOf(st.st_mode);
    info.Id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    info.ModifiedTime = st.st_mtime;
    info.Mode = static_cast<uint32_t>(st.st_mode & 0xffff);
    return true;
}

bool ListFolder(const std::string &path, std::vector<std::string> &names)
{
    std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(path.c_str()), closedir);
    if (!dir)
        return false;
    names.clear();
    while (const dirent *e = readdir(dir.get())) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    }
    return true;
}

uint64_t OpenFilesLimit()
{
    struct rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return UINT64_MAX;
    return limit.rlim_cur;
}

unsigned long ProcessId()
{
    return static_cast<unsigned long>(getpid());
}

void WriteError(const std::string &bytes)
{
    // Nothing sensible is left to do when stderr itself cannot be written.
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, bytes.data(), bytes.size());
}

} // namespace fa

} // namespace kx_rar
