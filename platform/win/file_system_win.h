#pragma once
// The file system on Windows, through the wide-character calls, so any file name works: the
// logic's UTF-8 paths are converted at this edge. "/" and "\" both separate names.

#include "platform/file_system.h"

namespace offline_upgrade {

// Attributes are the system's own (read-only, hidden, directory, archive; the others are
// dropped). A replaced file keeps the attributes of the file it replaces.
class WinFileSystem : public IFileSystem {
public:
    bool FileExists(const std::string &path) override;
    bool DirectoryExists(const std::string &path) override;
    // A reparse point (symbolic link, junction) is a link; the resolved path is the final
    // path of a handle opened through it, without the "\\?\" of its long form.
    EntryKind KindOf(const std::string &path) override;
    bool ResolvePath(const std::string &path, std::string &resolved) override;
    bool RemoveFile(const std::string &path) override;
    bool ForceDirectories(const std::string &path) override;
    bool RemoveTree(const std::string &path) override;
    std::string GetCurrentDir() override;
    void SetCurrentDir(const std::string &path) override;
    bool ListFolder(const std::string &folder, const std::string &pattern,
                    std::vector<FolderEntry> &entries) override;
    // A file without the read-only attribute that this process can open with delete access
    // while every other handle to it allows that (no program holds it without delete sharing).
    bool MayReplaceFile(const std::string &path) override;
    // Each copy is flushed before it is renamed write-through (CopyFileBeside); here each
    // volume is flushed as a whole where the process may (administrators), and the paths are
    // checked to exist.
    bool FlushFileSystems(const std::vector<std::string> &paths) override;

    // The file stage's operations. MayCreateIn asks the system by making and deleting a
    // temporary file in the folder; SpaceOf's Id is the volume's serial number; a copy beside
    // its target (CopyFileW) is flushed; renames are write-through.
    bool MayReadFile(const std::string &path) override;
    bool MayCreateIn(const std::string &folder) override;
    bool SpaceOf(const std::string &path, FileSystemSpace &space) override;
    bool CopyFileBeside(const std::string &source, const std::string &dest,
                        const std::string &temp) override;
    bool RenameFile(const std::string &from, const std::string &to, bool replace) override;
    bool IdentityOf(const std::string &path, uint64_t &identity) override;
    ExchangeOutcome ExchangeFiles(const std::string &a, const std::string &b) override;
    bool RemoveFiles(const std::vector<std::string> &paths) override;
    bool CreateFolder(const std::string &path) override;
    bool RemoveFolder(const std::string &path) override;
    bool ModifiedTime(const std::string &path, int64_t &nanoseconds) override;
    bool SetModifiedTime(const std::string &path, int64_t nanoseconds) override;
    // Others may read, write and delete the file meanwhile, as with ReadFile.
    std::unique_ptr<IFileReader> OpenFileForReading(const std::string &path) override;
    // CREATE_NEW (fails on any entry, a link too), shared with nobody while it is written;
    // the file takes the rights the folder hands down.
    std::unique_ptr<IFileWriter> CreateNewFile(const std::string &path) override;
    bool ReadFile(const std::string &path, std::string &bytes) override;
    bool WriteFileDurably(const std::string &path, const std::string &bytes) override;
};

} // namespace offline_upgrade
