#pragma once
// What the main window decides, apart from how it is drawn: the three states, the force check
// box rule, the re-entry rules, the refused close and the default error report, and the calls
// into the scan and the upgrade run. Each window (a toolkit's or the system's own) is a view:
// it draws the controls, keeps their state, and forwards its events to the handlers here.

#include "package/package_info.h"
#include "package/package_scan.h"
#include "platform/data_access.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/window_facilities.h"
#include "product/product_reg.h"
#include "upgrade/upgrade_context.h"

#include <functional>
#include <string>
#include <utility>

namespace offline_upgrade {

class IHostIdentity;
class IRegistry;

// Names the program; also the caption of the default error report.
inline const char kApplicationTitle[] = "朔岱产品离线升级程序";
// The caption of the window.
inline const char kWindowCaption[] = "朔岱产品升级程序";

// The controls whose state the logic reads or sets.
enum class FormControl {
    BtnUpdate,
    Btn_refresh,
    BtnClose,
    CheckBox_Force,
    Lab_NoPackage,
    P_Update,
    Lab_Product,
    Lab_CurrBuild,
    Lab_NewBuild,
    Lab_Path,
    Lab_CurrentStep,
    ProgressBar,
};

// A drawn window as the logic sees it. The view holds the controls' state; reads return what
// the control shows now. Besides the window facilities of the stages, it has the few
// operations the states need.
class IFormView : public IWindowFacilities {
public:
    virtual void SetVisible(FormControl control, bool visible) = 0;
    virtual bool IsVisible(FormControl control) const = 0;
    virtual void SetEnabled(FormControl control, bool enabled) = 0;
    virtual bool IsEnabled(FormControl control) const = 0;
    // The caption of a label. The step label's goes through SetStepText.
    virtual void SetCaption(FormControl label, const std::string &text) = 0;
    virtual std::string Caption(FormControl label) const = 0;
    // CheckBox_Force. Setting it does not call CheckBox_ForceClick: the logic does that.
    virtual void SetForceChecked(bool checked) = 0;
    virtual bool IsForceChecked() const = 0;
    // Asks the window to close, as the close button of the title bar does; the view asks
    // FormCloseQuery and closes only when it allows.
    virtual void RequestClose() = 0;
};

// The upgrade with the accepted package: true on success, false after a failure it has
// reported itself. May throw; the window then shows the default error report.
using UpgradeRunner = std::function<bool(UpgradeContext &context, const std::string &PackageFile)>;

// What the window works with. Every object named here must outlive the logic.
struct FormServices {
    std::string ProgramFolder; // with a trailing separator
    IFileSystem &Files;
    IProcesses &Processes;
    IRegistry &Registry;
    IHostIdentity &Host;
    IConnection &tempConnection;
    IQuery &ADOQuery;
    ICommand &updataExec;
    UpgradeRunner RunUpgrade;
};

// How the last upgrade that the upgrade button started ended. A press that starts none (the
// button disabled, a scan or an upgrade running) changes nothing.
enum class UpgradeOutcome {
    NotRun,    // no upgrade has run yet
    Succeeded, // "升级成功！" was shown
    Failed,    // "升级失败！" was shown
    Error,     // an error left the run and the default error report was shown
};

// The state of the program and the six handlers. The view forwards: the window's creation to
// FormCreate, a click of each button to its handler, a change of the check box made by the
// user to CheckBox_ForceClick, and every close request to FormCloseQuery.
class FormLogic : public IScanView {
public:
    FormLogic(FormServices services, IFormView &view);

    void FormCreate();
    void BtnCloseClick();
    void CheckBox_ForceClick();
    void BtnUpdateClick();
    void Btn_refreshClick();
    void FormCloseQuery(bool &CanClose);

    // What the view does with every close request (the title bar's close, RequestClose): true
    // when it closes now. FormCloseQuery decides; a close it grants while a scan runs is put
    // off, and the window stays, until the scan has returned: then the logic asks the view to
    // close again (RequestClose), and this grants it.
    bool CloseRequested();
    // A close has been granted: the window is closed and the program ends.
    bool CloseGranted() const { return closeGranted_; }

    // Scan view: the no-package and package-found states.
    void ShowNoPackage() override;
    void ShowPackage(const std::string &product, const std::string &currBuild,
                     const std::string &newBuild, const std::string &path) override;

    // A scan or an upgrade is running.
    bool ScanRunning() const { return scanRunning_; }
    bool UpgradeRunning() const { return upgradeRunning_; }
    UpgradeOutcome LastUpgrade() const { return lastUpgrade_; }

    // Limits every later scan to the package file of this name in the program folder (no
    // folder part); empty: every "*.zip" entry, as the window scans.
    void ScanOnly(std::string packageName) { onlyPackage_ = std::move(packageName); }

    T_PackageInfo Package;
    T_ProductReg Product;
    std::string ComputerName;
    std::string LocalIP;
    IConnection &tempConnection;
    IQuery &ADOQuery;
    ICommand &updataExec;

private:
    void FindUpgradePackage();
    // After a scan has returned: the close put off during it.
    void CloseIfPutOff();
    // Runs a handler's work; a failure that leaves it is shown as the default error report.
    void RunHandler(const std::function<void()> &work);
    void EnterUpgradeRunning();
    void LeaveUpgradeRunning();

    FormServices services_;
    IFormView &view_;
    // Handlers reached through the message pump while one of these runs must not start a
    // second one.
    bool scanRunning_ = false;
    bool upgradeRunning_ = false;
    UpgradeOutcome lastUpgrade_ = UpgradeOutcome::NotRun;
    bool closePutOff_ = false;
    bool closeGranted_ = false;
    std::string onlyPackage_;
};

} // namespace offline_upgrade
