#include "dest_tree.h"

#include "rar_error.h"

namespace kx_rar {

fa::Native DestTree::Folder(const std::vector<std::string> &parts, size_t count)
{
    fa::Native fd = root_;
    std::string path;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            path += '/';
        path += parts[i];
        if (auto it = open_.find(path); it != open_.end()) {
            fd = it->second.Get();
            continue;
        }
        fa::Handle child = fa::OpenFolderAt(fd, parts[i]);
        if (!child.Valid() && fa::LastFailure() == fa::Failure::NotFound) {
            // Another worker may create the same folder at the same moment.
            const bool made = fa::MakeFolderAt(fd, parts[i]);
            if (made && made_)
                made_->push_back(path);
            if (made || fa::LastFailure() == fa::Failure::Exists)
                child = fa::OpenFolderAt(fd, parts[i]);
        }
        if (!child.Valid()) {
            const std::string why = fa::LastFailure() == fa::Failure::NotAFolder
                                        ? "a file or a link stands in its place"
                                        : fa::ErrorText();
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
        fd = open_.emplace(path, std::move(child)).first->second.Get();
    }
    return fd;
}

} // namespace kx_rar
