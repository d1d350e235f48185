#pragma once
// The package scan: looks through the program folder for upgrade packages and accepts the
// first one that fits a product installed on this machine.

#include "package/package_info.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/window_facilities.h"
#include "product/product_reg.h"

#include <chrono>
#include <string>

namespace offline_upgrade {

class IRegistry;

// How long the scan waits for the archiver to write the comment of one package. Generous: a
// sound package takes a fraction of a second, even on a slow share.
inline constexpr std::chrono::milliseconds kCommentWaitLimit{30000};

// The maker text a package must carry in its key "corp", byte for byte.
inline const std::string kPackageMaker = "glenmarsh";

// Why the scan accepted a package or passed it over, in the order the rules are applied.
enum class ScanVerdict {
    ArchiverNotStarted, // the comment command could not be started
    ArchiverHung,       // the archiver did not end within the wait limit
    NoDescriptor,       // no descriptor file after the archiver ended
    MakerNotAccepted,   // corp is not kPackageMaker
    NotRegistered,      // no product registered under RegValue
    VersionDiffers,     // Version is not the installed Version
    BuildOlder,         // Build sorts below the installed Build
    NotSigned,          // the product has a PackageKey and the signature does not verify
    Error,              // an error while the package was examined
    Accepted,
};

// A short English text for a verdict, for reports and logs.
const char *ScanVerdictText(ScanVerdict verdict);

// The rules the scan applies to a package's descriptor, in their order: the maker rule, then
// the registration of the product named by RegValue is read into product and its stored
// password decoded (1: Base64, any other DbType: unscrambled), then the registration, version
// and build rules. Returns the first rule that fails, or Accepted. Throws what ReadProductReg
// throws (the scan counts that as Error).
ScanVerdict ApplyAcceptanceRules(const T_PackageInfo &package, IRegistry &registry,
                                 T_ProductReg &product);

// Whether 升级 may be pressed for an accepted package, by the force check box rule: checked,
// when the package's build does not sort below the installed one; unchecked, when the two
// builds differ. So a package of the installed build needs 强制升级 checked.
bool UpgradeAllowed(const std::string &newBuild, const std::string &currBuild, bool forceChecked);

// The controls the scan writes. The main window implements it.
class IScanView {
public:
    virtual ~IScanView() = default;
    // The no-package state: Lab_NoPackage shown, P_Update hidden, BtnUpdate disabled, the
    // captions of the four value labels empty. CheckBox_Force is not changed.
    virtual void ShowNoPackage() = 0;
    // The package-found state, in this order: the captions of Lab_Product, Lab_CurrBuild,
    // Lab_NewBuild and Lab_Path; CheckBox_Force set checked (its click handler runs when that
    // changes it); BtnUpdate enabled; Lab_NoPackage hidden; P_Update shown.
    virtual void ShowPackage(const std::string &product, const std::string &currBuild,
                             const std::string &newBuild, const std::string &path) = 0;
};

struct ScanContext {
    std::string ProgramFolder; // with a trailing separator
    IScanView &View;
    IWindowFacilities &Window;
    IFileSystem &Files;
    IProcesses &Processes;
    IRegistry &Registry;
    // Past it the archiver this scan started is ended and the package passed over.
    std::chrono::milliseconds CommentWaitLimit = kCommentWaitLimit;
    // When not empty, the one entry of the listing that is examined (a name, no folder part);
    // every other entry is passed over as if it were not there.
    std::string OnlyPackage{};
};

// Puts the window into the no-package state, then examines the "*.zip" entries of the
// program folder and accepts the first that fits: Package and Product are filled and the view
// shows the package. An entry whose name leaves it no folder of its own in the work folder
// (UnpackFolderProblem) is passed over before the archiver sees it. When the product's
// PackageKey is set, a package that passes the rules is accepted only when its signature
// verifies (VerifyPackageSignature), and Package.SignedDigest holds the digest of the bytes
// verified; without it the log says once per scan and product that its packages are not
// verified. Errors while one entry is examined are absorbed. Throws KxError only when
// the working directory cannot be changed to the program folder or back.
void FindUpgradePackage(ScanContext &context, T_PackageInfo &Package, T_ProductReg &Product);

} // namespace offline_upgrade
