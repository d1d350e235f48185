#pragma once
// The file system on POSIX. Replaces the Windows file calls of the tool; leaves out what POSIX
// has no word for (system and archive attributes as stored flags, short names, drive letters).

#include "platform/file_system.h"
#include "platform/wildcard.h"

#include <string>
#include <string_view>
#include <vector>

// Attributes are derived: kAttrDirectory for a folder, kAttrArchive for anything else,
// kAttrReadOnly when the owner write bit is missing, kAttrHidden for a name starting with ".".
class PosixFileSystem : public IFileSystem {
public:
    bool FileExists(const std::string &path) override;
    bool DirectoryExists(const std::string &path) override;
    bool RemoveFile(const std::string &path) override;
    bool ForceDirectories(const std::string &path) override;
    bool RemoveTree(const std::string &path) override;
    std::string GetCurrentDir() override;
    void SetCurrentDir(const std::string &path) override;
    bool ListFolder(const std::string &folder, const std::string &pattern,
                    std::vector<FolderEntry> &entries) override;
    bool CopyFileOver(const std::string &source, const std::string &dest) override;
};
