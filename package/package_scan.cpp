#include "package/package_scan.h"

#include "package/package_signature.h"

#include "archiver/archiver_commands.h"
#include "archiver/archiver_wait.h"
#include "archiver/work_folder.h"
#include "platform/diagnostics.h"
#include "platform/text.h"
#include "product/base64.h"
#include "product/secretkey.h"

#include <exception>
#include <optional>
#include <set>
#include <vector>

namespace offline_upgrade {

namespace {

// The key the products' own tools scramble a stored database password with.
const std::string kPasswordKey = "\x0B\x17\x02\x1C\x09\x12\x04\x1E\x0D\x15\x07\x19\x10\x03";

// Decodes the stored password in place: MySQL products keep it in Base64, the others scrambled.
void DecodePassword(int32_t dbType, T_ProductReg &product)
{
    if (dbType == kDbTypeMySql)
        product.PassWord = DecodeBase64Text(product.PassWord);
    else
        product.PassWord = UnscramblePassword(product.PassWord, kPasswordKey);
}

// Clears the descriptor a previous entry or run left, so that a package the archiver writes no
// descriptor for cannot inherit another package's. Whatever stands in its place goes: an
// unpack may have put a package's entry there, file or folder, and a folder would keep the
// archiver from ever writing a descriptor again. Failures are left to the existence test.
void PrepareWorkFolder(IFileSystem &files, const std::string &workFolder,
                       const std::string &descriptor)
{
    if (files.DirectoryExists(workFolder)) {
        if (files.DirectoryExists(descriptor))
            LogWarning("scan: a folder stands where the descriptor file " + descriptor +
                       " goes; it is removed");
        (void)files.RemoveTree(descriptor);
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

// The verdict on one entry as the log says it: the rule with the values it compared.
std::string VerdictReason(ScanVerdict verdict, const T_PackageInfo &package,
                          const T_ProductReg &product, const SignatureCheck &signature)
{
    switch (verdict) {
    case ScanVerdict::ArchiverNotStarted:
    case ScanVerdict::ArchiverHung:
    case ScanVerdict::Error:
        return std::string("passed over: ") + ScanVerdictText(verdict);
    case ScanVerdict::NoDescriptor:
        return "passed over: no descriptor (the archive has no comment or cannot be read)";
    case ScanVerdict::MakerNotAccepted:
        return "passed over: maker " + Quoted(package.corp) + " is not accepted";
    case ScanVerdict::NotRegistered:
        return "passed over: product " + Quoted(package.RegValue) +
               " is not registered on this machine";
    case ScanVerdict::VersionDiffers:
        return "passed over: version " + Quoted(package.Version) +
               " differs from the installed version " + Quoted(product.Version);
    case ScanVerdict::BuildOlder:
        return "passed over: build " + Quoted(package.Build) +
               " is not newer than the installed build " + Quoted(product.Build);
    case ScanVerdict::NotSigned:
        return "passed over: product " + Quoted(package.RegValue) +
               " takes only signed packages: " + signature.Detail;
    case ScanVerdict::Accepted: {
        const std::string signedBy = signature.Good() ? "; " + signature.Detail : std::string();
        if (!UpgradeAllowed(package.Build, product.Build, false))
            return "accepted for product " + Quoted(package.RegValue) + ": build " +
                   Quoted(package.Build) +
                   " is the installed build, so it applies again only with the force box checked" +
                   signedBy;
        return "accepted for product " + Quoted(package.RegValue) + ": build " +
               Quoted(package.Build) + " over the installed build " + Quoted(product.Build) +
               signedBy;
    }
    }
    return ScanVerdictText(verdict);
}

// Runs the archiver for one entry and applies the acceptance rules in their order, then, for a
// product that pins keys, the signature. Accepted leaves in package and product what the entry
// was accepted with.
ScanVerdict ExamineEntry(ScanContext &context, const std::string &name,
                         const std::string &descriptor, T_PackageInfo &package,
                         T_ProductReg &product, SignatureCheck &signature)
{
    if (!context.Processes.Start(CommentCommandLine(context.ProgramFolder, name)))
        return ScanVerdict::ArchiverNotStarted;
    if (!WaitForArchiver(context.Processes, context.Window, context.CommentWaitLimit)) {
        // A damaged or hostile file, or a hung archiver: the window must still show.
        const bool ended = context.Processes.EndLast();
        LogError("the archiver did not write the comment of " + name + " within " +
                 std::to_string(context.CommentWaitLimit.count()) + " ms; " +
                 (ended ? "ended it" : "could not end it") + ", the package is passed over");
        return ScanVerdict::ArchiverHung;
    }
    if (!context.Files.FileExists(descriptor))
        return ScanVerdict::NoDescriptor;

    package = ReadPackageDescriptor(descriptor);
    const ScanVerdict verdict = ApplyAcceptanceRules(package, context.Registry, product);
    if (verdict != ScanVerdict::Accepted || product.PackageKey.empty())
        return verdict;
    const PackageKeyList keys = ParsePackageKeys(product.PackageKey);
    if (!keys.Unusable.empty())
        LogError("scan: the PackageKey of product " + Quoted(package.RegValue) +
                 " holds parts that are no minisign public key, which are ignored: " + [&] {
                     std::string list;
                     for (const std::string &part : keys.Unusable)
                         list += (list.empty() ? "" : ", ") + Quoted(part);
                     return list;
                 }());
    // The window stays responsive while a large package is read.
    signature = VerifyPackageSignature(context.Files, context.ProgramFolder + name, keys,
                                       {[&] { context.Window.ProcessMessages(); }});
    if (!signature.Good())
        return ScanVerdict::NotSigned;
    package.SignedDigest = signature.Digest;
    return ScanVerdict::Accepted;
}

// Whether the registration of the entry's product was read and found installed.
bool ProductFound(ScanVerdict verdict)
{
    return verdict == ScanVerdict::VersionDiffers || verdict == ScanVerdict::BuildOlder ||
           verdict == ScanVerdict::NotSigned || verdict == ScanVerdict::Accepted;
}

} // namespace

const char *ScanVerdictText(ScanVerdict verdict)
{
    switch (verdict) {
    case ScanVerdict::ArchiverNotStarted:
        return "the archiver could not be started";
    case ScanVerdict::ArchiverHung:
        return "the archiver did not end in time";
    case ScanVerdict::NoDescriptor:
        return "no descriptor";
    case ScanVerdict::MakerNotAccepted:
        return "maker not accepted";
    case ScanVerdict::NotRegistered:
        return "product not registered";
    case ScanVerdict::VersionDiffers:
        return "version differs";
    case ScanVerdict::BuildOlder:
        return "build older than the installed one";
    case ScanVerdict::NotSigned:
        return "signature not accepted";
    case ScanVerdict::Error:
        return "error while examining the package";
    case ScanVerdict::Accepted:
        return "accepted";
    }
    return "?";
}

ScanVerdict ApplyAcceptanceRules(const T_PackageInfo &package, IRegistry &registry,
                                 T_ProductReg &product)
{
    if (package.corp != kPackageMaker)
        return ScanVerdict::MakerNotAccepted;
    ReadProductReg(registry, package.RegValue, product);
    // Decoded before the registration rule, as the record is kept in clear text from here on.
    DecodePassword(package.DbType, product);
    if (product.ProductCode.empty())
        return ScanVerdict::NotRegistered;
    if (package.Version != product.Version)
        return ScanVerdict::VersionDiffers;
    if (OrdinalCompare(package.Build, product.Build) < 0)
        return ScanVerdict::BuildOlder;
    return ScanVerdict::Accepted;
}

bool UpgradeAllowed(const std::string &newBuild, const std::string &currBuild, bool forceChecked)
{
    const int order = OrdinalCompare(newBuild, currBuild);
    return forceChecked ? order >= 0 : order != 0;
}

namespace {

void ScanProgramFolder(ScanContext &context, T_PackageInfo &Package, T_ProductReg &Product)
{
    context.Files.SetCurrentDir(context.ProgramFolder);

    std::vector<FolderEntry> entries;
    if (!context.Files.ListFolder(context.ProgramFolder, "*.zip", entries)) {
        LogError("scan: cannot list the packages of " + context.ProgramFolder);
        return;
    }
    LogInfo("scan: " + std::to_string(entries.size()) + " packages in " + context.ProgramFolder);

    const std::string workFolder = context.ProgramFolder + kWorkFolderName;
    const std::string descriptor = workFolder + "/" + kDescriptorFileName;
    std::set<std::string> unverifiedTold;
    for (const FolderEntry &entry : entries) {
        if (!context.OnlyPackage.empty() && entry.Name != context.OnlyPackage)
            continue;
        // Its upgrade would remove and fill a folder of that name in the work folder.
        const std::string nameProblem = UnpackFolderProblem(entry.Name);
        if (!nameProblem.empty()) {
            LogInfo("scan: " + entry.Name + ": passed over: " + nameProblem);
            continue;
        }
        PrepareWorkFolder(context.Files, workFolder, descriptor);

        T_PackageInfo package;
        T_ProductReg product;
        SignatureCheck signature;
        ScanVerdict verdict = ScanVerdict::Error;
        std::string failure;
        try {
            verdict = ExamineEntry(context, entry.Name, descriptor, package, product, signature);
        } catch (const std::exception &error) {
            // A package that cannot be examined is passed over like one that does not fit.
            verdict = ScanVerdict::Error;
            failure = std::string(": ") + error.what();
        }
        // The archiver's outcome is known once it has run, whatever the rules then said.
        const bool archiverRan =
            verdict != ScanVerdict::ArchiverNotStarted && verdict != ScanVerdict::ArchiverHung;
        LogInfo("scan: " + entry.Name + ": " +
                (archiverRan ? ArchiverOutcome(context.Processes) + "; " : std::string()) +
                VerdictReason(verdict, package, product, signature) + failure);
        if (ProductFound(verdict) && product.PackageKey.empty() &&
            unverifiedTold.insert(package.RegValue).second)
            LogInfo("scan: packages for product " + Quoted(package.RegValue) +
                    " are not verified: its registration has no PackageKey");
        if (verdict != ScanVerdict::Accepted)
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

} // namespace offline_upgrade
