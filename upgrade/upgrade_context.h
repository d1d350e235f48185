#pragma once
// What the upgrade stages work with: the window's state and the services they reach it
// through. The window owns every object named here and outlives each run.

#include "package/package_info.h"
#include "platform/data_access.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/window_facilities.h"
#include "product/product_reg.h"

#include <functional>
#include <string>

namespace offline_upgrade {

class IRegistry;

struct UpgradeContext {
    std::string ProgramFolder; // with a trailing separator
    const T_PackageInfo &Package;
    const T_ProductReg &Product;
    const std::string &ComputerName;
    const std::string &LocalIP;
    IConnection &tempConnection;
    IQuery &ADOQuery;
    ICommand &updataExec;
    IWindowFacilities &Window;
    IFileSystem &Files;
    IProcesses &Processes;
    // Where the recovery of an earlier file stage looks up the product its journal was written
    // for, when that is not Product; none: only Product is known.
    IRegistry *Registry = nullptr;
    // What the run leaves until its result has been shown, so that no one waits for it: the
    // removal of the files a successful file stage kept. FinishUpgrade runs it.
    std::function<void()> AfterResult = {};
};

// Runs what the run left for after its result (once; nothing when it left nothing). A run
// never finished so leaves a journal that the next start finishes.
void FinishUpgrade(UpgradeContext &context);

// The folder a package unpacks into: the work folder, then the package file name without its
// last four characters (its ".zip"). Empty when that leaves no folder name of its own
// (UnpackFolderProblem), so no stage ever takes the work folder, the program folder or a file
// of the tool's for it.
std::string UnpackedPackageFolder(const UpgradeContext &context);
// The same for a package file name (without folder) in a program folder (with its separator).
std::string UnpackedPackageFolder(const std::string &programFolder, const std::string &packageName);

} // namespace offline_upgrade
