#include "app/form/form_logic.h"

#include "platform/codepage.h"
#include "platform/diagnostics.h"
#include "platform/text.h"
#include "upgrade/file_transaction.h"
#include "upgrade/local_machine.h"

#include <exception>

namespace offline_upgrade {

namespace {

// Restores a flag on every way out of a scope.
class FlagGuard {
public:
    explicit FlagGuard(bool &flag) : flag_(flag) { flag_ = true; }
    ~FlagGuard() { flag_ = false; }
    FlagGuard(const FlagGuard &) = delete;
    FlagGuard &operator=(const FlagGuard &) = delete;

private:
    bool &flag_;
};

} // namespace

FormLogic::FormLogic(FormServices services, IFormView &view)
    : tempConnection(services.tempConnection), ADOQuery(services.ADOQuery),
      updataExec(services.updataExec), services_(std::move(services)), view_(view)
{
}

void FormLogic::ShowNoPackage()
{
    view_.SetVisible(FormControl::Lab_NoPackage, true);
    view_.SetVisible(FormControl::P_Update, false);
    view_.SetEnabled(FormControl::BtnUpdate, false);
    for (FormControl label : {FormControl::Lab_Product, FormControl::Lab_CurrBuild,
                              FormControl::Lab_NewBuild, FormControl::Lab_Path})
        view_.SetCaption(label, "");
}

void FormLogic::ShowPackage(const std::string &product, const std::string &currBuild,
                            const std::string &newBuild, const std::string &path)
{
    view_.SetCaption(FormControl::Lab_Product, product);
    view_.SetCaption(FormControl::Lab_CurrBuild, currBuild);
    view_.SetCaption(FormControl::Lab_NewBuild, newBuild);
    // The path's bytes may be in the Chinese code page; the label shows them readable, and
    // the run takes them from Package, never back from the label.
    view_.SetCaption(FormControl::Lab_Path, ToUtf8(path));
    // The check box's handler runs for every change of its state, the program's too.
    if (!view_.IsForceChecked()) {
        view_.SetForceChecked(true);
        CheckBox_ForceClick();
    }
    view_.SetEnabled(FormControl::BtnUpdate, true);
    view_.SetVisible(FormControl::Lab_NoPackage, false);
    view_.SetVisible(FormControl::P_Update, true);
}

void FormLogic::RunHandler(const std::function<void()> &work)
{
    std::string failure;
    try {
        work();
        return;
    } catch (const std::exception &error) {
        failure = error.what();
    } catch (...) {
        failure = "未知错误";
    }
    LogError("default error report: " + failure);
    view_.ShowMessage(failure, kApplicationTitle, MessageIcon::Error);
}

void FormLogic::FindUpgradePackage()
{
    FlagGuard running(scanRunning_);
    ScanContext context{.ProgramFolder = services_.ProgramFolder,
                        .View = *this,
                        .Window = view_,
                        .Files = services_.Files,
                        .Processes = services_.Processes,
                        .Registry = services_.Registry,
                        .OnlyPackage = onlyPackage_};
    offline_upgrade::FindUpgradePackage(context, Package, Product);
}

void FormLogic::FormCreate()
{
    RunHandler([this] {
        // A file stage cut short (power loss, a killed process) left a journal: the product's
        // files are put back before anything looks at them. A journal that fails its check is
        // kept aside; it and any kept before are logged now, and the upgrade fails its checks.
        (void)RecoverFileStage(services_.Files, services_.ProgramFolder,
                               RegisteredFolderIn(services_.Registry));
        LocalIP = GetLocalIPAddress(services_.Host);
        ComputerName = GetLocalComputerName(services_.Host);
        FindUpgradePackage();
    });
    CloseIfPutOff();
}

void FormLogic::BtnCloseClick()
{
    view_.RequestClose();
}

void FormLogic::CheckBox_ForceClick()
{
    // The upgrade button stays disabled until the running upgrade has ended.
    if (upgradeRunning_)
        return;
    view_.SetEnabled(FormControl::BtnUpdate,
                     UpgradeAllowed(view_.Caption(FormControl::Lab_NewBuild),
                                    view_.Caption(FormControl::Lab_CurrBuild),
                                    view_.IsForceChecked()));
}

void FormLogic::EnterUpgradeRunning()
{
    view_.SetEnabled(FormControl::BtnUpdate, false);
    view_.SetVisible(FormControl::Lab_CurrentStep, true);
    view_.SetVisible(FormControl::ProgressBar, true);
    view_.SetEnabled(FormControl::Btn_refresh, false);
}

void FormLogic::LeaveUpgradeRunning()
{
    view_.SetVisible(FormControl::Lab_CurrentStep, false);
    view_.SetVisible(FormControl::ProgressBar, false);
    view_.SetEnabled(FormControl::BtnUpdate, true);
    view_.SetEnabled(FormControl::Btn_refresh, true);
}

void FormLogic::BtnUpdateClick()
{
    if (!view_.IsEnabled(FormControl::BtnUpdate) || upgradeRunning_ || scanRunning_)
        return;
    // Stays so unless the run returns a result.
    lastUpgrade_ = UpgradeOutcome::Error;
    RunHandler([this] {
        FlagGuard running(upgradeRunning_);
        EnterUpgradeRunning();
        // Leaves the upgrade-running state on every path, before an error is reported.
        struct Restore {
            FormLogic &logic;
            ~Restore() { logic.LeaveUpgradeRunning(); }
        } restore{*this};

        // From the package as the scan found it, byte for byte: a caption decoded for display
        // would not name the file any more.
        const std::string PackageFile = Package.PackagePath + Package.PackageName;
        UpgradeContext context{.ProgramFolder = services_.ProgramFolder,
                               .Package = Package,
                               .Product = Product,
                               .ComputerName = ComputerName,
                               .LocalIP = LocalIP,
                               .tempConnection = tempConnection,
                               .ADOQuery = ADOQuery,
                               .updataExec = updataExec,
                               .Window = view_,
                               .Files = services_.Files,
                               .Processes = services_.Processes,
                               .Registry = &services_.Registry};
        const bool upgraded = services_.RunUpgrade(context, PackageFile);
        lastUpgrade_ = upgraded ? UpgradeOutcome::Succeeded : UpgradeOutcome::Failed;
        if (upgraded)
            view_.ShowMessage("升级成功！", kNoticeCaption, MessageIcon::Information);
        else
            view_.ShowMessage("升级失败！", kNoticeCaption, MessageIcon::Error);
        // The files the stage kept go once the result is out, so that no one waits for them.
        FinishUpgrade(context);
    });
}

void FormLogic::Btn_refreshClick()
{
    if (scanRunning_ || upgradeRunning_)
        return;
    RunHandler([this] { FindUpgradePackage(); });
    CloseIfPutOff();
}

void FormLogic::CloseIfPutOff()
{
    if (!closePutOff_)
        return;
    closePutOff_ = false;
    view_.RequestClose();
}

void FormLogic::FormCloseQuery(bool &CanClose)
{
    // The progress bar is shown exactly while an upgrade runs.
    CanClose = !view_.IsVisible(FormControl::ProgressBar);
}

bool FormLogic::CloseRequested()
{
    bool CanClose = true;
    FormCloseQuery(CanClose);
    if (!CanClose)
        return false;
    // The scan is still on the stack, inside the pump that brought this request: the window
    // stays until it has returned, then closes.
    if (scanRunning_) {
        closePutOff_ = true;
        return false;
    }
    closeGranted_ = true;
    return true;
}

} // namespace offline_upgrade
