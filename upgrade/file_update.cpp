#include "upgrade/file_update.h"

#include "platform/diagnostics.h"
#include "platform/text.h"
#include "upgrade/stage_log.h"
#include "upgrade/update_tree.h"

#include <climits>
#include <exception>
#include <vector>

namespace {

const std::string kUpdatingFiles = "正在更新文件...";
const std::string kUpdatingFilePrefix = "正在更新文件";

// One walk over a tree: the bar shows start + (done >> shift).
struct TreeWalk {
    UpgradeContext &context;
    int shift;
    int start;
    uint64_t done = 0;
    // What the log reports at the end. Each failure's cause is logged where it arises.
    uint64_t copiedFiles = 0;
    uint64_t copiedBytes = 0;
    uint64_t failedFiles = 0;
    uint64_t failedFolders = 0;
    // Target folders that received a file, one entry per folder: their file systems are
    // flushed once the copy is done.
    std::vector<std::string> written{};

    int Position() const
    {
        const uint64_t position = static_cast<uint64_t>(start) + (done >> shift);
        return position > INT_MAX ? INT_MAX : static_cast<int>(position);
    }
};

// The "UpdateFiles" folder of the unpacked package; empty when the package name leaves no
// folder of its own (then nothing was unpacked for it, and the work folder itself must not be
// taken for it).
std::string UpdateSourceFolder(const UpgradeContext &context)
{
    const std::string unpacked = UnpackedPackageFolder(context);
    return unpacked.empty() ? std::string() : unpacked + "/" + kUpdateFilesFolderName;
}

// The smallest power of two as unit that brings total into the bar's int range.
int ProgressShift(uint64_t total)
{
    int shift = 0;
    while ((total >> shift) > static_cast<uint64_t>(INT_MAX))
        ++shift;
    return shift;
}

bool CopyOneFile(IFileSystem &files, const std::string &source, const std::string &dest)
{
    try {
        return files.CopyFileOver(source, dest);
    } catch (const std::exception &error) {
        // Counts as a file not copied; the walk goes on.
        LogError("file stage: cannot copy " + source + " to " + dest + ": " + error.what());
        return false;
    }
}

bool EnsureFolder(TreeWalk &walk, const std::string &path)
{
    IFileSystem &files = walk.context.Files;
    if (files.DirectoryExists(path) || files.ForceDirectories(path))
        return true;
    ++walk.failedFolders;
    return false;
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

bool CopyTree(TreeWalk &walk, const ListedFolder &folder, const std::string &source,
              const std::string &dest)
{
    if (!folder.Listed) {
        ++walk.failedFolders;
        return false;
    }
    IFileSystem &files = walk.context.Files;
    IWindowFacilities &window = walk.context.Window;
    bool ok = EnsureFolder(walk, dest);
    bool wroteHere = false;
    size_t next = 0;
    for (const FolderEntry &entry : folder.Entries) {
        if (IsDotEntry(entry))
            continue;
        const std::string target = JoinTreePath(dest, entry.Name);
        if (IsTreeFolder(entry)) {
            ok = EnsureFolder(walk, target) && ok;
            ok = CopyTree(walk, folder.Folders[next++], JoinTreePath(source, entry.Name), target) &&
                 ok;
            continue;
        }
        window.SetStepText(kUpdatingFilePrefix + entry.Name + "...");
        window.Repaint();
        if (CopyOneFile(files, JoinTreePath(source, entry.Name), target)) {
            if (!wroteHere)
                walk.written.push_back(dest);
            wroteHere = true;
            ++walk.copiedFiles;
            walk.copiedBytes += entry.Size;
        } else {
            ++walk.failedFiles;
            ok = false;
        }
        walk.done += entry.Size;
        // An unchanged position (an empty file, or less than one unit of a coarse bar) is not
        // set again: a real bar may repaint itself on every change.
        const int position = walk.Position();
        if (position != window.ProgressPosition())
            window.SetProgressPosition(position);
        window.Repaint();
    }
    return ok;
}

} // namespace

uint64_t GetFolderSize(UpgradeContext &context, const std::string &path)
{
    return TreeSize(ListTree(context.Files, path));
}

bool CopyFolderTree(UpgradeContext &context, const std::string &Source, const std::string &Dest)
{
    TreeWalk walk{context, 0, context.Window.ProgressPosition()};
    return CopyTree(walk, ListTree(context.Files, Source), Source, Dest);
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
    bool ok = CopyTree(walk, tree, source, context.Product.Path);
    // Success is reported only once the files are on stable storage: after a power loss right
    // after the message, a replaced file must not be found empty. One flush per file system
    // costs far less than one per file.
    if (!walk.written.empty() && !context.Files.FlushFileSystems(walk.written))
        ok = false;
    window.SetProgressPosition(0);
    const std::string counts = "file stage: " + std::to_string(walk.copiedFiles) +
                               " files copied (" + std::to_string(walk.copiedBytes) + " bytes); " +
                               std::to_string(walk.failedFiles) + " files and " +
                               std::to_string(walk.failedFolders) + " folders failed";
    if (ok)
        LogInfo(counts);
    else
        LogError(counts);
    return stage.Done(ok);
}
