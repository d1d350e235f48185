// The handlers of the main window, its states, its facilities and the default error report.

#include "tests/app/window_fixture.h"

#include "platform/error.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>

namespace offline_upgrade {

namespace {

const std::string kTitle = "朔岱产品离线升级程序";

bool Shown(TForm1 &form, const char *name)
{
    return !Control<QWidget>(form, name).isHidden();
}

bool Enabled(TForm1 &form, const char *name)
{
    return Control<QWidget>(form, name).isEnabled();
}

std::string Caption(TForm1 &form, const char *name)
{
    return Control<QLabel>(form, name).text().toStdString();
}

// The window in its no-package state, as the scan leaves it.
void ExpectNoPackageState(TForm1 &form)
{
    EXPECT_TRUE(Shown(form, "Lab_NoPackage"));
    EXPECT_FALSE(Shown(form, "P_Update"));
    EXPECT_FALSE(Enabled(form, "BtnUpdate"));
    EXPECT_TRUE(Enabled(form, "Btn_refresh"));
    EXPECT_FALSE(Shown(form, "Lab_CurrentStep"));
    EXPECT_FALSE(Shown(form, "ProgressBar"));
    for (const char *label : {"Lab_Product", "Lab_CurrBuild", "Lab_NewBuild", "Lab_Path"})
        EXPECT_EQ(Caption(form, label), "") << label;
}

void ExpectPackageFoundState(TForm1 &form)
{
    EXPECT_FALSE(Shown(form, "Lab_NoPackage"));
    EXPECT_TRUE(Shown(form, "P_Update"));
    EXPECT_TRUE(Enabled(form, "BtnUpdate"));
    EXPECT_TRUE(Enabled(form, "Btn_refresh"));
    EXPECT_FALSE(Shown(form, "Lab_CurrentStep"));
    EXPECT_FALSE(Shown(form, "ProgressBar"));
}

void ExpectUpgradeRunningState(TForm1 &form)
{
    EXPECT_FALSE(Shown(form, "Lab_NoPackage"));
    EXPECT_TRUE(Shown(form, "P_Update"));
    EXPECT_FALSE(Enabled(form, "BtnUpdate"));
    EXPECT_FALSE(Enabled(form, "Btn_refresh"));
    EXPECT_TRUE(Shown(form, "Lab_CurrentStep"));
    EXPECT_TRUE(Shown(form, "ProgressBar"));
    EXPECT_TRUE(Enabled(form, "BtnClose"));
    EXPECT_TRUE(Enabled(form, "CheckBox_Force"));
}

TEST(FormCreate, TakesAddressAndNameThenScansAnEmptyFolder)
{
    WindowFixture fixture;
    TForm1 &form = fixture.Make();
    const std::string before = std::filesystem::current_path().string();
    form.FormCreate();

    EXPECT_EQ(form.LocalIP, "10.0.0.7");
    EXPECT_EQ(form.ComputerName, "TESTPC");
    ExpectNoPackageState(form);
    EXPECT_EQ(form.Package, T_PackageInfo{});
    EXPECT_EQ(form.Product, T_ProductReg{});
    EXPECT_EQ(fixture.files.Listed.size(), 1u);
    EXPECT_TRUE(fixture.messages.Messages.empty());
    EXPECT_EQ(std::filesystem::current_path().string(), before);
}

TEST(FormCreate, AScanThatFailsReachesTheDefaultErrorReport)
{
    WindowFixture fixture;
    // The working directory cannot be changed to a program folder that is not there.
    TForm1 &form = fixture.Make({}, fixture.folder.Slashed() + "missing/");
    form.FormCreate();

    ASSERT_EQ(fixture.messages.Messages.size(), 1u);
    EXPECT_EQ(fixture.messages.Messages[0].Caption, kTitle);
    EXPECT_EQ(fixture.messages.Messages[0].Icon, MessageIcon::Error);
    EXPECT_FALSE(fixture.messages.Messages[0].Text.empty());
    // The window goes on in the state reached so far.
    EXPECT_EQ(form.LocalIP, "10.0.0.7");
    EXPECT_EQ(form.ComputerName, "TESTPC");
    ExpectNoPackageState(form);
}

TEST(ScanView, ShowPackageFillsTheLabelsAndEntersThePackageFoundState)
{
    WindowFixture fixture;
    TForm1 &form = fixture.Make();
    form.FormCreate();
    QCheckBox &force = Control<QCheckBox>(form, "CheckBox_Force");
    force.click(); // unchecked; the scan sets it checked again
    ASSERT_FALSE(force.isChecked());

    form.ShowPackage("财务系统", "5.0.100", "5.0.100", "/opt/pkg/fin_5.0.zip");
    EXPECT_EQ(Caption(form, "Lab_Product"), "财务系统");
    EXPECT_EQ(Caption(form, "Lab_CurrBuild"), "5.0.100");
    EXPECT_EQ(Caption(form, "Lab_NewBuild"), "5.0.100");
    EXPECT_EQ(Caption(form, "Lab_Path"), "/opt/pkg/fin_5.0.zip");
    EXPECT_TRUE(force.isChecked());
    ExpectPackageFoundState(form);

    // The reset of the next scan keeps the check box as it is.
    force.click();
    form.ShowNoPackage();
    ExpectNoPackageState(form);
    EXPECT_FALSE(force.isChecked());
}

// The product name comes from the archive comment, which anyone can write.
TEST(ScanView, LabelsShowMarkupAsThePlainCharacters)
{
    WindowFixture fixture;
    TForm1 &form = fixture.Make();
    QLabel &product = Control<QLabel>(form, "Lab_Product");
    form.ShowPackage("", "1", "1", "/p/x.zip");
    const int emptyWidth = product.sizeHint().width();
    form.ShowPackage("<b></b><img src=\"x\">", "<i>1</i>", "1", "/p/<u>x</u>.zip");
    EXPECT_EQ(Caption(form, "Lab_Product"), "<b></b><img src=\"x\">");
    // As rich text the markup would show nothing at all.
    EXPECT_GT(product.sizeHint().width(), emptyWidth + 20);
    form.SetStepText("正在更新文件<b>x</b>...");
    for (QLabel *label : form.findChildren<QLabel *>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
}

TEST(Btn_refreshClick, ScansAgainAndDropsAPackageThatIsGone)
{
    WindowFixture fixture;
    TForm1 &form = fixture.Make();
    form.FormCreate();
    form.ShowPackage("财务系统", "5.0.100", "5.0.101", fixture.folder.Slashed() + "fin.zip");
    form.Package.Soft = "财务系统";
    form.Product.ProductCode = "FIN";

    Control<QPushButton>(form, "Btn_refresh").click();
    EXPECT_EQ(fixture.files.Listed.size(), 2u);
    ExpectNoPackageState(form);
    EXPECT_EQ(form.Package, T_PackageInfo{});
    EXPECT_EQ(form.Product, T_ProductReg{});
    EXPECT_TRUE(fixture.messages.Messages.empty());
}

TEST(Btn_refreshClick, IsIgnoredWhileAScanRuns)
{
    WindowFixture fixture;
    TForm1 &form = fixture.Make();
    // A package file makes the listing succeed; the archiver is missing, so it is rejected.
    fixture.folder.Write("a.zip", "PK");
    bool closedInScan = true;
    bool shownInScan = false;
    // The listing runs inside the scan; handlers reached through the message pump run there.
    fixture.files.EditListing = [&](const std::string &, std::vector<FolderEntry> &) {
        if (fixture.files.Listed.size() > 1)
            return; // a second scan started: counted below, not repeated
        Control<QPushButton>(form, "Btn_refresh").click();
        form.Btn_refreshClick();
        // The title bar's close and 退出: granted, but the window stays while the scan runs.
        closedInScan = form.close();
        Control<QPushButton>(form, "BtnClose").click();
        shownInScan = form.isVisible();
    };
    form.show();
    form.Btn_refreshClick();
    EXPECT_EQ(fixture.files.Listed.size(), 1u);
    EXPECT_TRUE(fixture.messages.Messages.empty());
    EXPECT_FALSE(closedInScan);
    EXPECT_TRUE(shownInScan);
    // Once the scan has returned, the window closes.
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(form.CloseGranted());

    // Once the scan has ended, the button scans again.
    fixture.files.EditListing = nullptr;
    form.Btn_refreshClick();
    EXPECT_EQ(fixture.files.Listed.size(), 2u);
}

// Sets the labels through the scan view, then puts the check box into the wanted state by
// user clicks, so its handler runs last with that state.
void PresentBuilds(TForm1 &form, const std::string &newBuild, const std::string &currBuild,
                   bool checked)
{
    form.ShowPackage("产品", currBuild, newBuild, "/p/x.zip");
    QCheckBox &force = Control<QCheckBox>(form, "CheckBox_Force");
    force.click();
    if (checked)
        force.click();
}

TEST(CheckBox_ForceClick, ComparesTheBuildCaptionsOrdinally)
{
    struct Case {
        const char *newBuild;
        const char *currBuild;
        bool checked;
        bool enabled;
    };
    const Case cases[] = {
        {"100", "100", true, true}, // equal: applied again only when forced
        {"100", "100", false, false},  {"101", "100", true, true},  // newer
        {"101", "100", false, true},   {"099", "100", true, false}, // older
        {"099", "100", false, true}, // unchecked only asks for a difference
        {"9", "10", true, true},     // the text 9 sorts after the text 10
        {"10", "9", true, false},      {"12", "123", true, false}, // a prefix sorts first
        {"12", "123", false, true},    {"123", "12", true, true},
        {"B100", "b100", true, false}, // letter case counts
        {"b100", "B100", true, true},  {"b100", "B100", false, true},
        {"", "", false, false},
    };
    WindowFixture fixture;
    TForm1 &form = fixture.Make();
    form.FormCreate();
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        PresentBuilds(form, c.newBuild, c.currBuild, c.checked);
        EXPECT_EQ(Control<QCheckBox>(form, "CheckBox_Force").isChecked(), c.checked)
            << "case " << i;
        EXPECT_EQ(Enabled(form, "BtnUpdate"), c.enabled) << "case " << i;
    }
}

TEST(CheckBox_ForceClick, EqualBuildsFollowTheCheckBox)
{
    WindowFixture fixture;
    TForm1 &form = fixture.Make();
    form.ShowPackage("产品", "7", "7", "/p/x.zip");
    QCheckBox &force = Control<QCheckBox>(form, "CheckBox_Force");
    EXPECT_TRUE(Enabled(form, "BtnUpdate"));
    force.click();
    EXPECT_FALSE(Enabled(form, "BtnUpdate"));
    force.click();
    EXPECT_TRUE(Enabled(form, "BtnUpdate"));
}

struct UpgradeOutcome {
    const char *what;
    std::function<bool()> result; // returns or throws as the upgrade run would
    std::vector<RecordedMessage> boxes;
};

TEST(BtnUpdateClick, ReportsTheOutcomeAndRestoresTheWindow)
{
    const UpgradeOutcome cases[] = {
        {"success", [] { return true; }, {{"升级成功！", "提示", MessageIcon::Information}}},
        {"failure", [] { return false; }, {{"升级失败！", "提示", MessageIcon::Error}}},
        {"KxError",
         []() -> bool { throw KxError("读取升级包失败"); },
         {{"读取升级包失败", kTitle, MessageIcon::Error}}},
        {"std::exception",
         []() -> bool { throw std::runtime_error("out of memory"); },
         {{"out of memory", kTitle, MessageIcon::Error}}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].what);
        WindowFixture fixture;
        int runs = 0;
        std::string packageFile;
        TForm1 &form = fixture.Make([&](UpgradeContext &context, const std::string &file) {
            TForm1 &form = *fixture.form;
            ++runs;
            packageFile = file;
            ExpectUpgradeRunningState(form);
            // The run works on the window's state and reports through the window.
            EXPECT_EQ(&context.Window, static_cast<IWindowFacilities *>(&form));
            EXPECT_EQ(&context.Package, &form.Package);
            EXPECT_EQ(&context.Product, &form.Product);
            EXPECT_EQ(context.LocalIP, "10.0.0.7");
            EXPECT_EQ(context.ComputerName, "TESTPC");
            EXPECT_EQ(context.ProgramFolder, fixture.folder.Slashed());
            EXPECT_EQ(&context.tempConnection, &fixture.connection);
            context.Window.SetStepText("更新文件完成");
            return cases[i].result();
        });
        form.FormCreate();
        form.Package.PackagePath = "/opt/升级包/";
        form.Package.PackageName = "p_1.0.zip";
        form.ShowPackage("产品", "1.0.5", "1.0.6", "/opt/升级包/p_1.0.zip");
        bool runningAtTheBox = false;
        fixture.messages.OnShow = [&] { runningAtTheBox = Shown(form, "ProgressBar"); };

        Control<QPushButton>(form, "BtnUpdate").click();

        EXPECT_EQ(runs, 1);
        EXPECT_EQ(packageFile, "/opt/升级包/p_1.0.zip");
        ASSERT_EQ(fixture.messages.Messages.size(), cases[i].boxes.size());
        for (size_t b = 0; b < cases[i].boxes.size(); ++b) {
            EXPECT_EQ(fixture.messages.Messages[b].Text, cases[i].boxes[b].Text);
            EXPECT_EQ(fixture.messages.Messages[b].Caption, cases[i].boxes[b].Caption);
            EXPECT_EQ(fixture.messages.Messages[b].Icon, cases[i].boxes[b].Icon);
        }
        // The result box is shown while the upgrade still runs; the error report after the
        // window has been restored.
        EXPECT_EQ(runningAtTheBox, cases[i].boxes[0].Caption == "提示");
        ExpectPackageFoundState(form);
        // Nothing is rescanned; the labels stay, and the step text stays in the hidden label.
        EXPECT_EQ(fixture.files.Listed.size(), 1u);
        EXPECT_EQ(Caption(form, "Lab_CurrBuild"), "1.0.5");
        EXPECT_EQ(form.StepText(), "更新文件完成");
    }
}

// A program folder and package copied from a Chinese Windows machine keep their names in the
// Chinese code page; the label decodes them for the eye, the run must get the bytes.
TEST(BtnUpdateClick, TakesThePackageFileFromThePackageByteForByte)
{
    WindowFixture fixture;
    std::vector<std::string> files;
    TForm1 &form = fixture.Make([&](UpgradeContext &, const std::string &file) {
        files.push_back(file);
        return true;
    });
    const std::string folder = "/opt/\xB3\xCC\xD0\xF2/"; // "程序" in GB18030
    const std::string name = "\xC9\xFD\xBC\xB6_5.2.zip"; // "升级" in GB18030
    form.Package.PackagePath = folder;
    form.Package.PackageName = name;
    form.ShowPackage("产品", "1", "2", folder + name);
    EXPECT_EQ(Caption(form, "Lab_Path"), "/opt/程序/升级_5.2.zip");

    Control<QPushButton>(form, "BtnUpdate").click();
    EXPECT_EQ(files, std::vector<std::string>{folder + name});
}

TEST(BtnUpdateClick, DoesNothingWhileTheButtonIsDisabled)
{
    WindowFixture fixture;
    int runs = 0;
    TForm1 &form = fixture.Make([&](UpgradeContext &, const std::string &) {
        ++runs;
        return true;
    });
    form.FormCreate();
    form.BtnUpdateClick();
    EXPECT_EQ(runs, 0);
    EXPECT_TRUE(fixture.messages.Messages.empty());
    ExpectNoPackageState(form);
}

TEST(BtnUpdateClick, EnablesTheButtonAfterwardsWhateverTheCheckBoxSays)
{
    WindowFixture fixture;
    TForm1 &form = fixture.Make([&](UpgradeContext &, const std::string &) { return true; });
    form.ShowPackage("产品", "3", "3", "/p/x.zip");
    QCheckBox &force = Control<QCheckBox>(form, "CheckBox_Force");
    // Unchecked while the result box is open: equal builds would disable the button.
    fixture.messages.OnShow = [&] { force.click(); };

    form.BtnUpdateClick();
    EXPECT_FALSE(force.isChecked());
    EXPECT_TRUE(Enabled(form, "BtnUpdate"));

    // From here on the check box rules again.
    force.click();
    force.click();
    EXPECT_FALSE(Enabled(form, "BtnUpdate"));
}

TEST(BtnUpdateClick, HandlersReachedDuringTheUpgradeStartNothing)
{
    WindowFixture fixture;
    int runs = 0;
    TForm1 &form = fixture.Make([&](UpgradeContext &, const std::string &) {
        ++runs;
        if (runs > 1)
            return false; // a second upgrade started: counted below, not repeated
        TForm1 &f = *fixture.form;
        QCheckBox &force = Control<QCheckBox>(f, "CheckBox_Force");
        // The check box stays usable but does not enable the upgrade button.
        force.click();
        force.click();
        EXPECT_FALSE(Enabled(f, "BtnUpdate"));
        // Even with the button enabled by other means, no second upgrade starts.
        Control<QPushButton>(f, "BtnUpdate").setEnabled(true);
        Control<QPushButton>(f, "BtnUpdate").click();
        f.BtnUpdateClick();
        // No scan starts either.
        f.Btn_refreshClick();
        // And the window cannot be closed.
        EXPECT_FALSE(f.close());
        Control<QPushButton>(f, "BtnClose").click();
        EXPECT_TRUE(f.isVisible());
        return false;
    });
    form.show();
    form.FormCreate();
    form.ShowPackage("产品", "2.0", "2.0", "/p/x.zip");
    // Nor while the result box is open.
    bool closedAtTheBox = true;
    fixture.messages.OnShow = [&] { closedAtTheBox = form.close(); };

    form.BtnUpdateClick();

    EXPECT_EQ(runs, 1);
    EXPECT_EQ(fixture.files.Listed.size(), 1u);
    EXPECT_FALSE(closedAtTheBox);
    ASSERT_EQ(fixture.messages.Messages.size(), 1u);
    EXPECT_EQ(fixture.messages.Messages[0].Text, "升级失败！");
    EXPECT_TRUE(form.isVisible());
    ExpectPackageFoundState(form);
    EXPECT_EQ(Caption(form, "Lab_Path"), "/p/x.zip");
}

// Enter sent to a control: what the control does not take goes on to the window.
void PressKey(QWidget &target, int key)
{
    target.setFocus(Qt::OtherFocusReason);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(&target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(&target, &release);
}

TEST(Keyboard, EnterPressesOnlyTheButtonThatHasTheFocus)
{
    WindowFixture fixture;
    int runs = 0;
    TForm1 &form = fixture.Make([&](UpgradeContext &, const std::string &) {
        ++runs;
        return true;
    });
    form.show();
    form.activateWindow();
    form.FormCreate();
    form.ShowPackage("产品", "1", "2", "/p/x.zip");
    for (QPushButton *button : form.findChildren<QPushButton *>()) {
        EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
        EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString();
    }

    QCheckBox &force = Control<QCheckBox>(form, "CheckBox_Force");
    for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
        PressKey(force, key);
        EXPECT_EQ(runs, 0) << key;
        EXPECT_TRUE(force.isChecked()) << key;
        EXPECT_TRUE(fixture.messages.Messages.empty()) << key;
    }

    // On a button, Enter presses that button, as a click would.
    PressKey(Control<QPushButton>(form, "Btn_refresh"), Qt::Key_Return);
    EXPECT_EQ(fixture.files.Listed.size(), 2u);
    EXPECT_EQ(runs, 0);
    form.ShowPackage("产品", "1", "2", "/p/x.zip");
    PressKey(Control<QPushButton>(form, "BtnUpdate"), Qt::Key_Enter);
    EXPECT_EQ(runs, 1);
}

TEST(FormCloseQuery, RefusesOnlyWhileTheProgressBarIsVisible)
{
    WindowFixture fixture;
    TForm1 &form = fixture.Make();
    form.show();
    bool CanClose = false;
    form.FormCloseQuery(CanClose);
    EXPECT_TRUE(CanClose);

    Control<QProgressBar>(form, "ProgressBar").show();
    form.FormCloseQuery(CanClose);
    EXPECT_FALSE(CanClose);
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(fixture.messages.Messages.empty());

    Control<QProgressBar>(form, "ProgressBar").hide();
    Control<QPushButton>(form, "BtnClose").click();
    EXPECT_FALSE(form.isVisible());
}

TEST(WindowFacilities, ProgressBarHoldsPositionsInRange)
{
    struct Case {
        int maximum;
        int position;
        int heldMaximum;
        int heldPosition;
    };
    const Case cases[] = {
        {100, 50, 100, 50}, {100, 100, 100, 100}, {100, 101, 100, 100}, {100, -5, 100, 0},
        {10, 10, 10, 10},   {0, 3, 0, 0},         {-4, 3, 0, 0},        {1000, 999, 1000, 999},
    };
    WindowFixture fixture;
    TForm1 &form = fixture.Make();
    QProgressBar &bar = Control<QProgressBar>(form, "ProgressBar");
    for (size_t i = 0; i < std::size(cases); ++i) {
        form.SetProgressMax(cases[i].maximum);
        form.SetProgressPosition(cases[i].position);
        EXPECT_EQ(form.ProgressMax(), cases[i].heldMaximum) << "case " << i;
        EXPECT_EQ(form.ProgressPosition(), cases[i].heldPosition) << "case " << i;
        EXPECT_EQ(bar.value(), cases[i].heldPosition) << "case " << i;
        // An empty range would turn the bar into a busy indicator.
        EXPECT_GT(bar.maximum(), 0) << "case " << i;
    }
    // A smaller maximum takes the position along.
    form.SetProgressMax(100);
    form.SetProgressPosition(80);
    form.SetProgressMax(30);
    EXPECT_EQ(form.ProgressPosition(), 30);
    EXPECT_EQ(bar.value(), 30);
    EXPECT_EQ(bar.maximum(), 30);
}

TEST(WindowFacilities, StepTextPumpAndMessageBox)
{
    WindowFixture fixture;
    TForm1 &form = fixture.Make();
    form.SetStepText("正在解压缩升级包文件...");
    EXPECT_EQ(form.StepText(), "正在解压缩升级包文件...");
    EXPECT_EQ(Caption(form, "Lab_CurrentStep"), "正在解压缩升级包文件...");

    bool delivered = false;
    QTimer::singleShot(0, &form, [&] { delivered = true; });
    form.ProcessMessages();
    EXPECT_TRUE(delivered);

    form.ShowMessage("解压缩升级包文件失败！", "提示", MessageIcon::Error);
    ASSERT_EQ(fixture.messages.Messages.size(), 1u);
    EXPECT_EQ(fixture.messages.Messages[0].Text, "解压缩升级包文件失败！");
    EXPECT_EQ(fixture.messages.Messages[0].Caption, "提示");
    EXPECT_EQ(fixture.messages.Messages[0].Icon, MessageIcon::Error);
}

} // namespace

} // namespace offline_upgrade
