#include "upgrade/upgrade_run.h"

#include "archiver/archiver_commands.h"
#include "archiver/archiver_wait.h"
#include "platform/diagnostics.h"
#include "upgrade/database_connection.h"
#include "upgrade/file_update.h"
#include "upgrade/script_runner.h"

#include <exception>

namespace {

// Closes the product database connection whichever way the run ends.
class ConnectionCloser {
public:
    explicit ConnectionCloser(IConnection &connection) : connection_(connection) {}
    ~ConnectionCloser()
    {
        if (connection_.Connected())
            connection_.Close();
    }
    ConnectionCloser(const ConnectionCloser &) = delete;
    ConnectionCloser &operator=(const ConnectionCloser &) = delete;

private:
    IConnection &connection_;
};

// Starts the archiver on the package and waits for it. True only when the archiver this run
// started has ended with success (a damaged or wrongly encrypted package must not pass as
// unpacked) and the package's own folder is there: a package renamed on the way (a browser's
// "ABC_5.1.2 (1).zip") still holds "ABC_5.1.2/", and would otherwise do nothing and succeed.
bool UnpackPackage(UpgradeContext &context, const std::string &packageFile)
{
    // Files an earlier run, or an earlier package of the same file name, left in the package's
    // own folder must never reach the database or the product folder.
    const std::string unpacked = UnpackedPackageFolder(context);
    if (!unpacked.empty() && !context.Files.RemoveTree(unpacked))
        return false;
    context.Files.ForceDirectories(context.ProgramFolder + "TempUpdate");

    if (!context.Processes.Start(ExtractCommandLine(context.ProgramFolder, packageFile)))
        return false;
    WaitForArchiverWithProgress(context.Processes, context.Window);
    // The process list may stop showing the archiver a moment before it is reaped; its exit
    // code is what tells whether the package was applied whole.
    while (!context.Processes.LastHasEnded()) {
        context.Processes.Sleep(5);
        context.Window.ProcessMessages();
    }
    const auto exitCode = context.Processes.LastExitCode();
    if (!exitCode || *exitCode != 0)
        return false;
    if (unpacked.empty() || !context.Files.DirectoryExists(unpacked)) {
        LogError("the package " + packageFile + " holds no folder named like its file (" +
                 (unpacked.empty() ? std::string("none possible") : unpacked) + ")");
        return false;
    }
    return true;
}

} // namespace

bool RunUpgrade(UpgradeContext &context, const std::string &PackageFile)
{
    IWindowFacilities &window = context.Window;
    ConnectionCloser closer(context.tempConnection);

    window.SetProgressMax(100);
    window.SetProgressPosition(0);
    window.SetStepText("正在解压缩升级包文件...");
    window.ProcessMessages();

    bool unpacked = false;
    try {
        unpacked = UnpackPackage(context, PackageFile);
    } catch (const std::exception &) {
        unpacked = false;
    }
    if (!unpacked) {
        window.ShowMessage("解压缩升级包文件失败！", kNoticeCaption, MessageIcon::Error);
        return false;
    }

    if (!ConnectProductDatabase(context))
        return false;

    const bool serverIsLocal =
        IsDatabaseServerLocal(context, context.Package.DbType, context.Product.ServerName);
    // No block may run when the files cannot follow: the database would be left a build ahead
    // of the product's files. This fails as the file stage does.
    if (!CheckUpdateFiles(context)) {
        window.SetStepText("更新文件失败");
        return false;
    }
    if (!RunUpgradeScripts(context, serverIsLocal))
        return false;

    if (CopyUpdateFiles(context)) {
        window.SetStepText("更新文件完成");
        return true;
    }
    window.SetStepText("更新文件失败");
    return false;
}
