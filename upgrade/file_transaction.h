#pragma once
// Puts a set of new files in place all together or not at all. Each new file has been written
// beside its target under a temporary name; the commit swaps each replaced file with its new
// copy in one step where the file system can (the replaced file then stays under the
// temporary name), else renames the replaced file aside to a backup in its own folder and the
// new file into place (a rename, never a copy). Until the commit is complete, RollBack puts
// every replaced file back and removes what was written, and a journal in the program folder
// lets the next start of the program do the same after a crash. The next start obeys a
// journal only when the whole of it is what the file stage writes for the product's folder as
// registered then; any other is kept aside, untouched.

#include "platform/file_system.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace offline_upgrade {

class IRegistry;

struct StagedFile {
    std::string Target;
    std::string Temp;   // the new copy, beside Target
    std::string Backup; // where the replaced file is kept, beside Target; empty: Target is new
    // The identity (IFileSystem::IdentityOf) of the replaced file, when the stage may swap it
    // with Temp: after a swap, Temp holds the replaced file, and this tells which of the two
    // names holds it. 0: no swap; the replaced file goes to Backup.
    uint64_t Kept = 0;
};

struct FolderTime {
    std::string Folder;
    int64_t Modified = 0; // nanoseconds since 1970
};

struct FileTransaction {
    // The product whose folder the stage writes into, and that folder as it was registered:
    // every path below belongs to it.
    std::string ProductCode;
    std::string ProductFolder;
    std::vector<StagedFile> Files;
    std::vector<std::string> NewFolders; // created parents first
    // Existing folders that receive entries, with their modification times before.
    std::vector<FolderTime> FolderTimes;
    // Every file is in place and on stable storage: what is left is removing the backups.
    bool Committed = false;
};

// The journal file of the program folder (ending in a separator): in the program folder
// itself, beside the log, where no package entry is ever unpacked.
std::string FileJournalPath(const std::string &programFolder);

// The names of the temporary file and the backup of the file number index of a stage whose
// names carry token (lower-case letters and digits): ".kxnew-<token>-<index>" and
// ".kxold-<token>-<index>", each in the folder of its target.
std::string StagedTempName(const std::string &token, size_t index);
std::string StagedBackupName(const std::string &token, size_t index);

// The journal's text, and back. Paths are stored byte for byte whatever they hold; ParseJournal
// is false for a text that is not a whole journal.
std::string JournalText(const FileTransaction &transaction);
// The text of the same journal once committed, from its uncommitted text (made again whole, it
// would cost as much as the first).
std::string CommittedJournalText(const std::string &uncommitted);
bool ParseJournal(const std::string &text, FileTransaction &transaction);

// Undoes the transaction as far as it went: restores every backup there is over its target,
// and every replaced file that a swap left under the temporary name (its identity is Kept);
// removes every other temporary file; leaves a temporary file of a swap whose two names both
// hold something else than the replaced file, for an administrator; removes each new target whose
// temporary file is gone among the first `renamed` files (those whose rename may have happened),
// removes the first `created` new folders when empty, deepest first, and sets the folders' times
// back. True when every file is as before (folders that cannot be removed or times that cannot be
// set are logged only); the journal is not touched.
bool RollBack(IFileSystem &files, const FileTransaction &transaction, size_t renamed,
              size_t created);

// Removes the backups and temporary files that a committed transaction leaves (the replaced
// files among them). True when none is left.
bool RemoveLeftovers(IFileSystem &files, const FileTransaction &transaction);

// The folder a product is registered with now (its Path), or nothing when no product of that
// code is registered (or its registration cannot be read).
using RegisteredFolder = std::function<std::optional<std::string>(const std::string &productCode)>;

// The registration in a registry, as the scan reads it. A registration that cannot be read is
// logged and counts as none.
RegisteredFolder RegisteredFolderIn(IRegistry &registry);

// Why a transaction read from a journal is not one the file stage wrote for the folder its
// product is registered with now (registeredFolder), or empty when it is: the product must be
// registered with a folder that is not blank, and with exactly the journal's folder P; every
// target lies strictly below P, named as the stage names paths (one "/" after P, then names
// that are neither empty, "." nor "..", nor more than one name or a stream to this system);
// its temporary file and backup are the stage's own siblings of it (StagedTempName and
// StagedBackupName, one token for all, the file's own number), and a file to swap has a
// backup; no target is named twice; every
// folder to remove or whose time to set back is P or below it, or, when the stage was to make
// P itself, one of P's parents.
std::string JournalProblem(const FileTransaction &transaction,
                           const std::optional<std::string> &registeredFolder);

// Finishes what an earlier file stage left when it was cut short (a journal in the program
// folder). The journal is checked whole first (ParseJournal, then JournalProblem against the
// registration that registered gives for its product): one that is torn, cannot be read, is a
// folder, or fails the check is renamed to the first free "UpdateFiles.journal.rejected-N"
// (N from 1 to 9; none free: it stays) without anything it names being touched. A journal
// that passes: a committed one loses its leftovers, any other is rolled back; then it goes.
// Then every journal kept aside,
// now or before, is logged with what is wrong with it and what an administrator does about
// it. True when no journal is left in its place and none is kept aside: a file stage may
// start. False otherwise (the product could not be restored, or a kept-aside journal waits
// for an administrator); then no upgrade may run.
bool RecoverFileStage(IFileSystem &files, const std::string &programFolder,
                      const RegisteredFolder &registered);

// The journals kept aside in the program folder, as paths.
std::vector<std::string> KeptAsideJournals(IFileSystem &files, const std::string &programFolder);

} // namespace offline_upgrade
