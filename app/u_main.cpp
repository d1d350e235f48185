#include "app/u_main.h"
#include "ui_u_main.h"

#include "app/form/off_window_thread.h"
#include "app/pictures.h"
#include "platform/error.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>

namespace offline_upgrade {

namespace {

QString Text(const std::string &text)
{
    return QString::fromStdString(text);
}

} // namespace

TForm1::TForm1(FormServices services, IMessagePresenter &messages, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::TForm1>()), messages_(messages),
      logic_(std::move(services), *this), Package(logic_.Package), Product(logic_.Product),
      ComputerName(logic_.ComputerName), LocalIP(logic_.LocalIP),
      tempConnection(logic_.tempConnection), ADOQuery(logic_.ADOQuery),
      updataExec(logic_.updataExec)
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

    ui->Image1->setPixmap(GlobePicture());
    ui->BtnUpdate->setIcon(UpdateButtonIcon());
    ui->BtnUpdate->setIconSize(QSize(16, 16));
    ShowProgress();

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

    connect(ui->BtnClose, &QPushButton::clicked, this, &TForm1::BtnCloseClick);
    connect(ui->BtnUpdate, &QPushButton::clicked, this, &TForm1::BtnUpdateClick);
    connect(ui->Btn_refresh, &QPushButton::clicked, this, &TForm1::Btn_refreshClick);
    // Only the user's changes: the logic runs the handler itself when the scan sets the box.
    connect(ui->CheckBox_Force, &QCheckBox::clicked, this, &TForm1::CheckBox_ForceClick);
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

void TForm1::RunWhileAnswering(const std::function<void()> &work)
{
    RunOffWindowThread(*this, work);
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
    messages_.Show(this, text, caption, icon);
}

QWidget &TForm1::Widget(FormControl control) const
{
    switch (control) {
    case FormControl::BtnUpdate:
        return *ui->BtnUpdate;
    case FormControl::Btn_refresh:
        return *ui->Btn_refresh;
    case FormControl::BtnClose:
        return *ui->BtnClose;
    case FormControl::CheckBox_Force:
        return *ui->CheckBox_Force;
    case FormControl::Lab_NoPackage:
        return *ui->Lab_NoPackage;
    case FormControl::P_Update:
        return *ui->P_Update;
    case FormControl::Lab_Product:
        return *ui->Lab_Product;
    case FormControl::Lab_CurrBuild:
        return *ui->Lab_CurrBuild;
    case FormControl::Lab_NewBuild:
        return *ui->Lab_NewBuild;
    case FormControl::Lab_Path:
        return *ui->Lab_Path;
    case FormControl::Lab_CurrentStep:
        return *ui->Lab_CurrentStep;
    case FormControl::ProgressBar:
        return *ui->ProgressBar;
    }
    throw KxError("unknown control");
}

void TForm1::SetVisible(FormControl control, bool visible)
{
    Widget(control).setVisible(visible);
}

bool TForm1::IsVisible(FormControl control) const
{
    // Shown as far as the control itself goes, also while the window is not yet on screen.
    return !Widget(control).isHidden();
}

void TForm1::SetEnabled(FormControl control, bool enabled)
{
    Widget(control).setEnabled(enabled);
}

bool TForm1::IsEnabled(FormControl control) const
{
    return Widget(control).isEnabled();
}

void TForm1::SetCaption(FormControl label, const std::string &text)
{
    if (label == FormControl::Lab_CurrentStep) {
        SetStepText(text);
        return;
    }
    if (auto *control = qobject_cast<QLabel *>(&Widget(label)))
        control->setText(Text(text));
}

std::string TForm1::Caption(FormControl label) const
{
    if (auto *control = qobject_cast<QLabel *>(&Widget(label)))
        return control->text().toStdString();
    return {};
}

void TForm1::SetForceChecked(bool checked)
{
    ui->CheckBox_Force->setChecked(checked);
}

bool TForm1::IsForceChecked() const
{
    return ui->CheckBox_Force->isChecked();
}

void TForm1::RequestClose()
{
    close();
}

void TForm1::FormCreate()
{
    logic_.FormCreate();
}

void TForm1::BtnCloseClick()
{
    logic_.BtnCloseClick();
}

void TForm1::CheckBox_ForceClick()
{
    logic_.CheckBox_ForceClick();
}

void TForm1::BtnUpdateClick()
{
    logic_.BtnUpdateClick();
}

void TForm1::Btn_refreshClick()
{
    logic_.Btn_refreshClick();
}

void TForm1::closeEvent(QCloseEvent *event)
{
    // Refused, or put off while a scan runs: the window stays as it is.
    if (logic_.CloseRequested())
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

} // namespace offline_upgrade
