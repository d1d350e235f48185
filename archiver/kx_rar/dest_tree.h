#pragma once
// The folders below the target folder of an unpack, opened and created without ever following
// a symbolic link, so nothing lands outside the target even when a link already lies in it.

#include "unique_fd.h"

#include <string>
#include <unordered_map>
#include <vector>

class DestTree {
public:
    // rootFd is the open target folder; it must outlive this object.
    explicit DestTree(int rootFd) : root_(rootFd) {}

    // Returns an open descriptor of the folder made of the first count parts below the target,
    // creating missing folders. The descriptor stays valid until the next call. Throws
    // RarError with ExitCode::CannotCreate when a folder cannot be created or opened, or when
    // a file or a symbolic link stands where a folder belongs.
    int Folder(const std::vector<std::string> &parts, size_t count);

private:
    int root_;
    // Open folders by their path below the target: the entries of one folder usually follow
    // each other, so most entries need no system call to find their folder.
    std::unordered_map<std::string, UniqueFd> open_;
};
