#pragma once
// The application file update: the "UpdateFiles" tree of the unpacked package is copied over
// the product's folder, with the progress bar counting bytes.

#include "upgrade/upgrade_context.h"

#include <cstdint>
#include <string>

// The stage. Without an "UpdateFiles" folder in the unpacked package folder it does nothing
// and returns true. Otherwise it shows "正在更新文件...", sets the progress maximum to the
// tree's size and the position to 0; when Product.Path is empty or blank it stops there with
// true. Else it copies the tree over Product.Path (used as stored) and sets the position back
// to 0. Before it returns, what it wrote is on stable storage (one flush per file system of
// the target folders). True when every folder was listed and created, every file copied and
// flushed; false when anything was left out or the flush failed, after everything else has
// been copied. The working directory is not changed. The bar counts bytes, or bytes in a coarser unit (a power of two) when the total
// does not fit its int range.
bool CopyUpdateFiles(UpgradeContext &context);

// Copies everything in Source into Dest, subfolders included; Dest and every missing folder
// are created with their parents. Any entry with the directory flag is a folder. For each file
// the step text becomes "正在更新文件" + name + "..." and the window is repainted; after the
// copy the progress position has grown by the file's size in bytes and the window is repainted
// again. True when every folder was listed and created and every file copied; false when
// anything was left out, after everything else has been copied (false at once when Source
// cannot be listed).
bool CopyFolderTree(UpgradeContext &context, const std::string &Source, const std::string &Dest);

// The total size in bytes of all files in path and in all its subfolders. Folders that cannot
// be listed count as empty.
uint64_t GetFolderSize(UpgradeContext &context, const std::string &path);
