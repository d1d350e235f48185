// The form of the main window: controls, places, captions, fonts, colours, tab order, start
// states and pictures.

#include "tests/app/window_fixture.h"

#include "app/pictures.h"

#include <QCheckBox>
#include <QColor>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

namespace offline_upgrade {

namespace {

struct ControlCase {
    const char *name;
    const char *className;
    const char *parent;
    QRect geometry;
    const char *text; // nullptr: the control has no caption
};

QString CaptionOf(QWidget &control)
{
    if (auto *label = qobject_cast<QLabel *>(&control))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(&control))
        return button->text();
    if (auto *group = qobject_cast<QGroupBox *>(&control))
        return group->title();
    return QString();
}

TEST(MainWindowForm, EveryControlHasItsNameParentPlaceAndCaption)
{
    WindowFixture fixture;
    TForm1 &form = fixture.Make();
    const ControlCase cases[] = {
        {"GroupBox1", "QGroupBox", "TForm1", {99, 6, 299, 217}, "升级内容"},
        {"BtnUpdate", "QPushButton", "TForm1", {403, 66, 75, 25}, "升级"},
        {"BtnClose", "QPushButton", "TForm1", {403, 110, 75, 25}, "退出"},
        {"Lab_NoPackage", "QLabel", "GroupBox1", {64, 80, 0, 0}, "未找到有效的升级包文件！"},
        {"P_Update", "QFrame", "GroupBox1", {2, 14, 295, 201}, nullptr},
        {"Label1", "QLabel", "P_Update", {7, 9, 60, 12}, "升级产品："},
        {"Label2", "QLabel", "P_Update", {7, 41, 72, 12}, "当前版本号："},
        {"Label3", "QLabel", "P_Update", {7, 74, 84, 12}, "升级包版本号："},
        {"Label4", "QLabel", "P_Update", {7, 107, 72, 12}, "升级包路径："},
        {"Lab_Product", "QLabel", "P_Update", {89, 9, 175, 12}, "值"},
        {"Lab_CurrBuild", "QLabel", "P_Update", {89, 41, 175, 12}, "值"},
        {"Lab_NewBuild", "QLabel", "P_Update", {89, 74, 175, 12}, "值"},
        {"Lab_Path", "QLabel", "P_Update", {89, 107, 199, 46}, "值"},
        {"CheckBox_Force", "QCheckBox", "P_Update", {7, 159, 69, 17}, "强制升级"},
        {"ProgressBar", "QProgressBar", "TForm1", {0, 246, 488, 14}, nullptr},
        {"Lab_CurrentStep", "QLabel", "TForm1", {5, 229, 0, 0}, "当前正在进行的步骤"},
        {"Btn_refresh", "QPushButton", "TForm1", {403, 22, 75, 25}, "刷新"},
        {"Image1", "QLabel", "TForm1", {0, 0, 96, 224}, nullptr},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const ControlCase &c = cases[i];
        QWidget &control = Control<QWidget>(form, c.name);
        EXPECT_STREQ(control.metaObject()->className(), c.className) << "case " << i;
        ASSERT_NE(control.parentWidget(), nullptr) << "case " << i;
        EXPECT_EQ(control.parentWidget()->objectName().toStdString(), c.parent) << "case " << i;
        // A zero size marks a label sized to its text: only its place is fixed.
        if (c.geometry.width() == 0)
            EXPECT_EQ(control.pos(), c.geometry.topLeft()) << "case " << i;
        else
            EXPECT_EQ(control.geometry(), c.geometry) << "case " << i;
        if (c.text)
            EXPECT_EQ(CaptionOf(control).toStdString(), c.text) << "case " << i;
        else
            EXPECT_TRUE(CaptionOf(control).isEmpty()) << "case " << i;
    }
}

TEST(MainWindowForm, IsAFixedDialogWithOnlyTheCloseButton)
{
    WindowFixture fixture;
    TForm1 &form = fixture.Make();
    EXPECT_EQ(form.windowTitle().toStdString(), "朔岱产品升级程序");
    EXPECT_EQ(form.size(), QSize(488, 260));
    EXPECT_EQ(form.minimumSize(), QSize(488, 260));
    EXPECT_EQ(form.maximumSize(), QSize(488, 260));
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
}

TEST(MainWindowForm, FontsAndColours)
{
    WindowFixture fixture;
    TForm1 &form = fixture.Make();
    EXPECT_EQ(form.font().family().toStdString(), "宋体");
    EXPECT_EQ(form.font().pixelSize(), 12);
    EXPECT_FALSE(form.font().bold());

    // The bold label and the red labels keep the window's face and size.
    QLabel &noPackage = Control<QLabel>(form, "Lab_NoPackage");
    EXPECT_TRUE(noPackage.font().bold());
    EXPECT_EQ(noPackage.font().family(), form.font().family());
    EXPECT_EQ(noPackage.font().pixelSize(), 12);

    const char *labels[] = {"Label1",       "Label2",      "Label3",
                            "Label4",       "Lab_Product", "Lab_CurrBuild",
                            "Lab_NewBuild", "Lab_Path",    "Lab_CurrentStep"};
    for (size_t i = 0; i < std::size(labels); ++i) {
        QLabel &label = Control<QLabel>(form, labels[i]);
        const bool value = QString::fromLatin1(labels[i]).startsWith("Lab_") &&
                           std::string(labels[i]) != "Lab_CurrentStep";
        const QColor text = label.palette().color(QPalette::Active, QPalette::WindowText);
        EXPECT_EQ(text == QColor(Qt::red), value) << "label " << labels[i];
        EXPECT_FALSE(label.font().bold()) << "label " << labels[i];
        EXPECT_EQ(label.font().pixelSize(), 12) << "label " << labels[i];
    }
    EXPECT_TRUE(Control<QLabel>(form, "Lab_Path").wordWrap());
}

TEST(MainWindowForm, StartStates)
{
    WindowFixture fixture;
    TForm1 &form = fixture.Make();
    struct Case {
        const char *name;
        bool visible;
        bool enabled;
    };
    const Case cases[] = {
        {"GroupBox1", true, true},    {"BtnUpdate", true, false},
        {"BtnClose", true, true},     {"Lab_NoPackage", true, true},
        {"P_Update", false, true},    {"CheckBox_Force", true, true},
        {"ProgressBar", false, true}, {"Lab_CurrentStep", false, true},
        {"Btn_refresh", true, true},  {"Image1", true, true},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        QWidget &control = Control<QWidget>(form, cases[i].name);
        EXPECT_EQ(!control.isHidden(), cases[i].visible) << "case " << i;
        EXPECT_EQ(control.isEnabled(), cases[i].enabled) << "case " << i;
    }
    EXPECT_TRUE(Control<QCheckBox>(form, "CheckBox_Force").isChecked());
    QProgressBar &bar = Control<QProgressBar>(form, "ProgressBar");
    EXPECT_EQ(bar.minimum(), 0);
    EXPECT_EQ(bar.maximum(), 100);
    EXPECT_EQ(bar.value(), 0);
    EXPECT_EQ(form.ProgressMax(), 100);
    EXPECT_EQ(form.ProgressPosition(), 0);
    EXPECT_EQ(form.StepText(), "当前正在进行的步骤");
}

TEST(MainWindowForm, TabOrderSkipsTheProgressBar)
{
    WindowFixture fixture;
    TForm1 &form = fixture.Make();
    const QStringList order = {"BtnUpdate", "Btn_refresh", "BtnClose", "CheckBox_Force"};
    QStringList seen;
    QWidget *first = &Control<QWidget>(form, "BtnUpdate");
    QWidget *widget = first;
    do {
        if ((widget->focusPolicy() & Qt::TabFocus) && widget != &form)
            seen << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != first);
    EXPECT_EQ(seen, order);
    EXPECT_EQ(Control<QProgressBar>(form, "ProgressBar").focusPolicy(), Qt::NoFocus);
}

TEST(MainWindowForm, ControlsWithoutCaptionCarryAccessibleNames)
{
    WindowFixture fixture;
    TForm1 &form = fixture.Make();
    for (const char *name : {"ProgressBar", "Image1", "P_Update"})
        EXPECT_FALSE(Control<QWidget>(form, name).accessibleName().isEmpty()) << name;
    // A value label is named by its value and labelled by the caption beside it.
    const std::pair<const char *, const char *> pairs[] = {{"Label1", "Lab_Product"},
                                                           {"Label2", "Lab_CurrBuild"},
                                                           {"Label3", "Lab_NewBuild"},
                                                           {"Label4", "Lab_Path"}};
    for (const auto &[caption, value] : pairs)
        EXPECT_EQ(Control<QLabel>(form, caption).buddy(), &Control<QWidget>(form, value))
            << caption;
}

TEST(MainWindowForm, EscapeDoesNotCloseTheWindow)
{
    WindowFixture fixture;
    TForm1 &form = fixture.Make();
    form.show();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&form, &press);
    EXPECT_TRUE(form.isVisible());
}

bool IsGrey(QRgb pixel)
{
    return qAbs(qRed(pixel) - qGreen(pixel)) < 12 && qAbs(qGreen(pixel) - qBlue(pixel)) < 12;
}

TEST(MainWindowForm, PicturesAreDrawnAtTheirSizes)
{
    WindowFixture fixture;
    TForm1 &form = fixture.Make();

    QLabel &image = Control<QLabel>(form, "Image1");
    const QImage globe = image.pixmap().toImage();
    ASSERT_EQ(globe.size(), QSize(96, 240));
    EXPECT_FALSE(globe.hasAlphaChannel());
    EXPECT_FALSE(image.hasScaledContents());
    EXPECT_TRUE(image.alignment() & Qt::AlignTop);
    // A blue ground, lighter at the foot.
    const QColor top = globe.pixelColor(2, 2);
    const QColor foot = globe.pixelColor(2, 236);
    EXPECT_GT(top.blue(), top.red() + 60);
    EXPECT_GT(foot.lightness(), top.lightness() + 40);
    // Orange-yellow arrows at the sides of the globe.
    const QColor arrow = globe.pixelColor(48, 60);
    EXPECT_GT(arrow.red(), 200);
    EXPECT_LT(arrow.blue(), 100);

    const QIcon icon = Control<QPushButton>(form, "BtnUpdate").icon();
    const QImage normal = icon.pixmap(QSize(16, 16), QIcon::Normal).toImage();
    const QImage disabled = icon.pixmap(QSize(16, 16), QIcon::Disabled).toImage();
    ASSERT_EQ(normal.size(), QSize(16, 16));
    ASSERT_EQ(disabled.size(), QSize(16, 16));
    const QColor red = normal.pixelColor(8, 10);
    EXPECT_GT(red.red(), 150);
    EXPECT_LT(red.green(), 110);
    EXPECT_TRUE(IsGrey(disabled.pixel(8, 10)));
    EXPECT_EQ(qAlpha(normal.pixel(0, 15)), 0); // the ground is transparent

    const QImage gear = ApplicationIcon().pixmap(QSize(32, 32)).toImage();
    ASSERT_EQ(gear.size(), QSize(32, 32));
    EXPECT_EQ(qAlpha(gear.pixel(16, 16)), 0); // the hole in the middle
    EXPECT_GT(qAlpha(gear.pixel(16, 24)), 200);
    EXPECT_TRUE(IsGrey(gear.pixel(16, 24)));
}

} // namespace

} // namespace offline_upgrade
