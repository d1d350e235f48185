#pragma once
// Puts a set of new files in place all together or not at all. Each new file has been written
// beside its target under a temporary name; the commit renames every replaced file aside to
// a backup in its own folder (a rename, never a copy) and every new file into place. Until the
// commit is complete, RollBack puts every backup back and removes what was written, and a
// journal in the work folder lets the next start of the program do the same after a crash.

#include "platform/file_system.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct StagedFile {
    std::string Target;
    std::string Temp;   // the new copy, beside Target
    std::string Backup; // where the replaced file is kept, beside Target; empty: Target is new
};

struct FolderTime {
    std::string Folder;
    int64_t Modified = 0; // nanoseconds since 1970
};

struct FileTransaction {
    std::vector<StagedFile> Files;
    std::vector<std::string> NewFolders; // created parents first
    // Existing folders that receive entries, with their modification times before.
    std::vector<FolderTime> FolderTimes;
    // Every file is in place and on stable storage: what is left is removing the backups.
    bool Committed = false;
};

// The journal file of the program folder (ending in a separator).
std::string FileJournalPath(const std::string &programFolder);

// The journal's text, and back. Paths are stored byte for byte whatever they hold; ParseJournal
// is false for a text that is not a whole journal.
std::string JournalText(const FileTransaction &transaction);
bool ParseJournal(const std::string &text, FileTransaction &transaction);

// Undoes the transaction as far as it went: restores every backup there is over its target,
// removes every temporary file, removes each new target whose temporary file is gone among the
// first `renamed` files (those whose rename may have happened), removes the first `created`
// new folders when empty, deepest first, and sets the folders' times back. True when every
// file is as before (folders that cannot be removed or times that cannot be set are logged
// only); the journal is not touched.
bool RollBack(IFileSystem &files, const FileTransaction &transaction, size_t renamed,
              size_t created);

// Removes the backups and temporary files that a committed transaction leaves. True when none
// is left.
bool RemoveLeftovers(IFileSystem &files, const FileTransaction &transaction);

// Finishes what an earlier file stage left when it was cut short (a journal in the program's
// work folder): a committed one loses its leftovers, any other is rolled back; then the
// journal goes. Logs what it did. True when there was nothing to do or it is done; false when
// the journal stays (it cannot be read, or the product could not be restored), and then no
// file stage may start.
bool RecoverFileStage(IFileSystem &files, const std::string &programFolder);
