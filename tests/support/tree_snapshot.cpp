#include "tests/support/tree_snapshot.h"

#include "tests/support/temp_folder.h"

#include <sys/stat.h>

#include <cstdint>

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
    if (S_ISREG(st.st_mode)) {
        // Short contents as they are, so that a failure shows them; long ones by a digest.
        const std::string bytes = ReadWholeFile(path);
        if (bytes.size() <= 64) {
            text += " bytes " + bytes;
        } else {
            uint64_t digest = 1469598103934665603ULL; // FNV-1a
            for (unsigned char c : bytes)
                digest = (digest ^ c) * 1099511628211ULL;
            text += " size " + std::to_string(bytes.size()) + " digest " + std::to_string(digest);
        }
    }
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
