#pragma once
// One upgrade of the installed product with the accepted package: unpack, connect, run the
// SQL blocks when the database server is this machine, copy the application files.

#include "upgrade/upgrade_context.h"

#include <string>

namespace offline_upgrade {

// Runs the stages in order and reports each through the window. True only when every stage
// succeeded; false after a stage failed (its message has been shown). Errors that no stage
// handles (the locality query, the file stage's own errors) leave as KxError. The database
// connection is closed on every path.
bool RunUpgrade(UpgradeContext &context, const std::string &PackageFile);

} // namespace offline_upgrade
