#pragma once
// What a user could tell apart in a folder tree, for comparing it before and after.

#include <filesystem>
#include <map>
#include <string>

namespace offline_upgrade {

// One line for the folder itself (key "") and each entry below it (key: its path relative to
// root, with "/"): its kind, permission bits, SystemDetails, modification time and, for a
// file, its bytes. Links are described, not followed.
// Without folderTimes, folders are described without their modification time (which any
// change of their entries moves).
std::map<std::string, std::string> SnapshotTree(const std::filesystem::path &root,
                                                bool folderTimes = true);

// The entries below root whose names start with ".kx" (the file stage's temporary files and
// backups), as relative paths.
std::map<std::string, std::string> StageLeftovers(const std::filesystem::path &root);

// What the system adds to an entry's description: the owner and group on POSIX, the
// attributes on Windows (tree_snapshot_posix.cpp, tree_snapshot_win.cpp).
std::string SystemDetails(const std::filesystem::path &path);

} // namespace offline_upgrade
