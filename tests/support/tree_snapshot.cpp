#include "tests/support/tree_snapshot.h"

#include "tests/support/temp_folder.h"

#include <cstdint>

namespace offline_upgrade {

namespace fs = std::filesystem;

namespace {

std::string Describe(const fs::path &path, bool folderTimes)
{
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (ec || status.type() == fs::file_type::not_found)
        return "missing";
    if (status.type() == fs::file_type::symlink)
        return "link to " + fs::read_symlink(path, ec).string();
    const bool folder = status.type() == fs::file_type::directory;
    const bool file = status.type() == fs::file_type::regular;
    std::string text = std::string(folder ? "folder"
                                   : file ? "file"
                                          : "other") +
                       " mode " +
                       std::to_string(static_cast<unsigned>(status.permissions()) & 07777) + " " +
                       SystemDetails(path);
    if (folderTimes || !folder)
        text +=
            " mtime " + std::to_string(fs::last_write_time(path, ec).time_since_epoch().count());
    if (file) {
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
        tree[fs::relative(it->path(), root).generic_string()] = Describe(it->path(), folderTimes);
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

} // namespace offline_upgrade
