// The Win32 window's own drawing and event wiring, read back through Win32 calls: where each
// control lies, its caption, font and colour, the frame, the tab order, the progress bar, and
// the clicks that reach the logic (the refused close, the default error report through the
// message presenter, so that no box ever waits for a user).

#include "app/win/u_main_win.h"

#include "platform/host_identity.h"
#include "platform/win/wide.h"
#include "tests/support/fake_data_access.h"
#include "tests/support/system_services.h"
#include "tests/support/temp_folder.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

class RecordingPresenter : public IMessagePresenter {
public:
    struct Box {
        HWND Owner;
        std::string Text;
        std::string Caption;
        MessageIcon Icon;
    };
    void Show(HWND owner, const std::string &text, const std::string &caption,
              MessageIcon icon) override
    {
        Boxes.push_back({owner, text, caption, icon});
    }
    std::vector<Box> Boxes;
};

class FixedHost : public IHostIdentity {
public:
    bool HostName(std::string &name) override
    {
        name = "testhost";
        return true;
    }
    bool ResolveIPv4(const std::string &, std::vector<Ipv4Address> &addresses) override
    {
        addresses = {{10, 0, 0, 7}};
        return true;
    }
    bool InterfaceIPv4(std::vector<Ipv4Address> &addresses) override
    {
        addresses = {{10, 0, 0, 7}};
        return true;
    }
    bool ComputerName(std::string &name) override
    {
        name = "TESTPC";
        return true;
    }
};

// The window on an empty temporary program folder.
class WinWindowFixture {
public:
    TForm1 &Make(UpgradeRunner runner = {})
    {
        form = std::make_unique<TForm1>(TForm1Services{folder.Slashed(), files, processes,
                                                       registry, host, connection, query,
                                                       command, messages, std::move(runner)});
        return *form;
    }

    TempFolder folder;
    SystemFileSystem files;
    SystemProcesses processes;
    SystemRegistry registry;
    FixedHost host;
    FakeConnection connection;
    FakeQuery query;
    FakeCommand command;
    RecordingPresenter messages;
    std::unique_ptr<TForm1> form;
};

std::string Text(HWND control)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(),
                                                   static_cast<int>(text.size()))));
    return Narrow(text);
}

// The control's rectangle in the window's client area.
RECT ClientRect(const TForm1 &form, HWND control)
{
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, form.Handle(), reinterpret_cast<POINT *>(&rect), 2);
    return rect;
}

void Click(const TForm1 &form, int id)
{
    SendMessageW(form.Control(id), BM_CLICK, 0, 0);
}

struct Placed {
    int Id;
    const char *Name;
    const char *Caption; // nullptr: sized or captioned at run time
    int X, Y, Width, Height;
};

// The design at 96 dpi, in the window's client area (the panel's controls moved by its place).
const Placed kDesign[] = {
    {IdGroupBox1, "GroupBox1", "升级内容", 99, 6, 299, 217},
    {IdP_Update, "P_Update", "升级包信息", 101, 20, 295, 201},
    {IdLabel1, "Label1", "升级产品：", 108, 29, 60, 12},
    {IdLabel2, "Label2", "当前版本号：", 108, 61, 72, 12},
    {IdLabel3, "Label3", "升级包版本号：", 108, 94, 84, 12},
    {IdLabel4, "Label4", "升级包路径：", 108, 127, 72, 12},
    {IdLab_Product, "Lab_Product", "值", 190, 29, 175, 12},
    {IdLab_CurrBuild, "Lab_CurrBuild", "值", 190, 61, 175, 12},
    {IdLab_NewBuild, "Lab_NewBuild", "值", 190, 94, 175, 12},
    {IdLab_Path, "Lab_Path", "值", 190, 127, 199, 46},
    {IdCheckBox_Force, "CheckBox_Force", "强制升级", 108, 179, 69, 17},
    {IdBtnUpdate, "BtnUpdate", "升级", 403, 66, 75, 25},
    {IdBtnClose, "BtnClose", "退出", 403, 110, 75, 25},
    {IdBtn_refresh, "Btn_refresh", "刷新", 403, 22, 75, 25},
    {IdProgressBar, "ProgressBar", "升级进度", 0, 246, 488, 14},
    {IdImage1, "Image1", "产品升级图片", 0, 0, 96, 224},
};

TEST(Win32Window, EveryControlLiesAtTheDesignsPlaceWithItsCaption)
{
    WinWindowFixture fixture;
    TForm1 &form = fixture.Make();
    auto scale = [&](int value) { return MulDiv(value, form.Dpi(), 96); };
    for (const Placed &control : kDesign) {
        SCOPED_TRACE(control.Name);
        const RECT rect = ClientRect(form, form.Control(control.Id));
        EXPECT_EQ(rect.left, scale(control.X));
        EXPECT_EQ(rect.top, scale(control.Y));
        EXPECT_EQ(rect.right - rect.left, scale(control.Width));
        EXPECT_EQ(rect.bottom - rect.top, scale(control.Height));
        EXPECT_EQ(Text(form.Control(control.Id)), control.Caption);
    }
    // Sized to their text, from the design's corner.
    for (auto [id, x, y] : {std::tuple{IdLab_NoPackage, 163, 86}, {IdLab_CurrentStep, 5, 229}}) {
        const RECT rect = ClientRect(form, form.Control(id));
        EXPECT_EQ(rect.left, scale(x)) << id;
        EXPECT_EQ(rect.top, scale(y)) << id;
        EXPECT_GT(rect.right - rect.left, 0) << id;
    }
    EXPECT_EQ(Text(form.Control(IdLab_NoPackage)), "未找到有效的升级包文件！");

    RECT client{};
    GetClientRect(form.Handle(), &client);
    EXPECT_EQ(client.right, scale(488));
    EXPECT_EQ(client.bottom, scale(260));
    EXPECT_EQ(Text(form.Handle()), "朔岱产品升级程序");
}

TEST(Win32Window, HasAFixedDialogFrameWithOnlyTheCloseButtonAndIsCentred)
{
    WinWindowFixture fixture;
    TForm1 &form = fixture.Make();
    const LONG style = GetWindowLongW(form.Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_MINIMIZEBOX | WS_THICKFRAME));
    EXPECT_TRUE(GetWindowLongW(form.Handle(), GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);

    RECT work{}, frame{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(form.Handle(), &frame);
    EXPECT_LE(std::abs((frame.left + frame.right) - (work.left + work.right)), 2);
    EXPECT_LE(std::abs((frame.top + frame.bottom) - (work.top + work.bottom)), 2);
}

TEST(Win32Window, LabelsHaveTheDesignsFontAndColour)
{
    WinWindowFixture fixture;
    TForm1 &form = fixture.Make();
    struct Case {
        int Id;
        bool Bold;
        COLORREF Colour;
    };
    const COLORREF text = GetSysColor(COLOR_BTNTEXT);
    const Case cases[] = {
        {IdLab_NoPackage, true, text},        {IdLabel1, false, text},
        {IdLab_Product, false, RGB(255, 0, 0)}, {IdLab_CurrBuild, false, RGB(255, 0, 0)},
        {IdLab_NewBuild, false, RGB(255, 0, 0)}, {IdLab_Path, false, RGB(255, 0, 0)},
        {IdLab_CurrentStep, false, text},
    };
    HDC dc = CreateCompatibleDC(nullptr);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Id);
        HWND control = form.Control(c.Id);
        LOGFONTW font{};
        ASSERT_NE(GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)),
                             sizeof(font), &font),
                  0);
        EXPECT_EQ(Narrow(font.lfFaceName), "宋体");
        EXPECT_EQ(font.lfHeight, -MulDiv(12, form.Dpi(), 96));
        EXPECT_EQ(font.lfWeight >= FW_BOLD, c.Bold);
        // The colour the window gives the label when it paints.
        SendMessageW(GetParent(control), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(control));
        EXPECT_EQ(GetTextColor(dc), c.Colour);
    }
    DeleteDC(dc);
}

TEST(Win32Window, TabOrderAndNoDefaultButton)
{
    WinWindowFixture fixture;
    TForm1 &form = fixture.Make();
    form.SetEnabled(FormControl::BtnUpdate, true);
    form.SetVisible(FormControl::P_Update, true);
    const int order[] = {IdBtnUpdate, IdBtn_refresh, IdBtnClose, IdCheckBox_Force, IdBtnUpdate};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        EXPECT_EQ(GetNextDlgTabItem(form.Handle(), form.Control(order[i]), FALSE),
                  form.Control(order[i + 1]))
            << "after " << order[i];
    for (int id : {IdBtnUpdate, IdBtn_refresh, IdBtnClose}) {
        EXPECT_EQ(GetWindowLongW(form.Control(id), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON) << id;
        EXPECT_NE(id, IDOK);
    }
}

TEST(Win32Window, TheProgressBarIsSmoothAndHeldInItsRange)
{
    WinWindowFixture fixture;
    TForm1 &form = fixture.Make();
    HWND bar = form.Control(IdProgressBar);
    EXPECT_TRUE(GetWindowLongW(bar, GWL_STYLE) & PBS_SMOOTH);
    struct Case {
        int Max, Position, ShownMax, ShownPosition;
    };
    for (const Case &c : {Case{10, 15, 10, 10}, Case{10, -3, 10, 0}, Case{0, 5, 1, 0},
                          Case{-4, 2, 1, 0}, Case{200, 120, 200, 120}}) {
        form.SetProgressMax(c.Max);
        form.SetProgressPosition(c.Position);
        EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), c.ShownMax) << c.Max;
        EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), c.ShownPosition) << c.Max;
    }
}

TEST(Win32Window, FormCreateDrawsTheNoPackageStateInTheControls)
{
    WinWindowFixture fixture;
    TForm1 &form = fixture.Make();
    form.FormCreate();
    EXPECT_EQ(form.ComputerName, "TESTPC");
    auto visible = [&](int id) { return (GetWindowLongW(form.Control(id), GWL_STYLE) & WS_VISIBLE) != 0; };
    EXPECT_TRUE(visible(IdLab_NoPackage));
    EXPECT_FALSE(visible(IdP_Update));
    EXPECT_FALSE(visible(IdProgressBar));
    EXPECT_FALSE(IsWindowEnabled(form.Control(IdBtnUpdate)));
    EXPECT_EQ(Text(form.Control(IdLab_Product)), "");
    EXPECT_TRUE(fixture.messages.Boxes.empty());

    form.ShowPackage("演示产品", "1.0.0.1", "1.0.0.2", "C:\\升级\\demo.zip");
    EXPECT_TRUE(visible(IdP_Update));
    EXPECT_FALSE(visible(IdLab_NoPackage));
    EXPECT_TRUE(IsWindowEnabled(form.Control(IdBtnUpdate)));
    EXPECT_EQ(Text(form.Control(IdLab_Product)), "演示产品");
    EXPECT_EQ(Text(form.Control(IdLab_Path)), "C:\\升级\\demo.zip");
}

TEST(Win32Window, CheckBoxClickReachesTheLogicAndAProgrammaticCheckDoesNot)
{
    WinWindowFixture fixture;
    TForm1 &form = fixture.Make();
    // The installed build again: the upgrade button follows the check box.
    form.ShowPackage("演示产品", "1.0.0.1", "1.0.0.1", "C:\\demo.zip");
    const bool before = IsWindowEnabled(form.Control(IdBtnUpdate)) != FALSE;
    EXPECT_EQ(before, form.IsForceChecked());
    Click(form, IdCheckBox_Force);
    EXPECT_NE(form.IsForceChecked(), before);
    EXPECT_EQ(IsWindowEnabled(form.Control(IdBtnUpdate)) != FALSE, form.IsForceChecked());
    form.SetForceChecked(!form.IsForceChecked());
    EXPECT_NE(IsWindowEnabled(form.Control(IdBtnUpdate)) != FALSE, form.IsForceChecked());
}

TEST(Win32Window, CloseIsRefusedWhileAnUpgradeRunsAndErrorsGoToThePresenter)
{
    WinWindowFixture fixture;
    TForm1 *made = nullptr;
    bool stillOpen = false;
    TForm1 &form = fixture.Make([&](UpgradeContext &, const std::string &) -> bool {
        // The close button and the title bar's close, while the progress bar shows.
        Click(*made, IdBtnClose);
        SendMessageW(made->Handle(), WM_CLOSE, 0, 0);
        made->ProcessMessages();
        stillOpen = !made->Closed() && IsWindow(made->Handle()) &&
                    made->IsVisible(FormControl::ProgressBar);
        throw std::runtime_error("磁盘已满");
    });
    made = &form;
    form.ShowPackage("演示产品", "1.0.0.1", "1.0.0.2", "C:\\demo.zip");
    Click(form, IdBtnUpdate);
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(fixture.messages.Boxes.size(), 1u);
    EXPECT_EQ(fixture.messages.Boxes[0].Owner, form.Handle());
    EXPECT_EQ(fixture.messages.Boxes[0].Text, "磁盘已满");
    EXPECT_EQ(fixture.messages.Boxes[0].Caption, "朔岱产品离线升级程序");
    EXPECT_EQ(fixture.messages.Boxes[0].Icon, MessageIcon::Error);

    // After the run the close button closes the window.
    Click(form, IdBtnClose);
    EXPECT_TRUE(form.Closed());
}

} // namespace
