#include "package/package_scan.h"

#include "archiver/archiver_commands.h"
#include "archiver/archiver_wait.h"
#include "platform/diagnostics.h"
#include "platform/text.h"
#include "product/base64.h"
#include "product/secretkey.h"

#include <exception>
#include <optional>
#include <vector>

namespace {

// The key the products' own tools scramble a stored database password with.
const std::string kPasswordKey = "\x0B\x17\x02\x1C\x09\x12\x04\x1E\x0D\x15\x07\x19\x10\x03";

const std::string kMaker = "glenmarsh";

// Decodes the stored password in place: MySQL products keep it in Base64, the others scrambled.
void DecodePassword(int32_t dbType, T_ProductReg &product)
{
    if (dbType == 1)
        product.PassWord = DecodeBase64Text(product.PassWord);
    else
        product.PassWord = UnscramblePassword(product.PassWord, kPasswordKey);
}

// Clears the descriptor a previous entry or run left, so that a package the archiver writes no
// descriptor for cannot inherit another package's. Failures are left to the existence test.
void PrepareWorkFolder(IFileSystem &files, const std::string &workFolder,
                       const std::string &descriptor)
{
    if (files.DirectoryExists(workFolder)) {
        if (files.FileExists(descriptor))
            (void)files.RemoveFile(descriptor);
    } else {
        (void)files.ForceDirectories(workFolder);
    }
}

// How the archiver ended for the log: its exit code, and its own words when it said any.
std::string ArchiverOutcome(IProcesses &processes)
{
    const std::optional<int> code = processes.LastExitCode();
    std::string text = code ? "archiver exit code " + std::to_string(*code)
                            : std::string("archiver ended without exit code");
    const std::string said = TrimControl(processes.LastErrorOutput());
    if (!said.empty())
        text += " (it said: " + said + ")";
    return text;
}

std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

// Runs the archiver for one entry and applies the acceptance rules in their order. True when
// the entry is accepted; package and product then hold what it was accepted with. verdict
// says why, for the log.
bool ExamineEntry(ScanContext &context, const std::string &name, const std::string &descriptor,
                  T_PackageInfo &package, T_ProductReg &product, std::string &verdict)
{
    if (!context.Processes.Start(CommentCommandLine(context.ProgramFolder, name))) {
        verdict = "passed over: the archiver " + context.ProgramFolder + kArchiverImageName +
                  " cannot be started";
        return false;
    }
    if (!WaitForArchiver(context.Processes, context.Window, context.CommentWaitLimit)) {
        // A damaged or hostile file, or a hung archiver: the window must still show.
        const bool ended = context.Processes.EndLast();
        LogError("the archiver did not write the comment of " + name + " within " +
                 std::to_string(context.CommentWaitLimit.count()) + " ms; " +
                 (ended ? "ended it" : "could not end it") + ", the package is passed over");
        verdict = "passed over: the archiver hung";
        return false;
    }
    verdict = ArchiverOutcome(context.Processes) + "; ";
    if (!context.Files.FileExists(descriptor)) {
        verdict += "passed over: no descriptor (the archive has no comment or cannot be read)";
        return false;
    }

    package = ReadPackageDescriptor(descriptor);
    if (package.corp != kMaker) {
        verdict += "passed over: maker " + Quoted(package.corp) + " is not accepted";
        return false;
    }

    ReadProductReg(context.Registry, package.RegValue, product);
    // Decoded before the registration rule, as the record is kept in clear text from here on.
    DecodePassword(package.DbType, product);
    if (product.ProductCode.empty()) {
        verdict += "passed over: product " + Quoted(package.RegValue) +
                   " is not registered on this machine";
        return false;
    }
    if (package.Version != product.Version) {
        verdict += "passed over: version " + Quoted(package.Version) +
                   " differs from the installed version " + Quoted(product.Version);
        return false;
    }
    const int order = OrdinalCompare(package.Build, product.Build);
    if (order < 0) {
        verdict += "passed over: build " + Quoted(package.Build) +
                   " is not newer than the installed build " + Quoted(product.Build);
        return false;
    }
    if (order == 0)
        verdict += "accepted for product " + Quoted(package.RegValue) + ": build " +
                   Quoted(package.Build) +
                   " is the installed build, so it applies again only with the force box checked";
    else
        verdict += "accepted for product " + Quoted(package.RegValue) + ": build " +
                   Quoted(package.Build) + " over the installed build " + Quoted(product.Build);
    return true;
}

void ScanProgramFolder(ScanContext &context, T_PackageInfo &Package, T_ProductReg &Product)
{
    context.Files.SetCurrentDir(context.ProgramFolder);

    std::vector<FolderEntry> entries;
    if (!context.Files.ListFolder(context.ProgramFolder, "*.zip", entries)) {
        LogError("scan: cannot list the packages of " + context.ProgramFolder);
        return;
    }
    LogInfo("scan: " + std::to_string(entries.size()) + " packages in " + context.ProgramFolder);

    const std::string workFolder = context.ProgramFolder + "TempUpdate";
    const std::string descriptor = workFolder + "/Update.ini";
    for (const FolderEntry &entry : entries) {
        PrepareWorkFolder(context.Files, workFolder, descriptor);

        T_PackageInfo package;
        T_ProductReg product;
        bool accepted = false;
        std::string verdict;
        try {
            accepted = ExamineEntry(context, entry.Name, descriptor, package, product, verdict);
        } catch (const std::exception &error) {
            // A package that cannot be examined is passed over like one that does not fit.
            verdict += std::string("passed over: it cannot be examined: ") + error.what();
            accepted = false;
        }
        LogInfo("scan: " + entry.Name + ": " + verdict);
        if (!accepted)
            continue;

        Package = package;
        Package.PackagePath = context.ProgramFolder;
        Package.PackageName = entry.Name;
        Product = product;
        context.View.ShowPackage(Package.Soft, Product.Build, Package.Build,
                                 Package.PackagePath + Package.PackageName);
        return;
    }
    LogInfo("scan: no package fits a product installed on this machine");
}

} // namespace

void FindUpgradePackage(ScanContext &context, T_PackageInfo &Package, T_ProductReg &Product)
{
    context.View.ShowNoPackage();
    Package = T_PackageInfo{};
    Product = T_ProductReg{};
    context.Window.ProcessMessages();

    const std::string saved = context.Files.GetCurrentDir();
    try {
        ScanProgramFolder(context, Package, Product);
    } catch (...) {
        // The caller hears of the first failure; the directory is put back all the same.
        try {
            context.Files.SetCurrentDir(saved);
        } catch (...) {
        }
        throw;
    }
    context.Files.SetCurrentDir(saved);
}
