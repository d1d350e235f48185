#include "upgrade/file_transaction.h"

#include "archiver/work_folder.h"
#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/path_rules.h"
#include "platform/text.h"
#include "product/product_reg.h"

#include <algorithm>
#include <charconv>
#include <set>
#include <string_view>

namespace offline_upgrade {

namespace {

const char kJournalHeader[] = "kx-file-stage-journal 3\n";
// The form before swaps, which a stage of an older build cut short may have left: the same
// but for the "swap" lines.
const char kJournalHeaderWithoutSwaps[] = "kx-file-stage-journal 2\n";
const std::string kTempPrefix = ".kxnew-";
const std::string kBackupPrefix = ".kxold-";
// A journal kept aside is renamed to its name, this and a number, the first free of 1 to
// kKeptAsideSlots. Each is looked for by name, so that no listing of the program folder is
// needed; past that many, a journal that fails its check stays where it is, blocking as well.
const std::string kKeptAsideInfix = ".rejected-";
constexpr int kKeptAsideSlots = 9;

// A path as its length, a colon and its bytes, so that no byte of it can end a record.
void AppendField(std::string &text, const std::string &field)
{
    text += ' ';
    text += std::to_string(field.size());
    text += ':';
    text += field;
}

class JournalReader {
public:
    explicit JournalReader(std::string_view text) : text_(text) {}

    bool AtEnd() const { return at_ == text_.size(); }

    // The word up to the next blank or line end.
    bool Word(std::string &word)
    {
        const size_t end = text_.find_first_of(" \n", at_);
        if (end == std::string_view::npos || end == at_)
            return false;
        word.assign(text_.substr(at_, end - at_));
        at_ = end;
        return true;
    }

    template <class Integer> bool Number(Integer &value)
    {
        std::string word;
        if (!Skip(' ') || !Word(word))
            return false;
        const auto result = std::from_chars(word.data(), word.data() + word.size(), value);
        return result.ec == std::errc() && result.ptr == word.data() + word.size();
    }

    bool Field(std::string &field)
    {
        if (!Skip(' '))
            return false;
        const size_t colon = text_.find(':', at_);
        if (colon == std::string_view::npos)
            return false;
        size_t length = 0;
        const auto result = std::from_chars(text_.data() + at_, text_.data() + colon, length);
        if (result.ec != std::errc() || result.ptr != text_.data() + colon ||
            length > text_.size() - colon - 1)
            return false;
        field.assign(text_.substr(colon + 1, length));
        at_ = colon + 1 + length;
        return true;
    }

    bool Skip(char c)
    {
        if (at_ >= text_.size() || text_[at_] != c)
            return false;
        ++at_;
        return true;
    }

private:
    std::string_view text_;
    size_t at_ = 0;
};

} // namespace

std::string FileJournalPath(const std::string &programFolder)
{
    return programFolder + kJournalFileName;
}

std::string StagedTempName(const std::string &token, size_t index)
{
    return kTempPrefix + token + "-" + std::to_string(index);
}

std::string StagedBackupName(const std::string &token, size_t index)
{
    return kBackupPrefix + token + "-" + std::to_string(index);
}

std::string JournalText(const FileTransaction &transaction)
{
    std::string text = kJournalHeader;
    text += "product";
    AppendField(text, transaction.ProductCode);
    AppendField(text, transaction.ProductFolder);
    text += '\n';
    for (const std::string &folder : transaction.NewFolders) {
        text += "folder";
        AppendField(text, folder);
        text += '\n';
    }
    for (const FolderTime &time : transaction.FolderTimes) {
        text += "time " + std::to_string(time.Modified);
        AppendField(text, time.Folder);
        text += '\n';
    }
    // Room for the file lines, so that the text is not moved again and again as it grows.
    size_t bytes = 0;
    for (const StagedFile &file : transaction.Files)
        bytes += file.Target.size() + file.Temp.size() + file.Backup.size() + 48;
    text.reserve(text.size() + bytes + 16);
    for (const StagedFile &file : transaction.Files) {
        if (file.Kept) {
            text += "swap ";
            text += std::to_string(file.Kept);
        } else {
            text += "file";
        }
        AppendField(text, file.Target);
        AppendField(text, file.Temp);
        AppendField(text, file.Backup);
        text += '\n';
    }
    // Only a journal that reaches this line was written whole.
    text += "end\n";
    return transaction.Committed ? CommittedJournalText(text) : text;
}

std::string CommittedJournalText(const std::string &uncommitted)
{
    return uncommitted + "committed\n";
}

bool ParseJournal(const std::string &text, FileTransaction &transaction)
{
    transaction = FileTransaction();
    std::string_view header = kJournalHeader;
    bool swaps = true;
    if (text.compare(0, header.size(), header) != 0) {
        header = kJournalHeaderWithoutSwaps;
        swaps = false;
        if (text.compare(0, header.size(), header) != 0)
            return false;
    }
    JournalReader reader(std::string_view(text).substr(header.size()));
    std::string word;
    if (!reader.Word(word) || word != "product" || !reader.Field(transaction.ProductCode) ||
        !reader.Field(transaction.ProductFolder) || !reader.Skip('\n'))
        return false;
    while (reader.Word(word)) {
        if (word == "end") {
            if (!reader.Skip('\n'))
                return false;
            if (reader.AtEnd())
                return true;
            transaction.Committed =
                reader.Word(word) && word == "committed" && reader.Skip('\n') && reader.AtEnd();
            return transaction.Committed;
        }
        bool ok = false;
        if (word == "folder") {
            std::string folder;
            ok = reader.Field(folder);
            transaction.NewFolders.push_back(folder);
        } else if (word == "time") {
            FolderTime time;
            ok = reader.Number(time.Modified) && reader.Field(time.Folder);
            transaction.FolderTimes.push_back(time);
        } else if (word == "file" || (word == "swap" && swaps)) {
            StagedFile file;
            ok = (word == "file" || (reader.Number(file.Kept) && file.Kept > 0)) &&
                 reader.Field(file.Target) && reader.Field(file.Temp) && reader.Field(file.Backup);
            transaction.Files.push_back(file);
        }
        if (!ok || !reader.Skip('\n'))
            return false;
    }
    return false;
}

namespace {

// Where a swap's replaced file is, for RollBack: under the temporary name (it was swapped),
// at the target (it was not), or neither (something else stands at both names).
enum class SwappedFile { AtTemp, AtTarget, Unknown };

SwappedFile WhereIsSwappedFile(IFileSystem &files, const StagedFile &file)
{
    uint64_t identity = 0;
    if (files.IdentityOf(file.Temp, identity) && identity == file.Kept)
        return SwappedFile::AtTemp;
    if (files.IdentityOf(file.Target, identity) && identity == file.Kept)
        return SwappedFile::AtTarget;
    return SwappedFile::Unknown;
}

} // namespace

bool RollBack(IFileSystem &files, const FileTransaction &transaction, size_t renamed,
              size_t created)
{
    bool restored = true;
    for (size_t i = transaction.Files.size(); i-- > 0;) {
        const StagedFile &file = transaction.Files[i];
        if (!file.Backup.empty() && files.FileExists(file.Backup)) {
            if (!files.RenameFile(file.Backup, file.Target, true)) {
                LogError("cannot put the kept file " + file.Backup + " back as " + file.Target);
                restored = false;
            }
        } else if (file.Kept && files.FileExists(file.Temp)) {
            switch (WhereIsSwappedFile(files, file)) {
            case SwappedFile::AtTemp:
                if (!files.RenameFile(file.Temp, file.Target, true)) {
                    LogError("cannot put the kept file " + file.Temp + " back as " + file.Target);
                    restored = false;
                }
                break;
            case SwappedFile::AtTarget:
                break; // the temporary file is the new copy, removed below
            case SwappedFile::Unknown:
                // Neither name holds the file that was replaced: the temporary file may be
                // all that is left of something, so it stays.
                LogError("neither " + file.Target + " nor " + file.Temp +
                         " is the file the stage replaced; both are left as they are");
                restored = false;
                continue;
            }
        } else if (file.Backup.empty() && i < renamed && !files.FileExists(file.Temp) &&
                   files.FileExists(file.Target)) {
            // Its rename happened: the file at the target is the new one.
            if (!files.RemoveFile(file.Target)) {
                LogError("cannot remove the new file " + file.Target);
                restored = false;
            }
        }
        if (files.FileExists(file.Temp) && !files.RemoveFile(file.Temp)) {
            LogError("cannot remove the temporary file " + file.Temp);
            restored = false;
        }
    }
    for (size_t i = std::min(created, transaction.NewFolders.size()); i-- > 0;) {
        const std::string &folder = transaction.NewFolders[i];
        if (files.DirectoryExists(folder) && !files.RemoveFolder(folder))
            LogWarning("cannot remove the new folder " + folder);
    }
    for (const FolderTime &time : transaction.FolderTimes) {
        if (files.DirectoryExists(time.Folder) &&
            !files.SetModifiedTime(time.Folder, time.Modified))
            LogWarning("cannot set the time of " + time.Folder + " back");
    }
    return restored;
}

bool RemoveLeftovers(IFileSystem &files, const FileTransaction &transaction)
{
    bool removed = true;
    for (const StagedFile &file : transaction.Files) {
        for (const std::string *path : {&file.Backup, &file.Temp}) {
            if (!path->empty() && files.FileExists(*path) && !files.RemoveFile(*path)) {
                LogWarning("cannot remove " + *path);
                removed = false;
            }
        }
    }
    return removed;
}

namespace {

// The names that path adds below folder, joined as the file stage joins them (JoinPath: one
// separator after the folder unless it ends in one, one between names). False, with why,
// when path is not so built or a name is not one name to this system. No names: path is the
// folder itself.
bool NamesBelow(const std::string &folder, const std::string &path, std::vector<std::string> &names,
                std::string &why)
{
    names.clear();
    if (path == folder)
        return true;
    if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0) {
        why = "lies outside the product folder " + folder;
        return false;
    }
    std::string_view rest(path);
    rest.remove_prefix(folder.size());
    if (!IsPathSeparator(folder.back())) {
        if (!IsPathSeparator(rest.front())) {
            why = "lies outside the product folder " + folder;
            return false;
        }
        rest.remove_prefix(1);
    }
    for (;;) {
        const auto separator = std::find_if(rest.begin(), rest.end(), IsPathSeparator);
        const size_t slash = separator == rest.end()
                                 ? std::string_view::npos
                                 : static_cast<size_t>(separator - rest.begin());
        const std::string_view name = rest.substr(0, slash);
        const std::string problem = PathPartProblem(name);
        if (!problem.empty()) {
            why = "has " + problem + " below the product folder " + folder;
            return false;
        }
        names.emplace_back(name);
        if (slash == std::string_view::npos)
            return true;
        rest.remove_prefix(slash + 1);
    }
}

// True when parent is one of the folders that hold path: a beginning of it that ends at a
// separator, with a name of path's own after it.
bool IsParentOf(const std::string &parent, const std::string &path)
{
    if (parent.empty() || path.size() <= parent.size() ||
        path.compare(0, parent.size(), parent) != 0)
        return false;
    if (!IsPathSeparator(parent.back()) && !IsPathSeparator(path[parent.size()]))
        return false;
    return std::any_of(path.begin() + static_cast<std::ptrdiff_t>(parent.size()), path.end(),
                       [](char c) { return !IsPathSeparator(c); });
}

bool IsToken(std::string_view token)
{
    return !token.empty() && std::all_of(token.begin(), token.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
    });
}

std::string Quote(const std::string &text)
{
    return "\"" + text + "\"";
}

std::string FilesProblem(const FileTransaction &transaction)
{
    const std::string &product = transaction.ProductFolder;
    std::set<std::string> targets;
    std::string token;
    for (size_t i = 0; i < transaction.Files.size(); ++i) {
        const StagedFile &file = transaction.Files[i];
        std::vector<std::string> names;
        std::string why;
        if (!NamesBelow(product, file.Target, names, why))
            return "the file " + file.Target + " " + why;
        if (names.empty())
            return "a file is the product folder " + product + " itself";
        if (!targets.insert(file.Target).second)
            return "the file " + file.Target + " is named twice";
        // The target's folder as the stage wrote it, with its separator.
        const std::string folder = file.Target.substr(0, file.Target.size() - names.back().size());
        if (i == 0 && file.Temp.starts_with(folder + ".kxnew-") && file.Temp.ends_with("-0"))
            token = file.Temp.substr(folder.size() + 7, file.Temp.size() - folder.size() - 9);
        if (!IsToken(token) || file.Temp != folder + StagedTempName(token, i))
            return "the temporary file " + file.Temp + " of " + file.Target +
                   " is not the file stage's own name beside it";
        if (!file.Backup.empty() && file.Backup != folder + StagedBackupName(token, i))
            return "the kept file " + file.Backup + " of " + file.Target +
                   " is not the file stage's own name beside it";
        if (file.Kept && file.Backup.empty())
            return "the file " + file.Target + " is to be swapped but has no kept file";
    }
    return {};
}

std::string FoldersProblem(const FileTransaction &transaction)
{
    const std::string &product = transaction.ProductFolder;
    std::string root = product;
    while (root.size() > 1 && IsPathSeparator(root.back()))
        root.pop_back();
    const bool rootIsNew =
        std::any_of(transaction.NewFolders.begin(), transaction.NewFolders.end(),
                    [&](const std::string &folder) { return folder == product || folder == root; });
    std::vector<const std::string *> folders;
    for (const std::string &folder : transaction.NewFolders)
        folders.push_back(&folder);
    for (const FolderTime &time : transaction.FolderTimes)
        folders.push_back(&time.Folder);
    for (const std::string *folder : folders) {
        std::vector<std::string> names;
        std::string why;
        if (*folder == root || NamesBelow(product, *folder, names, why) ||
            (rootIsNew && IsParentOf(*folder, root)))
            continue;
        return "the folder " + *folder + " " + why;
    }
    return {};
}

} // namespace

std::string JournalProblem(const FileTransaction &transaction,
                           const std::optional<std::string> &registeredFolder)
{
    const std::string product = Quote(transaction.ProductCode);
    if (!registeredFolder)
        return "it was written for the product " + product +
               ", which is not registered on this machine";
    if (TrimControl(*registeredFolder).empty())
        return "it was written for the product " + product +
               ", which is registered without a folder";
    if (*registeredFolder != transaction.ProductFolder)
        return "it was written for the folder " + transaction.ProductFolder + " of the product " +
               product + ", which is registered with the folder " + *registeredFolder;
    std::string problem = FilesProblem(transaction);
    if (problem.empty())
        problem = FoldersProblem(transaction);
    return problem;
}

RegisteredFolder RegisteredFolderIn(IRegistry &registry)
{
    return [&registry](const std::string &productCode) -> std::optional<std::string> {
        if (productCode.empty())
            return std::nullopt;
        T_ProductReg product;
        try {
            ReadProductReg(registry, productCode, product);
        } catch (const std::exception &error) {
            LogError("cannot read the registration of the product " + Quote(productCode) + ": " +
                     error.what());
            return std::nullopt;
        }
        if (product.ProductCode.empty())
            return std::nullopt;
        return product.Path;
    };
}

std::vector<std::string> KeptAsideJournals(IFileSystem &files, const std::string &programFolder)
{
    std::vector<std::string> paths;
    const std::string journal = FileJournalPath(programFolder);
    for (int n = 1; n <= kKeptAsideSlots; ++n) {
        const std::string path = journal + kKeptAsideInfix + std::to_string(n);
        if (files.FileExists(path) || files.DirectoryExists(path))
            paths.push_back(path);
    }
    return paths;
}

namespace {

// What is wrong with the journal at path, or empty when it passes; transaction then holds it.
std::string JournalFileProblem(IFileSystem &files, const std::string &path,
                               const RegisteredFolder &registered, FileTransaction &transaction)
{
    if (files.DirectoryExists(path))
        return "is a folder";
    std::string text;
    if (!files.ReadFile(path, text))
        return "cannot be read";
    if (!ParseJournal(text, transaction))
        return "is torn or of another kind: it does not hold one whole journal of this tool";
    const std::string problem = JournalProblem(transaction, registered(transaction.ProductCode));
    return problem.empty() ? problem : "fails its check: " + problem;
}

// Renames what stands at the journal's place to the first free kept-aside name. True when it
// is aside.
bool KeepAside(IFileSystem &files, const std::string &journal, const std::string &problem)
{
    const std::string what = "the journal " + journal + " of an earlier file stage " + problem;
    for (int n = 1; n <= kKeptAsideSlots; ++n) {
        const std::string aside = journal + kKeptAsideInfix + std::to_string(n);
        if (files.FileExists(aside) || files.DirectoryExists(aside))
            continue;
        if (!files.RenameFile(journal, aside, false))
            break;
        LogError(what + "; nothing it names was touched, and it is kept as " + aside);
        return true;
    }
    LogError(what + "; nothing it names was touched, but it cannot be set aside, and stays");
    return false;
}

// Finishes a journal that passed its check. True when it is done and gone.
bool FinishTransaction(IFileSystem &files, const std::string &journal,
                       const FileTransaction &transaction)
{
    if (transaction.Committed) {
        // What is there is said as found: a stage whose kept files were in use when it ended
        // (a running program it replaced) left only those.
        std::vector<std::string> left;
        for (const StagedFile &file : transaction.Files) {
            for (const std::string *path : {&file.Backup, &file.Temp}) {
                if (!path->empty() && files.FileExists(*path))
                    left.push_back(*path);
            }
        }
        std::string named;
        for (size_t i = 0; i < left.size() && i < 5; ++i)
            named += (i ? ", " : "") + left[i];
        if (left.size() > 5)
            named += ", ...";
        if (left.empty())
            LogInfo("an earlier file stage put its " + std::to_string(transaction.Files.size()) +
                    " files in place and left no kept file; removing its journal " + journal);
        else
            LogInfo("an earlier file stage put its " + std::to_string(transaction.Files.size()) +
                    " files in place and left " + std::to_string(left.size()) +
                    " kept files that were not removed then; removing them: " + named);
        if (!RemoveLeftovers(files, transaction))
            LogWarning("some kept files of the earlier file stage still cannot be removed (see "
                       "above); they are no longer needed and may be deleted by hand");
    } else {
        LogWarning("an earlier file stage was cut short before its files were all in place; "
                   "restoring the product's " +
                   std::to_string(transaction.Files.size()) + " files from " + journal);
        if (!RollBack(files, transaction, transaction.Files.size(),
                      transaction.NewFolders.size())) {
            LogError("the product's files could not all be restored; the journal " + journal +
                     " stays for the next start");
            return false;
        }
        LogInfo("the product's files are as they were before the interrupted file stage");
    }
    if (!files.RemoveFile(journal)) {
        LogError("cannot remove the journal " + journal);
        return false;
    }
    return true;
}

} // namespace

bool RecoverFileStage(IFileSystem &files, const std::string &programFolder,
                      const RegisteredFolder &registered)
{
    const std::string journal = FileJournalPath(programFolder);
    bool finished = true;
    if (files.FileExists(journal) || files.DirectoryExists(journal)) {
        FileTransaction transaction;
        const std::string problem = JournalFileProblem(files, journal, registered, transaction);
        if (problem.empty()) {
            finished = FinishTransaction(files, journal, transaction);
        } else {
            // Aside or not, it blocks: as a kept-aside journal below, or in its place.
            (void)KeepAside(files, journal, problem);
            finished = false;
        }
    }
    const std::vector<std::string> kept = KeptAsideJournals(files, programFolder);
    for (const std::string &path : kept) {
        FileTransaction transaction;
        const std::string problem = JournalFileProblem(files, path, registered, transaction);
        LogError("no upgrade runs from this program folder while " + path +
                 " is there: a journal of an earlier file stage, kept aside as it " +
                 (problem.empty() ? std::string("could not be followed then") : problem) +
                 ". An administrator compares the product folder with it (beside a file it "
                 "names, a \".kxold-\" file is the former version a stage cut short kept, a "
                 "\".kxnew-\" file a new copy not yet in place, or the former version when "
                 "its inode number is the one the journal's \"swap\" line for the file "
                 "gives), puts back what is needed, "
                 "removes those leftovers and then deletes " +
                 path);
    }
    return finished && kept.empty();
}

} // namespace offline_upgrade
