#pragma once
// The main window in Qt: draws the controls and forwards their events to the window logic,
// which decides the states, holds the state of the program and starts the scan and the
// upgrade. It is the view through which the logic and the stages report.

#include "app/form/form_logic.h"
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

class QCloseEvent;
class QKeyEvent;

// The form's generated class stays where the form file puts it, outside the tool's namespace.
namespace Ui {
class TForm1;
}

namespace offline_upgrade {

class IHostIdentity;
class IRegistry;

class TForm1 : public QDialog, public IFormView {
    Q_OBJECT

    // First, so that the references to the logic's state below bind to a logic that exists.
    std::unique_ptr<Ui::TForm1> ui;
    IMessagePresenter &messages_;
    FormLogic logic_;

public:
    // The services are the logic's, as every face of the program gets them (app/start_up.h);
    // the boxes go through messages. Every object named must outlive the window.
    TForm1(FormServices services, IMessagePresenter &messages, QWidget *parent = nullptr);
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
    // On a thread of its own while this thread pumps (app/form/off_window_thread.h).
    void RunWhileAnswering(const std::function<void()> &work) override;
    void ShowMessage(const std::string &text, const std::string &caption,
                     MessageIcon icon) override;

    // Controls, as the logic sets and reads them.
    void SetVisible(FormControl control, bool visible) override;
    bool IsVisible(FormControl control) const override;
    void SetEnabled(FormControl control, bool enabled) override;
    bool IsEnabled(FormControl control) const override;
    void SetCaption(FormControl label, const std::string &text) override;
    std::string Caption(FormControl label) const override;
    void SetForceChecked(bool checked) override;
    bool IsForceChecked() const override;
    void RequestClose() override;

    // The scan's two states, as the scan sets them.
    void ShowNoPackage() { logic_.ShowNoPackage(); }
    void ShowPackage(const std::string &product, const std::string &currBuild,
                     const std::string &newBuild, const std::string &path)
    {
        logic_.ShowPackage(product, currBuild, newBuild, path);
    }

    // Asked before the window closes, whatever asked for the close.
    void FormCloseQuery(bool &CanClose) { logic_.FormCloseQuery(CanClose); }
    // A close has been granted: the window is closed, or closes once the scan has returned.
    bool CloseGranted() const { return logic_.CloseGranted(); }

    // The state of the program, held by the logic.
    T_PackageInfo &Package;
    T_ProductReg &Product;
    std::string &ComputerName;
    std::string &LocalIP;
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
    // Brings the step label's size and the progress bar up to date before the window paints.
    void PreparePaint();
    void ShowProgress();
    QWidget &Widget(FormControl control) const;

    int progressMax_ = 100;
    int progressPosition_ = 0;
    // Before this time Repaint leaves what is pending to be painted later.
    std::chrono::steady_clock::time_point nextPaint_{};
    // The step label has a new text and is not yet sized to it.
    bool stepSizePending_ = false;
};

} // namespace offline_upgrade
