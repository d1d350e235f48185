#include "app/u_main.h"
#include "ui_u_main.h"

#include "app/pictures.h"
#include "platform/codepage.h"
#include "platform/text.h"
#include "upgrade/host_identity.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>
#include <exception>

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

QString Text(const std::string &text)
{
    return QString::fromStdString(text);
}

} // namespace

TForm1::TForm1(TForm1Services services, QWidget *parent)
    : QDialog(parent), tempConnection(services.tempConnection), ADOQuery(services.ADOQuery),
      updataExec(services.updataExec), ui(std::make_unique<Ui::TForm1>()),
      services_(std::move(services))
{
    ui->setupUi(this);

    // A fixed dialog: the title bar has only the close button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(488, 260);
    // The form gives 9 points, which is 12 pixels only at 96 dots per inch; the character
    // height is meant in pixels.
    QFont windowFont = font();
    windowFont.setPixelSize(12);
    setFont(windowFont);
    // These two labels are sized to their text, whatever face the system gives for the font.
    ui->Lab_NoPackage->adjustSize();
    ui->Lab_CurrentStep->adjustSize();

    // Labels show what the package and the registry hold, which is untrusted: markup in a
    // product name must show as the characters it is made of.
    for (QLabel *label : findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
    // No control has a default-button role: Enter on the check box must not start an
    // upgrade. keyPressEvent lets Enter press the button that has the focus.
    for (QPushButton *button : findChildren<QPushButton *>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    ui->Image1->setPixmap(GlobePicture());
    ui->BtnUpdate->setIcon(UpdateButtonIcon());
    ui->BtnUpdate->setIconSize(QSize(16, 16));
    ShowProgress();

    connect(ui->BtnClose, &QPushButton::clicked, this, &TForm1::BtnCloseClick);
    connect(ui->BtnUpdate, &QPushButton::clicked, this, &TForm1::BtnUpdateClick);
    connect(ui->Btn_refresh, &QPushButton::clicked, this, &TForm1::Btn_refreshClick);
    // Runs for every change of the state, also when the scan sets it.
    connect(ui->CheckBox_Force, &QCheckBox::toggled, this, &TForm1::CheckBox_ForceClick);
}

TForm1::~TForm1() = default;

void TForm1::SetStepText(const std::string &text)
{
    const QString caption = Text(text);
    if (caption == ui->Lab_CurrentStep->text())
        return;
    ui->Lab_CurrentStep->setText(caption);
    // Sizing the label to its text lays the text out, which takes longer than copying a small
    // file; it is done once, when the window next paints.
    stepSizePending_ = true;
}

std::string TForm1::StepText() const
{
    return ui->Lab_CurrentStep->text().toStdString();
}

void TForm1::SetProgressMax(int maximum)
{
    progressMax_ = std::max(maximum, 0);
    progressPosition_ = std::min(progressPosition_, progressMax_);
    ShowProgress();
}

void TForm1::SetProgressPosition(int position)
{
    progressPosition_ = std::clamp(position, 0, progressMax_);
    ShowProgress();
}

void TForm1::ShowProgress()
{
    QProgressBar &bar = *ui->ProgressBar;
    // A range of 0 to 0 would make the bar a busy indicator; an empty bar is meant.
    const int maximum = std::max(progressMax_, 1);
    if (bar.maximum() == maximum && bar.value() == progressPosition_)
        return;
    // The bar paints itself at once on every visible change of its value. Its paints wait for
    // the window's like the step label's: event() lets it paint again just before the window
    // paints, and the update asked for here makes sure that happens.
    if (bar.updatesEnabled()) {
        bar.setUpdatesEnabled(false);
        update(bar.geometry());
    }
    bar.setRange(0, maximum);
    bar.setValue(progressPosition_);
}

void TForm1::ProcessMessages()
{
    // An expose handled in the pump paints without going through event().
    PreparePaint();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TForm1::Repaint()
{
    const auto now = std::chrono::steady_clock::now();
    if (now < nextPaint_)
        return;
    PreparePaint();
    // Delivers only the window's pending paint request: what changed is painted, nothing else
    // is handled.
    QCoreApplication::sendPostedEvents(this, QEvent::UpdateRequest);
    nextPaint_ = std::chrono::steady_clock::now() + kRepaintInterval;
}

void TForm1::PreparePaint()
{
    if (stepSizePending_) {
        stepSizePending_ = false;
        ui->Lab_CurrentStep->adjustSize();
    }
    if (!ui->ProgressBar->updatesEnabled())
        ui->ProgressBar->setUpdatesEnabled(true);
}

bool TForm1::event(QEvent *event)
{
    // Every paint of the window, ours or the event loop's, shows the latest state.
    if (event->type() == QEvent::UpdateRequest)
        PreparePaint();
    return QDialog::event(event);
}

void TForm1::ShowMessage(const std::string &text, const std::string &caption, MessageIcon icon)
{
    services_.Messages.Show(this, text, caption, icon);
}

void TForm1::ShowNoPackage()
{
    ui->Lab_NoPackage->show();
    ui->P_Update->hide();
    ui->BtnUpdate->setEnabled(false);
    ui->Lab_Product->clear();
    ui->Lab_CurrBuild->clear();
    ui->Lab_NewBuild->clear();
    ui->Lab_Path->clear();
}

void TForm1::ShowPackage(const std::string &product, const std::string &currBuild,
                         const std::string &newBuild, const std::string &path)
{
    ui->Lab_Product->setText(Text(product));
    ui->Lab_CurrBuild->setText(Text(currBuild));
    ui->Lab_NewBuild->setText(Text(newBuild));
    // The path's bytes may be in the Chinese code page; the label shows them readable, and
    // the run takes them from Package, never back from here.
    ui->Lab_Path->setText(Text(ToSystemText(path)));
    ui->CheckBox_Force->setChecked(true);
    ui->BtnUpdate->setEnabled(true);
    ui->Lab_NoPackage->hide();
    ui->P_Update->show();
}

void TForm1::RunHandler(const std::function<void()> &work)
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
    ShowMessage(failure, kApplicationTitle, MessageIcon::Error);
}

void TForm1::FindUpgradePackage()
{
    FlagGuard running(scanRunning_);
    ScanContext context{services_.ProgramFolder, *this, *this, services_.Files, services_.Processes,
                        services_.Registry};
    ::FindUpgradePackage(context, Package, Product);
}

void TForm1::FormCreate()
{
    RunHandler([this] {
        LocalIP = GetLocalIPAddress(services_.Host);
        ComputerName = GetLocalComputerName(services_.Host);
        FindUpgradePackage();
    });
}

void TForm1::BtnCloseClick()
{
    close();
}

void TForm1::CheckBox_ForceClick()
{
    // The upgrade button stays disabled until the running upgrade has ended.
    if (upgradeRunning_)
        return;
    const int order = OrdinalCompare(ui->Lab_NewBuild->text().toStdString(),
                                     ui->Lab_CurrBuild->text().toStdString());
    if (ui->CheckBox_Force->isChecked())
        ui->BtnUpdate->setEnabled(order >= 0);
    else
        ui->BtnUpdate->setEnabled(order != 0);
}

void TForm1::BtnUpdateClick()
{
    if (!ui->BtnUpdate->isEnabled() || upgradeRunning_ || scanRunning_)
        return;
    RunHandler([this] {
        FlagGuard running(upgradeRunning_);
        ui->BtnUpdate->setEnabled(false);
        ui->Lab_CurrentStep->show();
        ui->ProgressBar->show();
        ui->Btn_refresh->setEnabled(false);

        // Leaves the upgrade-running state on every path, before an error is reported.
        struct Restore {
            Ui::TForm1 &ui;
            ~Restore()
            {
                ui.Lab_CurrentStep->hide();
                ui.ProgressBar->hide();
                ui.BtnUpdate->setEnabled(true);
                ui.Btn_refresh->setEnabled(true);
            }
        } restore{*ui};

        // From the package as the scan found it, byte for byte: a caption decoded for display
        // would not name the file any more.
        const std::string PackageFile = Package.PackagePath + Package.PackageName;
        UpgradeContext context{
            services_.ProgramFolder, Package,  Product,    ComputerName, LocalIP,
            tempConnection,          ADOQuery, updataExec, *this,        services_.Files,
            services_.Processes};
        if (services_.RunUpgrade(context, PackageFile))
            ShowMessage("升级成功！", kNoticeCaption, MessageIcon::Information);
        else
            ShowMessage("升级失败！", kNoticeCaption, MessageIcon::Error);
    });
}

void TForm1::Btn_refreshClick()
{
    if (scanRunning_ || upgradeRunning_)
        return;
    RunHandler([this] { FindUpgradePackage(); });
}

void TForm1::FormCloseQuery(bool &CanClose)
{
    // The progress bar is shown exactly while an upgrade runs.
    CanClose = ui->ProgressBar->isHidden();
}

void TForm1::closeEvent(QCloseEvent *event)
{
    bool CanClose = true;
    FormCloseQuery(CanClose);
    if (CanClose)
        event->accept();
    else
        event->ignore();
}

void TForm1::reject() {}

void TForm1::keyPressEvent(QKeyEvent *event)
{
    // Enter reaches the window when the control with the focus did not take it. Only a
    // button is pressed by it (as Space does); anywhere else it does nothing.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto *button = qobject_cast<QPushButton *>(focusWidget());
            button && button->isEnabled() && button->isVisible())
            button->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
