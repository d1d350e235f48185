#pragma once
// A file system for tests: passes every call on to a real one, records what was asked, and
// fails or alters chosen calls, so that failure paths run without a broken disk.

#include "platform/file_system.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace offline_upgrade {

class FaultyFileSystem : public IFileSystem {
public:
    explicit FaultyFileSystem(IFileSystem &real) : real_(real) {}

    bool FileExists(const std::string &path) override;
    bool DirectoryExists(const std::string &path) override;
    EntryKind KindOf(const std::string &path) override;
    bool ResolvePath(const std::string &path, std::string &resolved) override;
    bool RemoveFile(const std::string &path) override;
    bool ForceDirectories(const std::string &path) override;
    bool RemoveTree(const std::string &path) override;
    std::string GetCurrentDir() override { return real_.GetCurrentDir(); }
    void SetCurrentDir(const std::string &path) override;
    bool ListFolder(const std::string &folder, const std::string &pattern,
                    std::vector<FolderEntry> &entries) override;
    bool MayReplaceFile(const std::string &path) override;
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
    std::unique_ptr<IFileReader> OpenFileForReading(const std::string &path) override;
    std::unique_ptr<IFileWriter> CreateNewFile(const std::string &path) override;
    bool ReadFile(const std::string &path, std::string &bytes) override;
    bool WriteFileDurably(const std::string &path, const std::string &bytes) override;
    bool FlushFileSystems(const std::vector<std::string> &paths) override;
    void ListFolders(const std::vector<std::string> &folders, const std::string &pattern,
                     std::vector<FolderListing> &listings) override;
    void ExamineCopyPlaces(const std::vector<CopyPlace> &places,
                           std::vector<CopyPlaceFacts> &facts) override;
    bool CopyFilesBeside(const std::vector<FileCopy> &copies,
                         const std::function<void(size_t)> &copied) override;
    size_t MoveFiles(const std::vector<FileMove> &moves, ExchangeOutcome &stoppedBy) override;

    // The batch calls above go to the real file system whole, so that its own way of doing
    // them runs; nothing above reaches inside them then (no fault, refusal or count per
    // file). Else, as by default, they are made of this file system's calls of one path each.
    bool WholeBatches = false;

    // The copy (CopyFileBeside) with this number (the first is 1) fails
    // without copying; 0: none.
    int FailCopyAt = 0;
    // The failing copy throws KxError instead of returning false.
    bool ThrowOnFailedCopy = false;
    // Paths, exactly as passed, whose listing fails / whose creation fails. A path listed in
    // FailCreate is also reported missing by DirectoryExists and KindOf.
    std::set<std::string> FailListing;
    std::set<std::string> FailCreate;
    // Paths, exactly as passed, that MayReadFile, MayCreateIn and MayReplaceFile refuse.
    std::set<std::string> Refused;
    // ExchangeFiles answers as a file system without the step does.
    bool NoExchange = false;
    // Runs on every successful listing, e.g. to report other sizes.
    std::function<void(const std::string &folder, std::vector<FolderEntry> &entries)> EditListing;
    // Replaces what SpaceOf reports as available, when set.
    std::function<void(const std::string &path, FileSystemSpace &space)> EditSpace;

    // Every call but the existence tests (KindOf, ResolvePath and IdentityOf among them) and the
    // working directory is an operation, counted from 1 in Operations. FailOperationAt fails that
    // one operation without effect (it returns false); from CrashAt on, every call returns false
    // (existence tests too) and does nothing, as if the process had died there. 0: none.
    int FailOperationAt = 0;
    int CrashAt = 0;
    int Operations = 0;
    std::vector<std::string> OperationNames; // the method of each operation, in order
    // Runs before each operation is passed on (e.g. to end the process at one of them).
    std::function<void(int number, const std::string &name)> BeforeOperation;

    std::vector<std::string> CopiedTo;             // dest of every copy, in order
    std::vector<std::string> Listed;               // folder of every ListFolder call, in order
    std::vector<std::vector<std::string>> Flushed; // paths of every FlushFileSystems call
    bool FailFlush = false;                        // FlushFileSystems reports a failure
    int DirectoryChanges = 0;                      // SetCurrentDir calls

private:
    // Counts one operation; false when it is to fail.
    bool Pass(const char *name);
    bool Dead() const { return CrashAt > 0 && Operations >= CrashAt; }

    IFileSystem &real_;
};

} // namespace offline_upgrade
