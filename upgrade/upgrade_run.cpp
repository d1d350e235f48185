#include "upgrade/upgrade_run.h"

#include "archiver/archiver_commands.h"
#include "archiver/archiver_wait.h"
#include "package/package_signature.h"
#include "platform/diagnostics.h"
#include "platform/text.h"
#include "upgrade/database_connection.h"
#include "upgrade/file_update.h"
#include "upgrade/script_runner.h"
#include "upgrade/stage_log.h"

#include <exception>
#include <memory>

namespace offline_upgrade {

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

// The verified copy of a signed package in the work folder, removed when the unpack is over.
class VerifiedCopy {
public:
    explicit VerifiedCopy(IFileSystem &files) : files_(files) {}
    ~VerifiedCopy()
    {
        if (!path_.empty() && files_.FileExists(path_) && !files_.RemoveFile(path_))
            LogError("unpack: cannot remove the verified copy " + path_);
    }
    VerifiedCopy(const VerifiedCopy &) = delete;
    VerifiedCopy &operator=(const VerifiedCopy &) = delete;

    // Reads the package once, verifying its signature and writing every byte read into a new
    // file of the work folder. True when the signature verifies and the bytes are those the
    // scan verified; the archiver then unpacks the copy, never the package file, which anyone
    // who may write the program folder could swap meanwhile. The copy is made new (no link
    // followed, no other user may change it) in the folder the unpacked files go to, which the
    // later stages trust all the same.
    bool Make(UpgradeContext &context, const std::string &packageFile, const std::string &copy)
    {
        if (!files_.RemoveTree(copy)) {
            LogError("unpack: cannot remove what an earlier run left at " + copy);
            return false;
        }
        std::unique_ptr<IFileWriter> writer = files_.CreateNewFile(copy);
        if (!writer)
            return false;
        path_ = copy;
        const SignatureCheck check = VerifyPackageSignature(
            files_, packageFile, ParsePackageKeys(context.Product.PackageKey),
            {[&] { context.Window.ProcessMessages(); }, writer.get()});
        const bool closed = writer->Close();
        if (!check.Good()) {
            LogError("unpack: " + packageFile + " is not unpacked: " +
                     SignatureVerdictText(check.Verdict) + ": " + check.Detail);
            return false;
        }
        if (check.Digest != context.Package.SignedDigest) {
            LogError("unpack: " + packageFile +
                     " is not unpacked: its bytes changed since the scan verified it (" +
                     check.Detail + ")");
            return false;
        }
        if (!closed)
            return false;
        LogInfo("unpack: " + packageFile + " verified again: " + check.Detail +
                "; the archiver unpacks the copy " + copy);
        return true;
    }

private:
    IFileSystem &files_;
    std::string path_;
};

// Starts the archiver on the package and waits for it. True only when the archiver this run
// started has ended with success (a damaged or wrongly encrypted package must not pass as
// unpacked) and the package's own folder is there: a package renamed on the way (a browser's
// "ABC_5.1.2 (1).zip") still holds "ABC_5.1.2/", and would otherwise do nothing and succeed.
bool UnpackPackage(UpgradeContext &context, const std::string &packageFile)
{
    // The work folder must be the program folder's own: a link or junction there would move
    // the unpack, and everything the run writes after it, wherever it leads.
    const std::string work = context.ProgramFolder + "TempUpdate";
    const EntryKind workKind = context.Files.KindOf(work);
    if (workKind != EntryKind::Folder && workKind != EntryKind::Missing) {
        LogError("the work folder " + work + " is not a folder of the program folder (" +
                 (workKind == EntryKind::Link ? "a link" : "a file") + "); nothing is unpacked");
        return false;
    }
    // Files an earlier run, or an earlier package of the same file name, left in the package's
    // own folder must never reach the database or the product folder.
    const std::string unpacked = UnpackedPackageFolder(context);
    if (!unpacked.empty() && !context.Files.RemoveTree(unpacked)) {
        LogError("cannot remove what an earlier unpack left in " + unpacked);
        return false;
    }
    // A work folder that cannot be made shows as the archiver's failure below.
    (void)context.Files.ForceDirectories(context.ProgramFolder + "TempUpdate");

    // A product that pins keys has only the bytes verified unpacked.
    std::string archive = packageFile;
    VerifiedCopy copy(context.Files);
    if (!context.Product.PackageKey.empty()) {
        if (unpacked.empty()) {
            LogError("the package " + packageFile + " leaves no folder named like its file");
            return false;
        }
        archive = context.ProgramFolder + "TempUpdate/" + context.Package.PackageName;
        if (!copy.Make(context, packageFile, archive))
            return false;
    }

    LogInfo("unpack: " + MaskedExtractCommandLine(context.ProgramFolder, archive));
    if (!context.Processes.Start(ExtractCommandLine(context.ProgramFolder, archive))) {
        LogError("unpack: the archiver cannot be started");
        return false;
    }
    WaitForArchiverWithProgress(context.Processes, context.Window);
    // The process list may stop showing the archiver a moment before it is reaped; its exit
    // code is what tells whether the package was applied whole.
    while (!context.Processes.LastHasEnded()) {
        context.Processes.Sleep(5);
        context.Window.ProcessMessages();
    }
    const auto exitCode = context.Processes.LastExitCode();
    const std::string said = TrimControl(context.Processes.LastErrorOutput());
    const std::string outcome = "unpack: the archiver " +
                                (exitCode ? "ended with exit code " + std::to_string(*exitCode)
                                          : std::string("did not end normally (no exit code)")) +
                                (said.empty() ? std::string() : "; it said: " + said);
    if (!exitCode || *exitCode != 0) {
        LogError(outcome);
        return false;
    }
    LogInfo(outcome);
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
    LogInfo("upgrade of " + context.Product.ProductCode + " (" + context.Package.Soft +
            ") from build " + context.Product.Build + " to " + context.Package.Build + " with " +
            PackageFile + "; product folder " + context.Product.Path);
    // Its end is the run's result.
    StageLog run("upgrade");
    ConnectionCloser closer(context.tempConnection);

    window.SetProgressMax(100);
    window.SetProgressPosition(0);
    window.SetStepText("正在解压缩升级包文件...");
    window.ProcessMessages();

    bool unpacked = false;
    {
        StageLog stage("unpack stage");
        try {
            unpacked = UnpackPackage(context, PackageFile);
        } catch (const std::exception &error) {
            LogError(std::string("unpack: ") + error.what());
            unpacked = false;
        }
        stage.Done(unpacked);
    }
    if (!unpacked) {
        window.ShowMessage("解压缩升级包文件失败！", kNoticeCaption, MessageIcon::Error);
        return run.Done(false);
    }

    if (!ConnectProductDatabase(context))
        return run.Done(false);

    const bool serverIsLocal =
        IsDatabaseServerLocal(context, context.Package.DbType, context.Product.ServerName);
    // No block may run when the files cannot follow: the database would be left a build ahead
    // of the product's files. This fails as the file stage does.
    if (!CheckUpdateFiles(context)) {
        LogError("file checks: failed before any block ran");
        window.SetStepText("更新文件失败");
        return run.Done(false);
    }
    if (!RunUpgradeScripts(context, serverIsLocal))
        return run.Done(false);

    if (CopyUpdateFiles(context)) {
        window.SetStepText("更新文件完成");
        if (!serverIsLocal) {
            // Not a failure, but nothing said so: an engine's report must not read it as a
            // whole upgrade of this product's database.
            LogInfo("upgrade: the SQL blocks did not run: the database server " +
                    context.Product.ServerName +
                    " is another machine (the locality rule); only the files were upgraded here");
            window.Remark(kScriptsLeftToServerText);
        }
        return run.Done(true);
    }
    window.SetStepText("更新文件失败");
    return run.Done(false);
}

} // namespace offline_upgrade
