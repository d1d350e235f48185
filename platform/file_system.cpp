#include "platform/file_system.h"

#include "platform/diagnostics.h"

#include <exception>

namespace offline_upgrade {

// One by one, through the calls of one path each; a system overrides these where it can do
// better.

void IFileSystem::ListFolders(const std::vector<std::string> &folders, const std::string &pattern,
                              std::vector<FolderListing> &listings)
{
    listings.assign(folders.size(), FolderListing{});
    for (size_t i = 0; i < folders.size(); ++i)
        listings[i].Listed = ListFolder(folders[i], pattern, listings[i].Entries);
}

void IFileSystem::ExamineCopyPlaces(const std::vector<CopyPlace> &places,
                                    std::vector<CopyPlaceFacts> &facts)
{
    facts.assign(places.size(), CopyPlaceFacts{});
    for (size_t i = 0; i < places.size(); ++i) {
        const CopyPlace &place = places[i];
        CopyPlaceFacts &fact = facts[i];
        fact.SourceReadable = MayReadFile(place.Source);
        fact.TargetKind = KindOf(place.Target);
        if (fact.TargetKind == EntryKind::Missing || fact.TargetKind == EntryKind::Folder)
            continue;
        fact.TargetReplaceable = MayReplaceFile(place.Target);
        if (!IdentityOf(place.Target, fact.TargetIdentity))
            fact.TargetIdentity = 0;
    }
}

bool IFileSystem::CopyFilesBeside(const std::vector<FileCopy> &copies,
                                  const std::function<void(size_t)> &copied)
{
    for (size_t i = 0; i < copies.size(); ++i) {
        const FileCopy &copy = copies[i];
        const std::string what = "cannot copy " + copy.Source + " to " + copy.Temp;
        try {
            if (!CopyFileBeside(copy.Source, copy.Dest, copy.Temp)) {
                LogError(what);
                return false;
            }
        } catch (const std::exception &error) {
            LogError(what + ": " + error.what());
            return false;
        }
        copied(i);
    }
    return true;
}

size_t IFileSystem::MoveFiles(const std::vector<FileMove> &moves, ExchangeOutcome &stoppedBy)
{
    for (size_t i = 0; i < moves.size(); ++i) {
        const FileMove &move = moves[i];
        stoppedBy = move.Exchange                           ? ExchangeFiles(move.From, move.To)
                    : RenameFile(move.From, move.To, false) ? ExchangeOutcome::Exchanged
                                                            : ExchangeOutcome::Failed;
        if (stoppedBy != ExchangeOutcome::Exchanged)
            return i;
    }
    stoppedBy = ExchangeOutcome::Exchanged;
    return moves.size();
}

} // namespace offline_upgrade
