#include "tests/support/tree_snapshot.h"

#include "tests/support/temp_folder.h"

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

std::string Describe(const fs::path &path, bool folderTimes)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return "missing";
    const char *kind = S_ISDIR(st.st_mode) ? "folder" : S_ISREG(st.st_mode) ? "file" : "other";
    std::string text = std::string(kind) + " mode " + std::to_string(st.st_mode & 07777) +
                       " owner " + std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
    if (folderTimes || !S_ISDIR(st.st_mode))
        text += " mtime " + std::to_string(st.st_mtim.tv_sec) + "." +
                std::to_string(st.st_mtim.tv_nsec);
    if (S_ISREG(st.st_mode))
        text += " bytes " + ReadWholeFile(path);
    return text;
}

} // namespace

std::map<std::string, std::string> SnapshotTree(const fs::path &root, bool folderTimes)
{
    std::map<std::string, std::string> tree;
    tree[""] = Describe(root, folderTimes);
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        tree[fs::relative(it->path(), root).string()] = Describe(it->path(), folderTimes);
    return tree;
}

std::map<std::string, std::string> StageLeftovers(const fs::path &root)
{
    std::map<std::string, std::string> leftovers;
    for (const auto &[name, description] : SnapshotTree(root)) {
        if (fs::path(name).filename().string().rfind(".kx", 0) == 0)
            leftovers[name] = description;
    }
    return leftovers;
}
