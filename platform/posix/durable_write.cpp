#include "platform/posix/durable_write.h"

#include "platform/posix/unique_fd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace offline_upgrade {

namespace {

// Creates a new file beside path, so that the rename stays on one file system; a short name,
// so that a long target name cannot make it too long. Sets temp to its name.
UniqueFd CreateBeside(const std::string &path, mode_t mode, std::string &temp)
{
    static unsigned counter = 0;
    static const pid_t pid = ::getpid(); // a stale one after fork only costs a retry
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string prefix = folder + ".kxcopy-" + std::to_string(pid) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = prefix + std::to_string(counter++);
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return UniqueFd(fd);
    }
    return UniqueFd();
}

// Removes the new file unless it was renamed into place; keeps errno.
class RemoveUnlessKept {
public:
    explicit RemoveUnlessKept(const std::string &path) : path_(path) {}
    ~RemoveUnlessKept()
    {
        if (kept_)
            return;
        const int error = errno;
        ::unlink(path_.c_str());
        errno = error;
    }
    RemoveUnlessKept(const RemoveUnlessKept &) = delete;
    RemoveUnlessKept &operator=(const RemoveUnlessKept &) = delete;
    void Keep() { kept_ = true; }

private:
    const std::string &path_;
    bool kept_ = false;
};

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

} // namespace

DurableWriteStep WriteDurably(const std::string &path, std::string_view bytes,
                              const DurableFileRights &rights)
{
    using Step = DurableWriteStep;
    std::string temp;
    UniqueFd out = CreateBeside(path, rights.Mode, temp);
    if (!out)
        return Step::Create;
    RemoveUnlessKept remove(temp);
    if (rights.ExactMode && ::fchmod(out.get(), rights.Mode) != 0)
        return Step::Rights;
    if (const struct stat *owner = rights.Owner;
        owner && ::fchown(out.get(), owner->st_uid, owner->st_gid) != 0) {
        // Not ours to give away: keep at least the group when we belong to it.
        [[maybe_unused]] int ignored = ::fchown(out.get(), static_cast<uid_t>(-1), owner->st_gid);
    }
    if (!WriteAll(out.get(), bytes))
        return Step::Write;
    if (::fsync(out.get()) != 0 || !out.Close())
        return Step::Flush;
    if (::rename(temp.c_str(), path.c_str()) != 0)
        return Step::Rename;
    remove.Keep();
    // The new name is stable only once its folder is.
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir || ::fsync(dir.get()) != 0)
        return Step::FlushFolder;
    return Step::Done;
}

const char *DurableWriteStepText(DurableWriteStep step)
{
    switch (step) {
    case DurableWriteStep::Done:
        return "done";
    case DurableWriteStep::Create:
        return "create a file beside it";
    case DurableWriteStep::Rights:
        return "set the permission bits";
    case DurableWriteStep::Write:
        return "write the bytes";
    case DurableWriteStep::Flush:
        return "flush the bytes";
    case DurableWriteStep::Rename:
        return "rename it into place";
    case DurableWriteStep::FlushFolder:
        return "flush its folder";
    }
    return "write";
}

} // namespace offline_upgrade
