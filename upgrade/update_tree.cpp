#include "upgrade/update_tree.h"

#include "platform/path_text.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace offline_upgrade {

bool IsTreeFolder(const FolderEntry &entry)
{
    return (entry.Attributes & kAttrDirectory) != 0;
}

bool IsDotEntry(const FolderEntry &entry)
{
    return entry.Name == "." || entry.Name == "..";
}

std::string JoinTreePath(const std::string &folder, const std::string &name)
{
    return JoinPath(folder, name);
}

ListedFolder ListTree(IFileSystem &files, const std::string &path)
{
    ListedFolder tree;
    // Level by level, each level's folders listed together (the system may list them at once).
    struct Pending {
        ListedFolder *Folder;
        std::string Path;
    };
    std::vector<Pending> level{{&tree, path}};
    while (!level.empty()) {
        std::vector<std::string> paths;
        for (const Pending &pending : level)
            paths.push_back(pending.Path);
        std::vector<FolderListing> listings;
        files.ListFolders(paths, "*.*", listings);
        std::vector<Pending> below;
        for (size_t i = 0; i < level.size(); ++i) {
            ListedFolder &folder = *level[i].Folder;
            folder.Listed = listings[i].Listed;
            folder.Entries = std::move(listings[i].Entries);
            const auto isSubfolder = [](const FolderEntry &entry) {
                return IsTreeFolder(entry) && !IsDotEntry(entry);
            };
            // Sized once: the next level keeps pointers to its elements.
            folder.Folders.resize(static_cast<size_t>(
                std::count_if(folder.Entries.begin(), folder.Entries.end(), isSubfolder)));
            size_t next = 0;
            for (const FolderEntry &entry : folder.Entries) {
                if (isSubfolder(entry))
                    below.push_back({&folder.Folders[next++], JoinTreePath(paths[i], entry.Name)});
            }
        }
        level = std::move(below);
    }
    return tree;
}

uint64_t TreeSize(const ListedFolder &folder)
{
    uint64_t total = 0;
    size_t next = 0;
    for (const FolderEntry &entry : folder.Entries) {
        if (IsDotEntry(entry))
            continue;
        total += IsTreeFolder(entry) ? TreeSize(folder.Folders[next++]) : entry.Size;
    }
    return total;
}

} // namespace offline_upgrade
