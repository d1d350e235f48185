#pragma once
// The "UpdateFiles" tree of an unpacked package as the file stage sees it: listed once, so that
// the size for the progress bar, the copy and the package makers' check share one walk and one
// rule for what is a folder.

#include "platform/file_system.h"

#include <cstdint>
#include <string>
#include <vector>

namespace offline_upgrade {

// The folder of the application files in the unpacked package folder.
inline constexpr char kUpdateFilesFolderName[] = "UpdateFiles";

// One folder as listed: Folders keeps one listing for each folder entry, in order. A folder
// that cannot be listed has Listed false and no entries.
struct ListedFolder {
    bool Listed = false;
    std::vector<FolderEntry> Entries;
    std::vector<ListedFolder> Folders;
};

// Any entry with the directory flag is a folder; everything else is copied as a file.
bool IsTreeFolder(const FolderEntry &entry);
bool IsDotEntry(const FolderEntry &entry);

// A name below a folder, with one separator of the system between them (JoinPath).
std::string JoinTreePath(const std::string &folder, const std::string &name);

// Lists path and every folder below it with the pattern "*.*".
ListedFolder ListTree(IFileSystem &files, const std::string &path);

// The total size in bytes of the files in a listed tree.
uint64_t TreeSize(const ListedFolder &folder);

} // namespace offline_upgrade
