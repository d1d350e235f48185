#pragma once
// The script stage of an upgrade: runs the blocks of the package's SQL upgrade script, one
// command per block, over the open product database connection.

#include "upgrade/upgrade_context.h"

#include <string>

namespace offline_upgrade {

// The script file of the accepted package: "UpdateSQL.sql" in the unpacked package folder
// (UnpackedPackageFolder). Empty when the package name leaves no folder of its own.
std::string UpgradeScriptPath(const UpgradeContext &context);

// Does nothing and returns true when the server is not this machine or the package has no
// script file (or no unpacked folder of its own). Otherwise reads the file line by line and
// runs each block between a "-- sql begin" line and a "-- end sql" line as one command (its
// lines joined by CR LF), showing "正在执行升级脚本(k/N)..." and advancing the progress bar
// after each. No transaction:
// blocks that ran stay applied. A file that is not valid UTF-8 is read as GB18030; a leading
// UTF-8 byte-order mark is skipped. Memory holds one line and the block being collected,
// whatever the file's size. After a block has run its lines are dropped, so a second end
// marker never runs them again.
// True when the whole file was processed. On the first failure (file unreadable, a block
// refused) shows "执行升级脚本失败(name)！" with the last block name read and returns false.
// Throws KxError only for errors before the file is opened (the progress display).
bool RunUpgradeScripts(UpgradeContext &context, bool ServerIsLocal);

} // namespace offline_upgrade
