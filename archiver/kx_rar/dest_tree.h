#pragma once
// The folders below the target folder of an unpack, opened and created without ever following
// a symbolic link, so nothing lands outside the target even when a link already lies in it.

#include "file_access.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace kx_rar {

class DestTree {
public:
    // rootFd is the open target folder; it must outlive this object. At most maxOpen folders
    // (and the one being opened) stay open at a time.
    // When made is given, the path of each folder this object creates is appended to it.
    DestTree(fa::Native rootFd, size_t maxOpen, std::vector<std::string> *made = nullptr)
        : root_(rootFd), maxOpen_(maxOpen), made_(made)
    {
    }

    // Returns an open descriptor of the folder made of the first count parts below the target,
    // creating missing folders. The descriptor stays valid until the next call. Throws
    // RarError with ExitCode::CannotCreate when a folder cannot be created or opened, or when
    // a file or a symbolic link (or another redirection) stands where a folder belongs.
    fa::Native Folder(const std::vector<std::string> &parts, size_t count);

private:
    fa::Native root_;
    size_t maxOpen_;
    std::vector<std::string> *made_;
    // Open folders by their path below the target: the entries of one folder usually follow
    // each other, so most entries need no system call to find their folder. Beyond maxOpen_
    // the cache starts afresh rather than holding a descriptor for every folder.
    std::unordered_map<std::string, fa::Handle> open_;
};

} // namespace kx_rar
