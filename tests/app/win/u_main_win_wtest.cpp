// The Win32 window's own drawing and event wiring, read back through Win32 calls: where each
// control lies and its caption, compared with the Qt form app/u_main.ui (the design's one
// record), at 96 dpi and above; the names screen readers get; font and colour, the frame, the
// tab order, the progress bar, and the clicks that reach the logic (the refused close, the
// default error report through the message presenter, so that no box ever waits for a user).

#include "app/win/u_main_win.h"

#include "platform/host_identity.h"
#include "platform/win/wide.h"
#include "real_services.h"
#include "tests/app/two_block_package.h"
#include "tests/support/fake_data_access.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/run_test_again_win.h"
#include "tests/support/temp_folder.h"
#include "u_main_design.h"

#include <commctrl.h>
#include <objbase.h>
#include <oleacc.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace offline_upgrade {

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
        form = std::make_unique<TForm1>(FormServices{folder.Slashed(), files, processes, registry,
                                                     host, connection, query, command,
                                                     std::move(runner)},
                                        messages);
        return *form;
    }

    TempFolder folder;
    SystemFileSystem realFiles;
    FaultyFileSystem files{realFiles}; // lets a case act inside the scan's listing
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
    text.resize(
        static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
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

// The window's identifier of each widget of the design.
int IdOf(std::string_view name)
{
    static const std::pair<std::string_view, int> ids[] = {
        {"GroupBox1", IdGroupBox1},
        {"Lab_NoPackage", IdLab_NoPackage},
        {"P_Update", IdP_Update},
        {"Label1", IdLabel1},
        {"Label2", IdLabel2},
        {"Label3", IdLabel3},
        {"Label4", IdLabel4},
        {"Lab_Product", IdLab_Product},
        {"Lab_CurrBuild", IdLab_CurrBuild},
        {"Lab_NewBuild", IdLab_NewBuild},
        {"Lab_Path", IdLab_Path},
        {"CheckBox_Force", IdCheckBox_Force},
        {"BtnUpdate", IdBtnUpdate},
        {"BtnClose", IdBtnClose},
        {"ProgressBar", IdProgressBar},
        {"Lab_CurrentStep", IdLab_CurrentStep},
        {"Btn_refresh", IdBtn_refresh},
        {"Image1", IdImage1},
    };
    for (const auto &[widget, id] : ids)
        if (widget == name)
            return id;
    ADD_FAILURE() << "the window has no control for the design's " << name;
    return 0;
}

// The design's labels that are sized to their text: their width comes from the font.
bool SizedToText(std::string_view name)
{
    return name == "Lab_NoPackage" || name == "Lab_CurrentStep";
}

int FontHeight(HWND control)
{
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(font),
               &font);
    return font.lfHeight;
}

// Every control of the design (app/u_main.ui) where the window laid out for dpi must have it:
// the design's 96-dpi place and size times dpi/96, the client area likewise, and the font's
// character height of 12 pixels at 96 dpi. A label sized to its text is as wide as its text
// in its font.
void ExpectLaidOutFor(const TForm1 &form, int dpi)
{
    auto scale = [dpi](int value) { return MulDiv(value, dpi, 96); };
    for (const DesignControl &control : kDesign) {
        SCOPED_TRACE(control.Name);
        HWND hwnd = form.Control(IdOf(control.Name));
        const RECT rect = ClientRect(form, hwnd);
        EXPECT_EQ(rect.left, scale(control.X));
        EXPECT_EQ(rect.top, scale(control.Y));
        if (SizedToText(control.Name)) {
            const std::wstring text = Widen(Text(hwnd));
            HDC dc = GetDC(hwnd);
            HGDIOBJ old =
                SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
            SIZE size{};
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
            SelectObject(dc, old);
            ReleaseDC(hwnd, dc);
            EXPECT_EQ(rect.right - rect.left, size.cx);
            EXPECT_GE(rect.bottom - rect.top, scale(control.Height));
        } else {
            EXPECT_EQ(rect.right - rect.left, scale(control.Width));
            EXPECT_EQ(rect.bottom - rect.top, scale(control.Height));
        }
        if (std::string_view(control.Class) != "QFrame") {
            EXPECT_EQ(FontHeight(hwnd), -scale(12));
        }
    }
    RECT client{};
    GetClientRect(form.Handle(), &client);
    EXPECT_EQ(client.right, scale(kDesignClientWidth));
    EXPECT_EQ(client.bottom, scale(kDesignClientHeight));
}

TEST(Win32Window, EveryControlLiesAtTheDesignsPlaceWithItsCaption)
{
    WinWindowFixture fixture;
    TForm1 &form = fixture.Make();
    ExpectLaidOutFor(form, form.Dpi());
    for (const DesignControl &control : kDesign)
        EXPECT_EQ(Text(form.Control(IdOf(control.Name))), control.Caption) << control.Name;
    EXPECT_EQ(Text(form.Handle()), kDesignCaption);
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
        {IdLab_NoPackage, true, text},           {IdLabel1, false, text},
        {IdLab_Product, false, RGB(255, 0, 0)},  {IdLab_CurrBuild, false, RGB(255, 0, 0)},
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
    auto visible = [&](int id) {
        return (GetWindowLongW(form.Control(id), GWL_STYLE) & WS_VISIBLE) != 0;
    };
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

TEST(Win32Window, ACloseDuringAScanKeepsTheWindowUntilTheScanHasReturned)
{
    WinWindowFixture fixture;
    TForm1 &form = fixture.Make();
    form.FormCreate();
    ShowWindow(form.Handle(), SW_SHOW);
    // A package file makes the listing succeed; the archiver is missing, so it is rejected.
    fixture.folder.Write("a.zip", "PK");
    bool shownInScan = false;
    // The listing runs inside the scan, after its pump: the close button and the title bar's
    // close reach the window there.
    fixture.files.EditListing = [&](const std::string &, std::vector<FolderEntry> &) {
        Click(form, IdBtnClose);
        SendMessageW(form.Handle(), WM_CLOSE, 0, 0);
        shownInScan = !form.Closed() && IsWindow(form.Handle()) && IsWindowVisible(form.Handle());
    };
    Click(form, IdBtn_refresh);
    EXPECT_TRUE(shownInScan);
    // Once the scan has returned, the window closes.
    EXPECT_TRUE(form.Closed());
    EXPECT_TRUE(fixture.messages.Boxes.empty());
}

// Records what a control showed each time it painted, through a subclass of the control.
class PaintWatch {
public:
    PaintWatch(HWND control, std::function<std::string(HWND)> shown)
        : control_(control), shown_(std::move(shown))
    {
        SetWindowSubclass(control_, &PaintWatch::Proc, 1, reinterpret_cast<DWORD_PTR>(this));
    }
    ~PaintWatch() { RemoveWindowSubclass(control_, &PaintWatch::Proc, 1); }
    PaintWatch(const PaintWatch &) = delete;
    PaintWatch &operator=(const PaintWatch &) = delete;

    // Runs on the window's thread after each paint of the control.
    std::function<void(const std::string &shown)> OnPaint;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR data)
    {
        const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
        auto *watch = reinterpret_cast<PaintWatch *>(data);
        if (message == WM_PAINT && watch->OnPaint)
            watch->OnPaint(watch->shown_(hwnd));
        return result;
    }

    HWND control_;
    std::function<std::string(HWND)> shown_;
};

TEST(Win32Window, TheWindowPaintsAndAnswersWhileABlockRuns)
{
    WinWindowFixture fixture;
    TForm1 &form = ShowTwoBlockPackage(fixture);
    ShowWindow(form.Handle(), SW_SHOW);
    UpdateWindow(form.Handle());

    // The first block holds the database until the window has painted the step label and the
    // bar again after something covered them (as another window does), and a close that came
    // meanwhile was answered.
    std::mutex mutex;
    std::condition_variable changed;
    bool blockRunning = false;
    bool labelPainted = false;
    bool barPainted = false;
    std::vector<std::string> paintedInBlock;
    PaintWatch label(form.Control(IdLab_CurrentStep),
                     [](HWND hwnd) { return "step:" + Text(hwnd); });
    PaintWatch bar(form.Control(IdProgressBar), [](HWND hwnd) {
        return "bar:" + std::to_string(SendMessageW(hwnd, PBM_GETPOS, 0, 0)) + "/" +
               std::to_string(SendMessageW(hwnd, PBM_GETRANGE, FALSE, 0));
    });
    auto record = [&](bool &painted) {
        return [&](const std::string &shown) {
            const std::lock_guard<std::mutex> hold(mutex);
            if (!blockRunning)
                return;
            paintedInBlock.push_back(shown);
            painted = true;
            changed.notify_all();
        };
    };
    label.OnPaint = record(labelPainted);
    bar.OnPaint = record(barPainted);
    LRESULT closeAnswered = -1;
    const std::thread::id windowThread = std::this_thread::get_id();
    fixture.command.OnExecute = [&](const std::string &text) {
        // On the window's own thread nothing could paint while it waits.
        if (text != "create" || std::this_thread::get_id() == windowThread)
            return;
        {
            const std::lock_guard<std::mutex> hold(mutex);
            blockRunning = true;
        }
        InvalidateRect(form.Control(IdLab_CurrentStep), nullptr, TRUE);
        InvalidateRect(form.Control(IdProgressBar), nullptr, TRUE);
        // Sent from this thread, it is handled only when the window's thread takes messages.
        closeAnswered = SendMessageW(form.Handle(), WM_CLOSE, 0, 0);
        std::unique_lock<std::mutex> hold(mutex);
        changed.wait_for(hold, std::chrono::seconds(30),
                         [&] { return labelPainted && barPainted; });
        blockRunning = false;
    };

    Click(form, IdBtnUpdate);

    const std::vector<std::string> expected = {"step:正在执行升级脚本(0/2)...", "bar:0/2"};
    for (const std::string &paint : expected)
        EXPECT_NE(std::find(paintedInBlock.begin(), paintedInBlock.end(), paint),
                  paintedInBlock.end())
            << paint;
    // The close was answered, and refused.
    EXPECT_EQ(closeAnswered, 0);
    EXPECT_FALSE(form.Closed());
    EXPECT_EQ(fixture.command.Executed, (std::vector<std::string>{"create", "insert"}));
    ASSERT_EQ(fixture.messages.Boxes.size(), 1u);
    EXPECT_EQ(fixture.messages.Boxes[0].Text, "升级成功！");
}

// COM for the test's thread, as the program has it while its window runs.
class ComApartment {
public:
    ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComApartment() { CoUninitialize(); }
};

// The name that the accessibility service gives a client (a screen reader) for the control.
std::string AccessibleName(HWND control)
{
    IAccessible *object = nullptr;
    const HRESULT found =
        AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                   reinterpret_cast<void **>(&object));
    if (FAILED(found) || !object)
        return "(no accessible object: " + std::to_string(found) + ")";
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    const HRESULT named = object->get_accName(self, &name);
    std::string result =
        FAILED(named) ? "(no name: " + std::to_string(named) + ")" : Narrow(name ? name : L"");
    SysFreeString(name);
    object->Release();
    return result;
}

TEST(Win32Window, EveryControlHasTheAccessibleNameOfTheQtWindow)
{
    const ComApartment com;
    WinWindowFixture fixture;
    TForm1 &form = fixture.Make();
    for (const DesignControl &control : kDesign) {
        // As Qt names a widget: the accessible name the form gives it, else its caption.
        const std::string expected =
            *control.AccessibleName ? control.AccessibleName : control.Caption;
        EXPECT_FALSE(expected.empty()) << control.Name;
        EXPECT_EQ(AccessibleName(form.Control(IdOf(control.Name))), expected) << control.Name;
    }
    // A value label is named by the value it shows, as it changes.
    form.ShowPackage("演示产品", "1.0.0.1", "1.0.0.2", "C:\\demo.zip");
    EXPECT_EQ(AccessibleName(form.Control(IdLab_Product)), "演示产品");
}

TEST(Win32Window, LaysItselfOutAgainWhenTheDpiChanges)
{
    WinWindowFixture fixture;
    TForm1 &form = fixture.Make();
    form.SetStepText("正在解压升级包...");
    for (const int dpi : {120, 144, 96}) {
        SCOPED_TRACE(dpi);
        // Asked first, the window's size at the new dpi: the scaled client area in the frame
        // of that dpi.
        SIZE size{};
        ASSERT_TRUE(SendMessageW(form.Handle(), WM_GETDPISCALEDSIZE, static_cast<WPARAM>(dpi),
                                 reinterpret_cast<LPARAM>(&size)));
        RECT border{};
        const auto style = static_cast<DWORD>(GetWindowLongW(form.Handle(), GWL_STYLE));
        const auto exStyle = static_cast<DWORD>(GetWindowLongW(form.Handle(), GWL_EXSTYLE));
        AdjustWindowRectExForDpi(&border, style, FALSE, exStyle, static_cast<UINT>(dpi));
        EXPECT_EQ(size.cx - (border.right - border.left), MulDiv(kDesignClientWidth, dpi, 96));
        EXPECT_EQ(size.cy - (border.bottom - border.top), MulDiv(kDesignClientHeight, dpi, 96));
        // Then the system's message when the window moves to a monitor of another dpi: the
        // new dpi and the place it suggests.
        RECT suggested{40 + dpi, 30 + dpi, 40 + dpi + MulDiv(500, dpi, 96),
                       30 + dpi + MulDiv(290, dpi, 96)};
        SendMessageW(form.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
        form.ProcessMessages();
        EXPECT_EQ(form.Dpi(), dpi);
        ExpectLaidOutFor(form, dpi);
        RECT frame{};
        GetWindowRect(form.Handle(), &frame);
        EXPECT_EQ(frame.left, suggested.left);
        EXPECT_EQ(frame.top, suggested.top);
        // The arrow of 升级 at the new size.
        BUTTON_IMAGELIST images{};
        ASSERT_TRUE(SendMessageW(form.Control(IdBtnUpdate), BCM_GETIMAGELIST, 0,
                                 reinterpret_cast<LPARAM>(&images)));
        int width = 0, height = 0;
        ImageList_GetIconSize(images.himl, &width, &height);
        EXPECT_EQ(width, MulDiv(16, dpi, 96));
        EXPECT_EQ(height, MulDiv(16, dpi, 96));
    }
}

// The system's dpi of the prefix: HKCU\Control Panel\Desktop, LogPixels, read by Wine when a
// process starts. Set for the life of this object, then restored as it was.
class SystemDpi {
public:
    explicit SystemDpi(DWORD dpi)
    {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_, nullptr);
        DWORD size = sizeof(old_);
        had_ = RegQueryValueExW(key_, L"LogPixels", nullptr, &oldType_,
                                reinterpret_cast<BYTE *>(&old_), &size) == ERROR_SUCCESS &&
               oldType_ == REG_DWORD;
        set_ = RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<BYTE *>(&dpi),
                              sizeof(dpi)) == ERROR_SUCCESS;
    }
    ~SystemDpi()
    {
        if (had_)
            RegSetValueExW(key_, L"LogPixels", 0, oldType_, reinterpret_cast<BYTE *>(&old_),
                           sizeof(old_));
        else
            RegDeleteValueW(key_, L"LogPixels");
        RegCloseKey(key_);
    }
    bool Set() const { return set_; }

private:
    HKEY key_ = nullptr;
    DWORD old_ = 0;
    DWORD oldType_ = 0;
    bool had_ = false;
    bool set_ = false;
};

TEST(Win32Window, StartsLaidOutForTheSystemsDpi)
{
    if (const char *expected = std::getenv("KX_EXPECT_DPI")) {
        // The program started again at the system dpi that the first run set.
        WinWindowFixture fixture;
        TForm1 &form = fixture.Make();
        EXPECT_EQ(form.Dpi(), std::atoi(expected));
        ExpectLaidOutFor(form, std::atoi(expected));
        return;
    }
    const SystemDpi dpi(144);
    ASSERT_TRUE(dpi.Set());
    EXPECT_EQ(
        RunThisTestAgain(L"Win32Window.StartsLaidOutForTheSystemsDpi", L"KX_EXPECT_DPI", L"144"),
        0);
}

} // namespace

} // namespace offline_upgrade
