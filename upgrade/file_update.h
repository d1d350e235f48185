#pragma once
// The application file update: the "UpdateFiles" tree of the unpacked package is copied over
// the product's folder, with the progress bar counting bytes.

#include "upgrade/upgrade_context.h"

#include <cstdint>
#include <string>

namespace offline_upgrade {

// The checks before any SQL block runs: true when the stage can be expected to succeed, or
// has nothing to do (no "UpdateFiles" folder, a blank Product.Path). First, whatever the
// package holds, an earlier stage that was cut short is finished (RecoverFileStage, with this
// run's product and Registry), and a journal that failed its check (kept aside, or left in its
// place) fails the checks. Then: the program folder lets the journal be written there; every
// folder of the tree lists and
// every file of it can be read; every target folder exists or can be created; no folder stands
// where a file goes, nor a file where a folder goes; every file to be replaced may be replaced
// by this user; every existing folder that receives entries allows it; and each file system
// has room for the new files beside the ones they replace. Logs the first check that fails
// with its path. Writes nothing.
bool CheckUpdateFiles(UpgradeContext &context);

// The stage. Without an "UpdateFiles" folder in the unpacked package folder it does nothing
// and returns true. Otherwise it shows "正在更新文件...", sets the progress maximum to the
// tree's size and the position to 0; when Product.Path is empty or blank it stops there with
// true. Else it copies the tree over Product.Path (used as stored) with CopyFolderTree and sets
// the position back to 0. The bar counts bytes, or bytes in a coarser unit (a power of two)
// when the total does not fit its int range.
bool CopyUpdateFiles(UpgradeContext &context);

// Copies everything in Source into Dest, subfolders included, all or nothing:
// - the checks of CheckUpdateFiles; when one fails, nothing is written;
// - a journal in the program folder names the product and its folder Dest, every temporary
//   file, backup and new folder (flushed);
// - missing folders are created, parents first;
// - each file is written beside its target under a temporary name: the step text becomes
//   "正在更新文件" + name + "..." and the window is repainted; after the copy the progress
//   position has grown by the file's size and the window is repainted again;
// - then each replaced file is swapped with its new copy in one step (it is kept under the
//   temporary name), or, where the file system has no such step, renamed aside (its backup, in
//   its own folder) and the new file into place; each new file is renamed into place; the file
//   systems are flushed and the journal marked committed;
// - only then are the replaced files and the journal removed.
// When anything fails before the journal is marked, the stage puts every replaced file back and
// removes what it wrote and the folders it made, and sets the folders' times back: Dest is as
// it was. True when every file is in place and on stable storage; false otherwise.
bool CopyFolderTree(UpgradeContext &context, const std::string &Source, const std::string &Dest);

// The total size in bytes of all files in path and in all its subfolders. Folders that cannot
// be listed count as empty.
uint64_t GetFolderSize(UpgradeContext &context, const std::string &path);

} // namespace offline_upgrade
