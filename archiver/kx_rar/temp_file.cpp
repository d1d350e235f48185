#include "temp_file.h"

#include "rar_error.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

} // namespace

TempFile::TempFile(int dirFd, std::string finalName, std::string shownName, mode_t mode)
    : dirFd_(dirFd), finalName_(std::move(finalName)), shownName_(std::move(shownName))
{
    // The name must be unique among the threads of this process and the processes that may
    // unpack into the same folder; O_EXCL settles the rest.
    static std::atomic<unsigned long> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName_ = ".kx_rar-" + std::to_string(getpid()) + "-" +
                    std::to_string(counter.fetch_add(1)) + ".tmp";
        const int fd = openat(dirFd_, tempName_.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            fd_ = UniqueFd(fd);
            return;
        }
        if (errno != EEXIST)
            break;
    }
    throw RarError(ExitCode::CannotCreate, "cannot create " + shownName_ + ": " + ErrnoText(errno));
}

TempFile::~TempFile()
{
    if (!committed_) {
        fd_.Reset();
        unlinkat(dirFd_, tempName_.c_str(), 0);
    }
}

void TempFile::Write(const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_.Get(), p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw RarError(ExitCode::Fatal, "cannot write " + shownName_ + ": " + ErrnoText(errno));
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
}

void TempFile::SetModifiedTime(const timespec &mtime)
{
    const timespec times[2] = {{0, UTIME_OMIT}, mtime};
    futimens(fd_.Get(), times);
}

void TempFile::Commit()
{
    if (!fd_.Close())
        throw RarError(ExitCode::Fatal, "cannot write " + shownName_ + ": " + ErrnoText(errno));
    if (renameat(dirFd_, tempName_.c_str(), dirFd_, finalName_.c_str()) != 0)
        throw RarError(ExitCode::CannotCreate,
                       "cannot create " + shownName_ + ": " + ErrnoText(errno));
    committed_ = true;
}
