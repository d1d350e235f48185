#pragma once
// The file system on Windows, through the wide-character calls, so any file name works: the
// logic's UTF-8 paths are converted at this edge. "/" and "\" both separate names.

#include "platform/file_system.h"

// Attributes are the system's own (read-only, hidden, directory, archive; the others are
// dropped). A replaced file keeps the attributes of the file it replaces.
class WinFileSystem : public IFileSystem {
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
    // CopyFileW to a temporary file beside dest, flushed, then MoveFileExW over dest with
    // write-through. A dest in use by another program is a failure the log names.
    bool CopyFileOver(const std::string &source, const std::string &dest) override;
    // A file without the read-only attribute that this process can open for writing.
    bool MayReplaceFile(const std::string &path) override;
    // Each copy is flushed before it is renamed write-through (CopyFileOver); here each
    // volume is flushed as a whole where the process may (administrators), and the paths are
    // checked to exist.
    bool FlushFileSystems(const std::vector<std::string> &paths) override;
};
