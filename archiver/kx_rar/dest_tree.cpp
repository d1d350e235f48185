#include "dest_tree.h"

#include "rar_error.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace {

int OpenFolder(int parentFd, const std::string &name)
{
    return openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

} // namespace

int DestTree::Folder(const std::vector<std::string> &parts, size_t count)
{
    int fd = root_;
    std::string path;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            path += '/';
        path += parts[i];
        if (auto it = open_.find(path); it != open_.end()) {
            fd = it->second.Get();
            continue;
        }
        int child = OpenFolder(fd, parts[i]);
        if (child < 0 && errno == ENOENT) {
            // Another worker may create the same folder at the same moment.
            const bool made = mkdirat(fd, parts[i].c_str(), 0777) == 0;
            if (made && made_)
                made_->push_back(path);
            if (made || errno == EEXIST)
                child = OpenFolder(fd, parts[i]);
        }
        if (child < 0) {
            const int error = errno;
            const std::string why = (error == ENOTDIR || error == ELOOP)
                                        ? "a file or a link stands in its place"
                                        : std::strerror(error);
            throw RarError(ExitCode::CannotCreate, "cannot create folder " + path + ": " + why);
        }
        if (open_.size() >= maxOpen_) {
            // Start afresh, but keep the parent: its descriptor is still in use.
            const size_t parentLength = i == 0 ? 0 : path.size() - parts[i].size() - 1;
            auto parent = open_.extract(path.substr(0, parentLength));
            open_.clear();
            if (!parent.empty())
                open_.insert(std::move(parent));
        }
        fd = open_.emplace(path, UniqueFd(child)).first->second.Get();
    }
    return fd;
}
