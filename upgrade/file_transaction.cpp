#include "upgrade/file_transaction.h"

#include "platform/diagnostics.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace {

const char kJournalHeader[] = "kx-file-stage-journal 1\n";

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

    bool Number(int64_t &value)
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
    return programFolder + "TempUpdate/UpdateFiles.journal";
}

std::string JournalText(const FileTransaction &transaction)
{
    std::string text = kJournalHeader;
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
    for (const StagedFile &file : transaction.Files) {
        text += "file";
        AppendField(text, file.Target);
        AppendField(text, file.Temp);
        AppendField(text, file.Backup);
        text += '\n';
    }
    // Only a journal that reaches this line was written whole.
    text += "end\n";
    if (transaction.Committed)
        text += "committed\n";
    return text;
}

bool ParseJournal(const std::string &text, FileTransaction &transaction)
{
    transaction = FileTransaction();
    const std::string_view header = kJournalHeader;
    if (text.compare(0, header.size(), header) != 0)
        return false;
    JournalReader reader(std::string_view(text).substr(header.size()));
    std::string word;
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
        } else if (word == "file") {
            StagedFile file;
            ok = reader.Field(file.Target) && reader.Field(file.Temp) && reader.Field(file.Backup);
            transaction.Files.push_back(file);
        }
        if (!ok || !reader.Skip('\n'))
            return false;
    }
    return false;
}

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

bool RecoverFileStage(IFileSystem &files, const std::string &programFolder)
{
    const std::string journal = FileJournalPath(programFolder);
    if (!files.FileExists(journal))
        return true;
    std::string text;
    FileTransaction transaction;
    if (!files.ReadFile(journal, text) || !ParseJournal(text, transaction)) {
        LogError("an earlier file stage was cut short, and its journal " + journal +
                 " cannot be read");
        return false;
    }
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
                    " kept files that could not be removed then; removing them: " + named);
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
