// The program folder lock on POSIX: flock on a file opened without following a symbolic link,
// not inherited by the archiver, released by the kernel when the process ends however it ends.

#include "platform/program_folder_lock.h"

#include "platform/posix/unique_fd.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace offline_upgrade {

namespace {

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

// The id of the process that wrote the lock file, or empty when it holds none.
std::string RecordedHolder(int fd)
{
    char buffer[32] = {};
    const ssize_t got = ::pread(fd, buffer, sizeof buffer - 1, 0);
    if (got <= 0)
        return {};
    return ProgramFolderLock::HolderIdFromText(std::string(buffer, static_cast<size_t>(got)));
}

} // namespace

void ProgramFolderLock::Release()
{
    // Closing the only descriptor of the open file releases its flock. The file stays: removing
    // it would let a run that opened it a moment before lock a file no one else can see.
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
    handle_ = -1;
}

ProgramFolderLock ProgramFolderLock::Acquire(const std::string &programFolder)
{
    const std::string path = programFolder + kProgramFolderLockName;
    UniqueFd file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
    const int fd = file.get();
    if (!file)
        return {Outcome::Failed, path, path + ": " + ErrnoText(errno), -1};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        std::string holder = error == EWOULDBLOCK ? RecordedHolder(fd) : std::string();
        file.reset();
        if (error != EWOULDBLOCK)
            return {Outcome::Failed, path, path + ": " + ErrnoText(error), -1};
        return {Outcome::Busy, path,
                path + " is locked" + (holder.empty() ? "" : " by process " + holder), -1};
    }
    // Who holds it, for the run that is refused. The lock does not depend on it.
    const std::string id = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        const ssize_t written = ::pwrite(fd, id.data(), id.size(), 0);
        (void)written;
    }
    return {Outcome::Held, path, {}, file.release()};
}

} // namespace offline_upgrade
