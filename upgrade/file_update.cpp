#include "upgrade/file_update.h"

#include "platform/diagnostics.h"
#include "platform/path_text.h"
#include "platform/text.h"
#include "upgrade/file_transaction.h"
#include "upgrade/stage_log.h"
#include "upgrade/update_tree.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace offline_upgrade {

namespace {

const std::string kUpdatingFiles = "正在更新文件...";
const std::string kUpdatingFilePrefix = "正在更新文件";

// The "UpdateFiles" folder of the unpacked package; empty when the package name leaves no
// folder of its own (then nothing was unpacked for it, and the work folder itself must not be
// taken for it).
std::string UpdateSourceFolder(const UpgradeContext &context)
{
    const std::string unpacked = UnpackedPackageFolder(context);
    return unpacked.empty() ? std::string() : JoinPath(unpacked, kUpdateFilesFolderName);
}

// The smallest power of two as unit that brings total into the bar's int range.
int ProgressShift(uint64_t total)
{
    int shift = 0;
    while ((total >> shift) > static_cast<uint64_t>(INT_MAX))
        ++shift;
    return shift;
}

// The number of files in a listed tree.
uint64_t TreeFiles(const ListedFolder &folder)
{
    uint64_t count = 0;
    size_t next = 0;
    for (const FolderEntry &entry : folder.Entries) {
        if (IsDotEntry(entry))
            continue;
        count += IsTreeFolder(entry) ? TreeFiles(folder.Folders[next++]) : 1;
    }
    return count;
}

// One file the stage puts in place, in the order of the walk.
struct PlannedFile {
    std::string Name; // as listed, for the step text
    std::string Source;
    std::string Folder; // the target's folder
    std::string Target;
    uint64_t Size = 0;
    bool Replaces = false;
    uint64_t Identity = 0; // of the replaced file (IFileSystem::IdentityOf); 0: none given
};

// What the stage will do, found by the checks before anything is written.
struct FilePlan {
    std::vector<PlannedFile> Files;
    std::vector<std::string> NewFolders;      // parents first
    std::vector<std::string> ExistingFolders; // existing folders that receive entries
};

// Space a file takes beyond its bytes is not known here; a block each is near enough.
constexpr uint64_t kBlock = 4096;

uint64_t Blocks(uint64_t bytes)
{
    return (bytes + kBlock - 1) / kBlock * kBlock;
}

// Checks that the tree can be copied and plans the copy: every source folder lists and every
// source file can be read; every target folder exists or can be created; no folder stands where
// a file goes or the reverse; every replaced file may be replaced; the folders receiving
// entries allow it; each file system has room for the new files while the replaced ones are
// still kept. Logs the first check that fails, with its path.
// Every place below the product folder is looked at without following a link there: a link
// where a new file or folder goes (it would make the stage fail after the blocks, or write
// where it leads) fails the checks, and a link that stands for a folder is followed only when
// it leads to a folder inside the product folder. A link that stands for a replaced file is
// itself set aside and replaced, what it leads to never written.
class Planner {
public:
    explicit Planner(IFileSystem &files) : files_(files) {}

    bool Plan(const ListedFolder &tree, const std::string &source, const std::string &dest)
    {
        std::string anchor;
        bool exists = false;
        if (!PlanRoot(dest, anchor, exists))
            return false;
        // The product folder as the system resolves it, for telling where links below lead.
        if (exists && !files_.ResolvePath(anchor, productFolder_))
            return Fail("the product folder " + anchor + " cannot be resolved");
        // Every file and its place examined at once, before the checks go through them in
        // order (where a target folder does not exist, its files' targets are simply missing).
        GatherPlaces(tree, source, dest, places_);
        files_.ExamineCopyPlaces(places_, facts_);
        return PlanFolder(tree, source, dest, exists, anchor) && CheckSpace();
    }

    FilePlan Result;

private:
    bool Fail(const std::string &check)
    {
        LogError("the file stage cannot succeed: " + check);
        return false;
    }

    void Receives(const std::string &folder)
    {
        if (received_.insert(folder).second)
            Result.ExistingFolders.push_back(folder);
    }

    // The target folder itself and its missing parents.
    bool PlanRoot(const std::string &dest, std::string &anchor, bool &exists)
    {
        const std::string root = WithoutTrailingSeparators(dest);
        if (files_.DirectoryExists(root)) {
            anchor = root;
            exists = true;
            return true;
        }
        std::vector<std::string> missing;
        std::string folder = root;
        while (!folder.empty() && !files_.DirectoryExists(folder)) {
            const EntryKind kind = files_.KindOf(folder);
            if (kind == EntryKind::Link)
                return Fail("a link that leads nowhere stands where the folder " + folder +
                            " is to be");
            if (kind != EntryKind::Missing)
                return Fail("a file stands where the folder " + folder + " is to be");
            missing.push_back(folder);
            folder = ParentFolder(folder);
        }
        if (folder.empty())
            return Fail("no existing folder holds " + root);
        if (!files_.MayCreateIn(folder))
            return Fail("folders may not be created in " + folder);
        Receives(folder);
        Result.NewFolders.insert(Result.NewFolders.end(), missing.rbegin(), missing.rend());
        needed_[folder] += kBlock * missing.size();
        anchor = folder;
        exists = false;
        return true;
    }

    // dest exists when destExists; anchor is the nearest existing folder at or above dest.
    bool PlanFolder(const ListedFolder &folder, const std::string &source, const std::string &dest,
                    bool destExists, const std::string &anchor)
    {
        if (!folder.Listed)
            return Fail("the package's folder " + source + " cannot be listed");
        size_t next = 0;
        for (const FolderEntry &entry : folder.Entries) {
            if (IsDotEntry(entry))
                continue;
            if (IsTreeFolder(entry)) {
                const std::string from = JoinTreePath(source, entry.Name);
                const std::string target = JoinTreePath(dest, entry.Name);
                const ListedFolder &sub = folder.Folders[next++];
                bool exists = false;
                if (destExists) {
                    if (!FolderPlace(target, exists))
                        return false;
                    if (!exists && !AllowsEntries(dest))
                        return false;
                }
                if (!exists) {
                    Result.NewFolders.push_back(target);
                    needed_[anchor] += kBlock;
                }
                if (!PlanFolder(sub, from, target, exists, exists ? target : anchor))
                    return false;
                continue;
            }
            // The paths as gathered: source and dest joined with the name.
            CopyPlace &place = places_[nextFact_];
            const CopyPlaceFacts &fact = facts_[nextFact_++];
            if (!fact.SourceReadable)
                return Fail("the package's file " + place.Source + " cannot be read");
            PlannedFile file{entry.Name, std::move(place.Source), dest, std::move(place.Target)};
            file.Size = entry.Size;
            const std::string &target = file.Target;
            if (destExists) {
                if (!FilePlace(target, fact.TargetKind, file.Replaces))
                    return false;
                if (file.Replaces && !fact.TargetReplaceable)
                    return Fail("the file " + target + " may not be replaced by this user");
                if (!AllowsEntries(dest))
                    return false;
                file.Identity = file.Replaces ? fact.TargetIdentity : 0;
            }
            // The replaced file is kept until the stage ends, so the new one needs room of
            // its own.
            needed_[anchor] += Blocks(entry.Size);
            Result.Files.push_back(std::move(file));
        }
        return true;
    }

    // The places of the tree's files, in the order PlanFolder goes through them.
    static void GatherPlaces(const ListedFolder &folder, const std::string &source,
                             const std::string &dest, std::vector<CopyPlace> &places)
    {
        size_t next = 0;
        for (const FolderEntry &entry : folder.Entries) {
            if (IsDotEntry(entry))
                continue;
            if (IsTreeFolder(entry))
                GatherPlaces(folder.Folders[next++], JoinTreePath(source, entry.Name),
                             JoinTreePath(dest, entry.Name), places);
            else
                places.push_back({JoinTreePath(source, entry.Name), JoinTreePath(dest, entry.Name),
                                  entry.Plain});
        }
    }

    // What stands where the folder target goes: nothing (it is made), a folder, or a link
    // that leads to a folder inside the product folder (exists: it receives the entries).
    bool FolderPlace(const std::string &target, bool &exists)
    {
        exists = false;
        switch (files_.KindOf(target)) {
        case EntryKind::Missing:
            return true;
        case EntryKind::Folder:
            exists = true;
            return true;
        case EntryKind::Link:
            break;
        default:
            return Fail("a file stands where the folder " + target + " is to be");
        }
        std::string resolved;
        if (!files_.ResolvePath(target, resolved))
            return Fail("a link that leads nowhere stands where the folder " + target +
                        " is to be");
        if (!files_.DirectoryExists(resolved))
            return Fail("a link to a file stands where the folder " + target + " is to be");
        if (!IsPathWithin(resolved, productFolder_))
            return Fail("the folder " + target +
                        " is a link that leads outside the product "
                        "folder " +
                        productFolder_ + ", to " + resolved);
        exists = true;
        return true;
    }

    // What stands where the file target goes (kind): nothing (replaces false), or a file or a
    // link to one (replaces true: it is set aside, never written through).
    bool FilePlace(const std::string &target, EntryKind kind, bool &replaces)
    {
        replaces = false;
        switch (kind) {
        case EntryKind::Missing:
            return true;
        case EntryKind::Folder:
            return Fail("a folder stands where the file " + target + " is to be");
        case EntryKind::Link:
            break;
        default:
            replaces = true;
            return true;
        }
        std::string resolved;
        if (!files_.ResolvePath(target, resolved))
            return Fail("a link that leads nowhere stands where the file " + target + " is to be");
        if (files_.DirectoryExists(resolved))
            return Fail("a link to a folder stands where the file " + target + " is to be");
        replaces = true;
        return true;
    }

    bool AllowsEntries(const std::string &folder)
    {
        if (received_.count(folder))
            return true;
        if (!files_.MayCreateIn(folder))
            return Fail("files may not be created in " + folder);
        Receives(folder);
        return true;
    }

    bool CheckSpace()
    {
        struct Need {
            std::string Folder; // one folder on that file system, for the log
            uint64_t Bytes = 0;
            uint64_t Available = 0;
        };
        std::map<uint64_t, Need> needs;
        for (const auto &[folder, bytes] : needed_) {
            if (bytes == 0)
                continue;
            FileSystemSpace space;
            if (!files_.SpaceOf(folder, space))
                return Fail("the free space of the file system of " + folder + " cannot be read");
            Need &need = needs[space.Id];
            if (need.Folder.empty())
                need.Folder = folder;
            need.Bytes += bytes;
            need.Available = space.Available;
        }
        for (const auto &[id, need] : needs) {
            if (need.Bytes > need.Available)
                return Fail("the file system of " + need.Folder + " has " +
                            std::to_string(need.Available) + " bytes free, the new files need " +
                            std::to_string(need.Bytes));
        }
        return true;
    }

    IFileSystem &files_;
    std::string productFolder_; // resolved; empty while the product folder is still to be made
    std::set<std::string> received_;
    std::map<std::string, uint64_t> needed_; // by the nearest existing folder
    std::vector<CopyPlace> places_;          // GatherPlaces'; each file's taken by PlanFolder
    std::vector<CopyPlaceFacts> facts_;      // of places_
    size_t nextFact_ = 0;
};

// One walk over a tree: the bar shows start + (done >> shift).
struct TreeWalk {
    UpgradeContext &context;
    int shift;
    int start;
    uint64_t done = 0;

    int Position() const
    {
        const uint64_t position = static_cast<uint64_t>(start) + (done >> shift);
        return position > INT_MAX ? INT_MAX : static_cast<int>(position);
    }
};

// A word that no earlier stage used, for the names of the temporary files and backups.
std::string StageToken()
{
    uint64_t value = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch() /
                                           std::chrono::nanoseconds(1));
    std::string token;
    do {
        token += "0123456789abcdefghijklmnopqrstuvwxyz"[value % 36];
        value /= 36;
    } while (value);
    return token;
}

// A replaced file and the name it is kept under until the stage's result is out.
struct KeptFile {
    std::string Target;
    std::string Kept;
};

// Carries the plan out all together or not at all; see CopyUpdateFiles.
class FileStage {
public:
    FileStage(TreeWalk &walk, const FilePlan &plan, std::string dest)
        : walk_(walk), files_(walk.context.Files), plan_(plan), dest_(std::move(dest)),
          journal_(FileJournalPath(walk.context.ProgramFolder))
    {
    }

    bool Run()
    {
        if (!Prepare())
            return false;
        if (!CreateFolders() || !WriteFiles() || !Rename() || !Commit())
            return Undo();
        // The files are in place: the kept ones go once the result is shown. A backup that
        // cannot be removed keeps the journal, so that the next start removes it.
        walk_.context.AfterResult = [&files = files_, kept = kept_, journal = journal_] {
            if (RemoveKept(files, kept, journal) && !files.RemoveFile(journal))
                LogWarning("cannot remove the journal " + journal);
        };
        return true;
    }

private:
    // Names every temporary file and backup and writes the journal, before anything in the
    // product's folder changes.
    bool Prepare()
    {
        const std::string token = StageToken();
        transaction_.ProductCode = walk_.context.Product.ProductCode;
        transaction_.ProductFolder = dest_;
        for (size_t i = 0; i < plan_.Files.size(); ++i) {
            const PlannedFile &file = plan_.Files[i];
            StagedFile staged{file.Target, JoinTreePath(file.Folder, StagedTempName(token, i)),
                              std::string(), 0};
            if (file.Replaces) {
                staged.Backup = JoinTreePath(file.Folder, StagedBackupName(token, i));
                // Where the system tells files apart, the replaced file may be swapped with
                // its new copy in one step instead of two renames.
                staged.Kept = file.Identity;
            }
            transaction_.Files.push_back(std::move(staged));
        }
        transaction_.NewFolders = plan_.NewFolders;
        for (const std::string &folder : plan_.ExistingFolders) {
            FolderTime time{folder, 0};
            if (!files_.ModifiedTime(folder, time.Modified)) {
                LogError("cannot read the time of " + folder);
                return false;
            }
            transaction_.FolderTimes.push_back(time);
        }
        journalText_ = JournalText(transaction_);
        if (!files_.WriteFileDurably(journal_, journalText_)) {
            LogError("cannot write the journal " + journal_);
            return false;
        }
        return true;
    }

    bool CreateFolders()
    {
        for (const std::string &folder : plan_.NewFolders) {
            if (!files_.CreateFolder(folder)) {
                LogError("cannot create the folder " + folder);
                return false;
            }
            ++created_;
        }
        return true;
    }

    bool WriteFiles()
    {
        IWindowFacilities &window = walk_.context.Window;
        std::vector<FileCopy> copies;
        copies.reserve(plan_.Files.size());
        for (size_t i = 0; i < plan_.Files.size(); ++i) {
            const PlannedFile &file = plan_.Files[i];
            copies.push_back({file.Source, file.Target, transaction_.Files[i].Temp});
            if (writtenSet_.insert(file.Folder).second)
                written_.push_back(file.Folder);
        }
        // Each file is shown as it is done: the copies may run several at once.
        return files_.CopyFilesBeside(copies, [&](size_t i) {
            const PlannedFile &file = plan_.Files[i];
            window.SetStepText(kUpdatingFilePrefix + file.Name + "...");
            window.Repaint();
            walk_.done += file.Size;
            // An unchanged position (an empty file, or less than one unit of a coarse bar) is
            // not set again: a real bar may repaint itself on every change.
            const int position = walk_.Position();
            if (position != window.ProgressPosition())
                window.SetProgressPosition(position);
            window.Repaint();
        });
    }

    bool Rename()
    {
        const std::vector<StagedFile> &files = transaction_.Files;
        for (size_t first = 0; first < files.size();) {
            // Each file swapped with its copy, or set aside and its copy renamed into place.
            std::vector<FileMove> moves;
            std::vector<size_t> fileOf; // of each move
            for (size_t i = first; i < files.size(); ++i) {
                const StagedFile &file = files[i];
                if (file.Kept && swaps_) {
                    moves.push_back({file.Temp, file.Target, true});
                    fileOf.push_back(i);
                    continue;
                }
                if (!file.Backup.empty()) {
                    moves.push_back({file.Target, file.Backup, false});
                    fileOf.push_back(i);
                }
                moves.push_back({file.Temp, file.Target, false});
                fileOf.push_back(i);
            }
            ExchangeOutcome stoppedBy = ExchangeOutcome::Exchanged;
            const size_t done = files_.MoveFiles(moves, stoppedBy);
            for (size_t k = 0; k < done; ++k) {
                // Where each replaced file is kept once it is replaced.
                const StagedFile &file = files[fileOf[k]];
                if (moves[k].Exchange)
                    kept_.push_back({file.Target, file.Temp});
                else if (moves[k].From == file.Target)
                    kept_.push_back({file.Target, file.Backup});
            }
            if (done == moves.size()) {
                renamed_ = files.size();
                return true;
            }
            const FileMove &stopped = moves[done];
            // Counted with the one that failed: it may have half happened for all we know.
            renamed_ = fileOf[done] + 1;
            if (stopped.Exchange && stoppedBy == ExchangeOutcome::Unsupported) {
                swaps_ = false; // nor will it for the files after it: renames from this one on
                first = fileOf[done];
                continue;
            }
            const StagedFile &file = files[fileOf[done]];
            if (stopped.Exchange)
                LogError("cannot swap " + file.Temp + " and " + file.Target);
            else if (stopped.From == file.Target)
                LogError("cannot keep " + file.Target + " as " + file.Backup);
            else
                LogError("cannot rename " + file.Temp + " to " + file.Target);
            return false;
        }
        return true;
    }

    // Success is reported only once the files are on stable storage: after a power loss right
    // after the message, a replaced file must not be found empty. One flush per file system
    // costs far less than one per file. Then the journal says the backups may go.
    bool Commit()
    {
        if (!written_.empty() && !files_.FlushFileSystems(written_))
            return false;
        transaction_.Committed = true;
        if (!files_.WriteFileDurably(journal_, CommittedJournalText(journalText_))) {
            LogError("cannot write the journal " + journal_);
            return false;
        }
        return true;
    }

    // After the commit every replaced file is kept where Rename put it: all go in one call,
    // without a test each.
    static bool RemoveKept(IFileSystem &files, const std::vector<KeptFile> &kept,
                           const std::string &journal)
    {
        std::vector<std::string> paths;
        for (const KeptFile &file : kept)
            paths.push_back(file.Kept);
        if (paths.empty() || files.RemoveFiles(paths))
            return true;
        // A replaced program that still runs (Windows keeps its file) cannot go yet: it stays
        // named in the journal, which the next start reads to remove it.
        for (const KeptFile &file : kept) {
            if (files.FileExists(file.Kept))
                LogWarning("the replaced file " + file.Target + " is kept as " + file.Kept +
                           ", which cannot be removed now (in use?); the next start removes "
                           "it, as " +
                           journal + " names it");
        }
        return false;
    }

    bool Undo()
    {
        if (RollBack(files_, transaction_, renamed_, created_)) {
            LogInfo("the file stage failed; the product's files are as they were before");
            if (!files_.RemoveFile(journal_))
                LogWarning("cannot remove the journal " + journal_);
        } else {
            LogError("the file stage failed and the product's files could not all be put back; "
                     "the next start tries again from " +
                     journal_);
        }
        return false;
    }

    TreeWalk &walk_;
    IFileSystem &files_;
    const FilePlan &plan_;
    const std::string dest_; // the product's folder, as given
    const std::string journal_;
    FileTransaction transaction_;
    std::string journalText_;          // as written before the first change
    std::vector<std::string> written_; // folders that received a file, in order, once each
    std::set<std::string> writtenSet_;
    size_t renamed_ = 0;
    size_t created_ = 0;
    bool swaps_ = true;          // false once the system has refused a swap
    std::vector<KeptFile> kept_; // every replaced file, where it is kept once it is replaced
};

// The product an earlier stage's journal was written for: this run's product as the scan read
// it, any other from the registry when the run has one.
RegisteredFolder RunRegistration(const UpgradeContext &context)
{
    return [&context](const std::string &productCode) -> std::optional<std::string> {
        if (productCode == context.Product.ProductCode)
            return context.Product.Path;
        if (context.Registry)
            return RegisteredFolderIn(*context.Registry)(productCode);
        return std::nullopt;
    };
}

// What must hold before any stage that writes files, and before the first SQL block: an
// earlier stage cut short is finished, and no journal kept aside waits for an administrator.
bool FileStageMayStart(UpgradeContext &context)
{
    if (!RecoverFileStage(context.Files, context.ProgramFolder, RunRegistration(context))) {
        LogError("the file stage cannot succeed: what an earlier file stage left blocks it");
        return false;
    }
    return true;
}

// Checked before the first SQL block, so that the journal cannot fail after they have run.
// Nothing stands in its place once RecoverFileStage has passed.
bool JournalCanBeWritten(UpgradeContext &context)
{
    if (context.Files.MayCreateIn(context.ProgramFolder))
        return true;
    LogError("the file stage cannot succeed: its journal " +
             FileJournalPath(context.ProgramFolder) +
             " cannot be written, as files may not be created in " + context.ProgramFolder);
    return false;
}

// The checks and the copy of one listed tree.
bool CopyListedTree(TreeWalk &walk, const ListedFolder &tree, const std::string &source,
                    const std::string &dest)
{
    if (!FileStageMayStart(walk.context) || !JournalCanBeWritten(walk.context))
        return false;
    Planner planner(walk.context.Files);
    if (!planner.Plan(tree, source, dest))
        return false;
    return FileStage(walk, planner.Result, dest).Run();
}

} // namespace

uint64_t GetFolderSize(UpgradeContext &context, const std::string &path)
{
    return TreeSize(ListTree(context.Files, path));
}

bool CopyFolderTree(UpgradeContext &context, const std::string &Source, const std::string &Dest)
{
    TreeWalk walk{context, 0, context.Window.ProgressPosition()};
    return CopyListedTree(walk, ListTree(context.Files, Source), Source, Dest);
}

bool CheckUpdateFiles(UpgradeContext &context)
{
    // Whether or not this package brings files: a product folder an earlier stage may have
    // left half done is not upgraded further.
    if (!FileStageMayStart(context))
        return false;
    const std::string source = UpdateSourceFolder(context);
    if (source.empty() || !context.Files.DirectoryExists(source) ||
        TrimControl(context.Product.Path).empty())
        return true;
    if (!JournalCanBeWritten(context))
        return false;
    Planner planner(context.Files);
    return planner.Plan(ListTree(context.Files, source), source, context.Product.Path);
}

bool CopyUpdateFiles(UpgradeContext &context)
{
    const std::string source = UpdateSourceFolder(context);
    if (source.empty() || !context.Files.DirectoryExists(source)) {
        LogInfo("file stage: skipped, the package has no UpdateFiles");
        return true;
    }
    StageLog stage("file stage");
    IWindowFacilities &window = context.Window;
    window.SetStepText(kUpdatingFiles);
    const ListedFolder tree = ListTree(context.Files, source);
    const uint64_t total = TreeSize(tree);
    const int shift = ProgressShift(total);
    window.SetProgressMax(static_cast<int>(total >> shift));
    window.SetProgressPosition(0);
    const std::string files =
        std::to_string(TreeFiles(tree)) + " files, " + std::to_string(total) + " bytes";
    if (TrimControl(context.Product.Path).empty()) {
        LogWarning("file stage: the product's folder (Path) is empty; " + files + " left uncopied");
        return stage.Done(true);
    }
    LogInfo("file stage: " + files + " from " + source + " to " + context.Product.Path);
    TreeWalk walk{context, shift, 0};
    const bool ok = CopyListedTree(walk, tree, source, context.Product.Path);
    window.SetProgressPosition(0);
    if (ok)
        LogInfo("file stage: " + std::to_string(TreeFiles(tree)) + " files copied (" +
                std::to_string(total) + " bytes)");
    else
        LogError("file stage: " + files + " not put in place");
    return stage.Done(ok);
}

} // namespace offline_upgrade
