#pragma once
// The file system on POSIX. Replaces the Windows file calls of the tool; leaves out what POSIX
// has no word for (system and archive attributes as stored flags, short names, drive letters).

#include "platform/file_system.h"
#include "platform/posix/unique_fd.h"
#include "platform/wildcard.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace offline_upgrade {

// Folders looked up once for many names in them, within one call: the last folder asked for
// stays open, and its entries are reached by their names alone instead of a walk along the
// whole path each time. A path without a folder part, one that names a folder by "." or "..",
// and one whose folder cannot be opened are used whole.
class FolderLookup {
public:
    struct Place {
        int Folder;       // an open folder, or AT_FDCWD
        const char *Name; // in Folder; points into the path asked for
    };
    // opens false: every path is used whole, nothing is opened.
    explicit FolderLookup(bool opens = true) : opens_(opens) {}
    Place Find(const std::string &path);
    // As Find where path lies in the last folder found; whole otherwise, nothing opened.
    Place FindInLast(const std::string &path);
    // The device of the last folder found, when place lies in it.
    bool DeviceOfLast(const Place &place, dev_t &device) const;
    // The length of path's folder part and where its last name starts; 0: used whole.
    static size_t FolderLength(const std::string &path, size_t &nameAt);

private:
    bool opens_;
    std::string folder_; // the last folder found, open in fd_ unless it could not be opened
    UniqueFd fd_;
    bool hasDevice_ = false;
    dev_t device_ = 0;
};

// Attributes are derived: kAttrDirectory for a folder, kAttrArchive for anything else,
// kAttrReadOnly when the owner write bit is missing, kAttrHidden for a name starting with ".".
class PosixFileSystem : public IFileSystem {
public:
    bool FileExists(const std::string &path) override;
    bool DirectoryExists(const std::string &path) override;
    EntryKind KindOf(const std::string &path) override;
    bool ResolvePath(const std::string &path, std::string &resolved) override;
    bool RemoveFile(const std::string &path) override;
    bool ForceDirectories(const std::string &path) override;
    bool RemoveTree(const std::string &path) override;
    std::string GetCurrentDir() override;
    void SetCurrentDir(const std::string &path) override;
    bool ListFolder(const std::string &folder, const std::string &pattern,
                    std::vector<FolderEntry> &entries) override;
    // A thread per core, up to four, a folder at a time.
    void ListFolders(const std::vector<std::string> &folders, const std::string &pattern,
                     std::vector<FolderListing> &listings) override;
    // faccessat(W_OK, AT_EACCESS) on a file: the effective ids, root's override, immutable
    // files and read-only mounts, as the system itself decides them.
    bool MayReplaceFile(const std::string &path) override;
    bool MayReadFile(const std::string &path) override;
    bool MayCreateIn(const std::string &folder) override;
    // statvfs: the blocks free to the effective user (root: all free blocks); Id is st_dev.
    bool SpaceOf(const std::string &path, FileSystemSpace &space) override;
    bool CopyFileBeside(const std::string &source, const std::string &dest,
                        const std::string &temp) override;
    // Each folder once for the names in it (FolderLookup); runs of one folder on a thread per
    // core, up to four.
    void ExamineCopyPlaces(const std::vector<CopyPlace> &places,
                           std::vector<CopyPlaceFacts> &facts) override;
    // A thread per core, up to four, each taking runs of up to 64 copies into one folder,
    // which it opens once; the copies are small file system work each, which a free core
    // shares.
    bool CopyFilesBeside(const std::vector<FileCopy> &copies,
                         const std::function<void(size_t)> &copied) override;
    // Without replace: renameat2 with RENAME_NOREPLACE, or a test and rename where the file
    // system has no such flag.
    bool RenameFile(const std::string &from, const std::string &to, bool replace) override;
    bool IdentityOf(const std::string &path, uint64_t &identity) override;
    ExchangeOutcome ExchangeFiles(const std::string &a, const std::string &b) override;
    // Each folder once for the moves in it (FolderLookup).
    size_t MoveFiles(const std::vector<FileMove> &moves, ExchangeOutcome &stoppedBy) override;
    // Four threads at once, whatever the cores: an unlink waits on the file system's journal,
    // and on a disk such waits overlap; the call returns when all are done.
    bool RemoveFiles(const std::vector<std::string> &paths) override;
    bool CreateFolder(const std::string &path) override;
    bool RemoveFolder(const std::string &path) override;
    bool ModifiedTime(const std::string &path, int64_t &nanoseconds) override;
    bool SetModifiedTime(const std::string &path, int64_t nanoseconds) override;
    // Read ahead is asked for: the readers go through whole files once, front to back.
    std::unique_ptr<IFileReader> OpenFileForReading(const std::string &path) override;
    // O_CREAT | O_EXCL | O_NOFOLLOW, mode 0600.
    std::unique_ptr<IFileWriter> CreateNewFile(const std::string &path) override;
    bool ReadFile(const std::string &path, std::string &bytes) override;
    // A temporary file beside path, fsync, rename over path, fsync of the folder.
    bool WriteFileDurably(const std::string &path, const std::string &bytes) override;
    // syncfs, once for each device among the paths; on a device that copies were written to,
    // through the descriptor opened before the first of them (see unflushed_).
    bool FlushFileSystems(const std::vector<std::string> &paths) override;

private:
    // A flush reports the write-back errors that arose after its descriptor was opened, and
    // the kernel may write a copy back before the stage flushes (it is asked to for larger
    // copies). So for each device that copies were written to since its last flush, a
    // descriptor opened before the first of them, which the flush then uses.
    void WatchForFlush(dev_t device, const std::string &path);
    std::mutex unflushedLock_; // copies run on several threads
    std::map<dev_t, UniqueFd> unflushed_;
    struct EffectiveIds {
        uid_t User;
        gid_t Group;
    };
    // One copy of CopyFileBeside, its folders found through sources and targets, the process
    // running as ids. Nullptr, or the step that failed with the system's error in error; logs
    // nothing (it may run on a helper thread).
    const char *CopyWithin(const std::string &source, const std::string &dest,
                           const std::string &temp, const EffectiveIds &ids, FolderLookup &sources,
                           FolderLookup &targets, int &error);
};

// The permission bits of a copy that replaces the file described by old (the rule of
// IFileSystem::CopyFileBeside): old's bits, without set-user-ID and set-group-ID when the copy
// could not be given old's owner and group (ownerKept false).
mode_t ReplacedFileMode(const struct stat &old, bool ownerKept);
// The permission bits of a new file copied from a file of sourceMode: its read, write and
// execute bits only.
mode_t NewFileMode(mode_t sourceMode);

} // namespace offline_upgrade
