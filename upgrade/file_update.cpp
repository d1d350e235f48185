#include "upgrade/file_update.h"

#include "platform/text.h"

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

    int Position() const
    {
        const uint64_t position = static_cast<uint64_t>(start) + (done >> shift);
        return position > INT_MAX ? INT_MAX : static_cast<int>(position);
    }
};

std::string JoinPath(const std::string &folder, const std::string &name)
{
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

// The "UpdateFiles" folder of the unpacked package; empty when the package name leaves no
// folder name (a package file named just ".zip").
std::string UpdateSourceFolder(const UpgradeContext &context)
{
    const std::string &packageName = context.Package.PackageName;
    if (packageName.size() <= 4)
        return {};
    return context.ProgramFolder + "TempUpdate/" + packageName.substr(0, packageName.size() - 4) +
           "/UpdateFiles";
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
        return files.CopyFile(source, dest);
    } catch (const std::exception &) {
        return false; // counts as a file not copied; the walk goes on
    }
}

bool EnsureFolder(IFileSystem &files, const std::string &path)
{
    return files.DirectoryExists(path) || files.ForceDirectories(path);
}

bool WalkTree(TreeWalk &walk, const std::string &source, const std::string &dest)
{
    IFileSystem &files = walk.context.Files;
    IWindowFacilities &window = walk.context.Window;
    std::vector<FolderEntry> entries;
    if (!files.ListFolder(source, "*.*", entries))
        return false;
    bool ok = EnsureFolder(files, dest);
    for (const FolderEntry &entry : entries) {
        if (entry.Name == "." || entry.Name == "..")
            continue;
        const std::string target = JoinPath(dest, entry.Name);
        if (entry.Attributes & kAttrDirectory) {
            ok = EnsureFolder(files, target) && ok;
            ok = WalkTree(walk, JoinPath(source, entry.Name), target) && ok;
            continue;
        }
        window.SetStepText(kUpdatingFilePrefix + entry.Name + "...");
        window.Repaint();
        ok = CopyOneFile(files, JoinPath(source, entry.Name), target) && ok;
        walk.done += entry.Size;
        window.SetProgressPosition(walk.Position());
        window.Repaint();
    }
    return ok;
}

uint64_t SumFolder(IFileSystem &files, const std::string &path)
{
    std::vector<FolderEntry> entries;
    if (!files.ListFolder(path, "*.*", entries))
        return 0;
    uint64_t total = 0;
    for (const FolderEntry &entry : entries) {
        if (entry.Name == "." || entry.Name == "..")
            continue;
        if (entry.Attributes & kAttrDirectory)
            total += SumFolder(files, JoinPath(path, entry.Name));
        else
            total += entry.Size;
    }
    return total;
}

} // namespace

uint64_t GetFolderSize(UpgradeContext &context, const std::string &path)
{
    return SumFolder(context.Files, path);
}

bool CopyFolderTree(UpgradeContext &context, const std::string &Source, const std::string &Dest)
{
    TreeWalk walk{context, 0, context.Window.ProgressPosition()};
    return WalkTree(walk, Source, Dest);
}

bool CopyUpdateFiles(UpgradeContext &context)
{
    const std::string source = UpdateSourceFolder(context);
    if (source.empty() || !context.Files.DirectoryExists(source))
        return true;
    IWindowFacilities &window = context.Window;
    window.SetStepText(kUpdatingFiles);
    const uint64_t total = GetFolderSize(context, source);
    const int shift = ProgressShift(total);
    window.SetProgressMax(static_cast<int>(total >> shift));
    window.SetProgressPosition(0);
    if (TrimControl(context.Product.Path).empty())
        return true;
    TreeWalk walk{context, shift, 0};
    const bool ok = WalkTree(walk, source, context.Product.Path);
    window.SetProgressPosition(0);
    return ok;
}
