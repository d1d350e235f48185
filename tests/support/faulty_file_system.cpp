#include "tests/support/faulty_file_system.h"

#include "platform/error.h"

namespace offline_upgrade {

bool FaultyFileSystem::Pass(const char *name)
{
    if (Dead())
        return false;
    ++Operations;
    OperationNames.emplace_back(name);
    if (BeforeOperation)
        BeforeOperation(Operations, name);
    return Operations != FailOperationAt && !Dead();
}

bool FaultyFileSystem::FileExists(const std::string &path)
{
    return !Dead() && real_.FileExists(path);
}

bool FaultyFileSystem::DirectoryExists(const std::string &path)
{
    return !Dead() && !FailCreate.count(path) && real_.DirectoryExists(path);
}

EntryKind FaultyFileSystem::KindOf(const std::string &path)
{
    if (Dead())
        return EntryKind::Missing;
    return FailCreate.count(path) ? EntryKind::Missing : real_.KindOf(path);
}

bool FaultyFileSystem::ResolvePath(const std::string &path, std::string &resolved)
{
    return !Dead() && real_.ResolvePath(path, resolved);
}

bool FaultyFileSystem::RemoveFile(const std::string &path)
{
    return Pass("RemoveFile") && real_.RemoveFile(path);
}

bool FaultyFileSystem::ForceDirectories(const std::string &path)
{
    return Pass("ForceDirectories") && !FailCreate.count(path) && real_.ForceDirectories(path);
}

bool FaultyFileSystem::RemoveTree(const std::string &path)
{
    return Pass("RemoveTree") && real_.RemoveTree(path);
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
    entries.clear();
    if (!Pass("ListFolder") || FailListing.count(folder))
        return false;
    if (!real_.ListFolder(folder, pattern, entries))
        return false;
    if (EditListing)
        EditListing(folder, entries);
    return true;
}

bool FaultyFileSystem::MayReplaceFile(const std::string &path)
{
    return Pass("MayReplaceFile") && !Refused.count(path) && real_.MayReplaceFile(path);
}

bool FaultyFileSystem::MayReadFile(const std::string &path)
{
    return Pass("MayReadFile") && !Refused.count(path) && real_.MayReadFile(path);
}

bool FaultyFileSystem::MayCreateIn(const std::string &folder)
{
    return Pass("MayCreateIn") && !Refused.count(folder) && real_.MayCreateIn(folder);
}

bool FaultyFileSystem::SpaceOf(const std::string &path, FileSystemSpace &space)
{
    if (!Pass("SpaceOf") || !real_.SpaceOf(path, space))
        return false;
    if (EditSpace)
        EditSpace(path, space);
    return true;
}

bool FaultyFileSystem::CopyFileBeside(const std::string &source, const std::string &dest,
                                      const std::string &temp)
{
    CopiedTo.push_back(dest);
    if (static_cast<int>(CopiedTo.size()) == FailCopyAt) {
        if (ThrowOnFailedCopy)
            throw KxError("injected copy failure: " + dest);
        return false;
    }
    return Pass("CopyFileBeside") && real_.CopyFileBeside(source, dest, temp);
}

bool FaultyFileSystem::RenameFile(const std::string &from, const std::string &to, bool replace)
{
    return Pass("RenameFile") && real_.RenameFile(from, to, replace);
}

bool FaultyFileSystem::IdentityOf(const std::string &path, uint64_t &identity)
{
    return !Dead() && real_.IdentityOf(path, identity);
}

ExchangeOutcome FaultyFileSystem::ExchangeFiles(const std::string &a, const std::string &b)
{
    if (!Pass("ExchangeFiles"))
        return ExchangeOutcome::Failed;
    return NoExchange ? ExchangeOutcome::Unsupported : real_.ExchangeFiles(a, b);
}

bool FaultyFileSystem::RemoveFiles(const std::vector<std::string> &paths)
{
    return Pass("RemoveFiles") && real_.RemoveFiles(paths);
}

bool FaultyFileSystem::CreateFolder(const std::string &path)
{
    return Pass("CreateFolder") && !FailCreate.count(path) && real_.CreateFolder(path);
}

bool FaultyFileSystem::RemoveFolder(const std::string &path)
{
    return Pass("RemoveFolder") && real_.RemoveFolder(path);
}

bool FaultyFileSystem::ModifiedTime(const std::string &path, int64_t &nanoseconds)
{
    return Pass("ModifiedTime") && real_.ModifiedTime(path, nanoseconds);
}

bool FaultyFileSystem::SetModifiedTime(const std::string &path, int64_t nanoseconds)
{
    return Pass("SetModifiedTime") && real_.SetModifiedTime(path, nanoseconds);
}

std::unique_ptr<IFileReader> FaultyFileSystem::OpenFileForReading(const std::string &path)
{
    return Pass("OpenFileForReading") ? real_.OpenFileForReading(path) : nullptr;
}

std::unique_ptr<IFileWriter> FaultyFileSystem::CreateNewFile(const std::string &path)
{
    return Pass("CreateNewFile") ? real_.CreateNewFile(path) : nullptr;
}

bool FaultyFileSystem::ReadFile(const std::string &path, std::string &bytes)
{
    bytes.clear();
    return Pass("ReadFile") && real_.ReadFile(path, bytes);
}

bool FaultyFileSystem::WriteFileDurably(const std::string &path, const std::string &bytes)
{
    return Pass("WriteFileDurably") && real_.WriteFileDurably(path, bytes);
}

bool FaultyFileSystem::FlushFileSystems(const std::vector<std::string> &paths)
{
    Flushed.push_back(paths);
    return Pass("FlushFileSystems") && real_.FlushFileSystems(paths) && !FailFlush;
}

void FaultyFileSystem::ListFolders(const std::vector<std::string> &folders,
                                   const std::string &pattern, std::vector<FolderListing> &listings)
{
    if (WholeBatches)
        real_.ListFolders(folders, pattern, listings);
    else
        IFileSystem::ListFolders(folders, pattern, listings);
}

void FaultyFileSystem::ExamineCopyPlaces(const std::vector<CopyPlace> &places,
                                         std::vector<CopyPlaceFacts> &facts)
{
    if (WholeBatches)
        real_.ExamineCopyPlaces(places, facts);
    else
        IFileSystem::ExamineCopyPlaces(places, facts);
}

bool FaultyFileSystem::CopyFilesBeside(const std::vector<FileCopy> &copies,
                                       const std::function<void(size_t)> &copied)
{
    return WholeBatches ? real_.CopyFilesBeside(copies, copied)
                        : IFileSystem::CopyFilesBeside(copies, copied);
}

size_t FaultyFileSystem::MoveFiles(const std::vector<FileMove> &moves, ExchangeOutcome &stoppedBy)
{
    return WholeBatches ? real_.MoveFiles(moves, stoppedBy)
                        : IFileSystem::MoveFiles(moves, stoppedBy);
}

} // namespace offline_upgrade
