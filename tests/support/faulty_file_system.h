#pragma once
// A file system for tests: passes every call on to a real one, records what was asked, and
// fails or alters chosen calls, so that failure paths run without a broken disk.

#include "platform/file_system.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

class FaultyFileSystem : public IFileSystem {
public:
    explicit FaultyFileSystem(IFileSystem &real) : real_(real) {}

    bool FileExists(const std::string &path) override { return real_.FileExists(path); }
    bool DirectoryExists(const std::string &path) override;
    bool RemoveFile(const std::string &path) override { return real_.RemoveFile(path); }
    bool ForceDirectories(const std::string &path) override;
    bool RemoveTree(const std::string &path) override { return real_.RemoveTree(path); }
    std::string GetCurrentDir() override { return real_.GetCurrentDir(); }
    void SetCurrentDir(const std::string &path) override;
    bool ListFolder(const std::string &folder, const std::string &pattern,
                    std::vector<FolderEntry> &entries) override;
    bool CopyFileOver(const std::string &source, const std::string &dest) override;
    bool MayReplaceFile(const std::string &path) override { return real_.MayReplaceFile(path); }
    bool FlushFileSystems(const std::vector<std::string> &paths) override;

    // The CopyFileOver call with this number (the first is 1) fails without copying; 0: none.
    int FailCopyAt = 0;
    // The failing copy throws KxError instead of returning false.
    bool ThrowOnFailedCopy = false;
    // Paths, exactly as passed, whose listing fails / whose creation fails. A path listed in
    // FailCreate is also reported missing by DirectoryExists.
    std::set<std::string> FailListing;
    std::set<std::string> FailCreate;
    // Runs on every successful listing, e.g. to report other sizes.
    std::function<void(const std::string &folder, std::vector<FolderEntry> &entries)> EditListing;

    std::vector<std::string> CopiedTo; // dest of every CopyFileOver call, in order
    std::vector<std::string> Listed;   // folder of every ListFolder call, in order
    std::vector<std::vector<std::string>> Flushed; // paths of every FlushFileSystems call
    bool FailFlush = false;                         // FlushFileSystems reports a failure
    int DirectoryChanges = 0;          // SetCurrentDir calls

private:
    IFileSystem &real_;
};
