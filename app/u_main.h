#pragma once
// The main window: shows the upgrade package found for the installed product, starts the
// upgrade, scans the program folder again on request and refuses to close while an upgrade
// runs. It holds the state of the program, and it is the window facilities and the scan view
// through which the logic reports.

#include "app/message_box.h"
#include "package/package_info.h"
#include "package/package_scan.h"
#include "platform/data_access.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/window_facilities.h"
#include "product/product_reg.h"
#include "upgrade/upgrade_context.h"

#include <QDialog>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class IHostIdentity;
class IRegistry;
class QCloseEvent;
class QKeyEvent;

namespace Ui {
class TForm1;
}

// Names the program; also the caption of the default error report.
inline const char kApplicationTitle[] = "朔岱产品离线升级程序";

// The upgrade with the accepted package: true on success, false after a failure it has
// reported itself. May throw; the window then shows the default error report.
using UpgradeRunner = std::function<bool(UpgradeContext &context, const std::string &PackageFile)>;

// What the window works with. Every object named here must outlive the window.
struct TForm1Services {
    std::string ProgramFolder; // with a trailing separator
    IFileSystem &Files;
    IProcesses &Processes;
    IRegistry &Registry;
    IHostIdentity &Host;
    IConnection &tempConnection;
    IQuery &ADOQuery;
    ICommand &updataExec;
    IMessagePresenter &Messages;
    UpgradeRunner RunUpgrade;
};

class TForm1 : public QDialog, public IWindowFacilities, public IScanView {
    Q_OBJECT

public:
    explicit TForm1(TForm1Services services, QWidget *parent = nullptr);
    ~TForm1() override;

    // Window facilities.
    void SetStepText(const std::string &text) override;
    std::string StepText() const override;
    void SetProgressMax(int maximum) override;
    int ProgressMax() const override { return progressMax_; }
    void SetProgressPosition(int position) override;
    int ProgressPosition() const override { return progressPosition_; }
    void ProcessMessages() override;
    // Paints at once what is pending (only the parts that changed), unless the window was
    // painted less than kRepaintInterval ago: then it stays pending for the next repaint, the
    // message pump or the next box, whichever comes first. A stage that repaints after every
    // one of thousands of small files would otherwise spend most of its time painting.
    void Repaint() override;
    static constexpr std::chrono::milliseconds kRepaintInterval{10};
    void ShowMessage(const std::string &text, const std::string &caption,
                     MessageIcon icon) override;

    // Scan view.
    void ShowNoPackage() override;
    void ShowPackage(const std::string &product, const std::string &currBuild,
                     const std::string &newBuild, const std::string &path) override;

    // Asked before the window closes, whatever asked for the close.
    void FormCloseQuery(bool &CanClose);

    T_PackageInfo Package;
    T_ProductReg Product;
    std::string ComputerName;
    std::string LocalIP;
    IConnection &tempConnection;
    IQuery &ADOQuery;
    ICommand &updataExec;

public slots:
    // Runs once, after construction and before the window is first shown: this machine's
    // address and name, then the first scan.
    void FormCreate();
    void BtnCloseClick();
    void CheckBox_ForceClick();
    void BtnUpdateClick();
    void Btn_refreshClick();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    // Escape: the window has no cancel button, so the key does nothing.
    void reject() override;
    // Enter presses the button that has the focus, and does nothing elsewhere.
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FindUpgradePackage();
    // Brings the step label's size and the progress bar up to date before the window paints.
    void PreparePaint();
    // Runs a handler's work; a failure that leaves it is shown as the default error report.
    void RunHandler(const std::function<void()> &work);
    void ShowProgress();

    std::unique_ptr<Ui::TForm1> ui;
    TForm1Services services_;
    int progressMax_ = 100;
    int progressPosition_ = 0;
    // Before this time Repaint leaves what is pending to be painted later.
    std::chrono::steady_clock::time_point nextPaint_{};
    // The step label has a new text and is not yet sized to it.
    bool stepSizePending_ = false;
    // A scan or an upgrade is running; handlers reached through the message pump meanwhile
    // must not start a second one.
    bool scanRunning_ = false;
    bool upgradeRunning_ = false;
};
