#include "upgrade/update_tree.h"

#include "platform/path_text.h"

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
    ListedFolder folder;
    folder.Listed = files.ListFolder(path, "*.*", folder.Entries);
    for (const FolderEntry &entry : folder.Entries) {
        if (IsTreeFolder(entry) && !IsDotEntry(entry))
            folder.Folders.push_back(ListTree(files, JoinTreePath(path, entry.Name)));
    }
    return folder;
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
