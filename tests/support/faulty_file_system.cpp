#include "tests/support/faulty_file_system.h"

#include "platform/error.h"

bool FaultyFileSystem::DirectoryExists(const std::string &path)
{
    return !FailCreate.count(path) && real_.DirectoryExists(path);
}

bool FaultyFileSystem::ForceDirectories(const std::string &path)
{
    return !FailCreate.count(path) && real_.ForceDirectories(path);
}

void FaultyFileSystem::SetCurrentDir(const std::string &path)
{
    ++DirectoryChanges;
    real_.SetCurrentDir(path);
}

bool FaultyFileSystem::ListFolder(const std::string &folder, const std::string &pattern,
                                  std::vector<FolderEntry> &entries)
{
    Listed.push_back(folder);
    if (FailListing.count(folder)) {
        entries.clear();
        return false;
    }
    if (!real_.ListFolder(folder, pattern, entries))
        return false;
    if (EditListing)
        EditListing(folder, entries);
    return true;
}

bool FaultyFileSystem::CopyFileOver(const std::string &source, const std::string &dest)
{
    CopiedTo.push_back(dest);
    if (static_cast<int>(CopiedTo.size()) == FailCopyAt) {
        if (ThrowOnFailedCopy)
            throw KxError("injected copy failure: " + dest);
        return false;
    }
    return real_.CopyFileOver(source, dest);
}

bool FaultyFileSystem::FlushFileSystems(const std::vector<std::string> &paths)
{
    Flushed.push_back(paths);
    return real_.FlushFileSystems(paths) && !FailFlush;
}
