#include "app/win/u_main_win.h"

#include "app/form/off_window_thread.h"
#include "app/win/accessible_name.h"
#include "app/win/resource_ids.h"
#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/win/wide.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>

namespace offline_upgrade {

namespace {

const wchar_t kWindowClass[] = L"TForm1";
const wchar_t kPanelClass[] = L"TForm1Panel";

// The design's controls at 96 dpi; the panel's children are placed in the panel.
struct ControlDesign {
    int Id;
    const wchar_t *ClassName;
    const wchar_t *Text;
    DWORD Style;
    bool InPanel;
    int X, Y, Width, Height;
    // For a control without text of its own: its name for screen readers, as in the Qt window.
    // Any other control is named by its text.
    const wchar_t *AccessibleName = nullptr;
};

constexpr DWORD kChild = WS_CHILD | WS_CLIPSIBLINGS;
constexpr DWORD kLabel = kChild | WS_VISIBLE | SS_LEFT | SS_NOPREFIX;

// In creation order, which is the order of the tab stops and of the z order: the buttons,
// then the panel (the check box is in it), then what lies under them.
const ControlDesign kControls[] = {
    {IdBtnUpdate, L"BUTTON", L"升级",
     kChild | WS_VISIBLE | WS_TABSTOP | WS_DISABLED | BS_PUSHBUTTON, false, 403, 66, 75, 25},
    {IdBtn_refresh, L"BUTTON", L"刷新", kChild | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, false,
     403, 22, 75, 25},
    {IdBtnClose, L"BUTTON", L"退出", kChild | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, false, 403,
     110, 75, 25},
    // P_Update, in the group box at (2, 14); hidden until a package is found.
    {IdP_Update, kPanelClass, L"", kChild, false, 101, 20, 295, 201, L"升级包信息"},
    {IdLabel1, L"STATIC", L"升级产品：", kLabel, true, 7, 9, 60, 12},
    {IdLabel2, L"STATIC", L"当前版本号：", kLabel, true, 7, 41, 72, 12},
    {IdLabel3, L"STATIC", L"升级包版本号：", kLabel, true, 7, 74, 84, 12},
    {IdLabel4, L"STATIC", L"升级包路径：", kLabel, true, 7, 107, 72, 12},
    {IdLab_Product, L"STATIC", L"值", kLabel, true, 89, 9, 175, 12},
    {IdLab_CurrBuild, L"STATIC", L"值", kLabel, true, 89, 41, 175, 12},
    {IdLab_NewBuild, L"STATIC", L"值", kLabel, true, 89, 74, 175, 12},
    {IdLab_Path, L"STATIC", L"值", kLabel, true, 89, 107, 199, 46},
    {IdCheckBox_Force, L"BUTTON", L"强制升级", kChild | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
     true, 7, 159, 69, 17},
    // In the group box at (64, 80), sized to its text.
    {IdLab_NoPackage, L"STATIC", L"未找到有效的升级包文件！", kLabel, false, 163, 86, 156, 12},
    {IdGroupBox1, L"BUTTON", L"升级内容", kChild | WS_VISIBLE | BS_GROUPBOX, false, 99, 6, 299,
     217},
    {IdImage1, L"STATIC", L"", kChild | WS_VISIBLE | SS_OWNERDRAW, false, 0, 0, 96, 224,
     L"产品升级图片"},
    {IdLab_CurrentStep, L"STATIC", L"当前正在进行的步骤", kChild | SS_LEFT | SS_NOPREFIX, false, 5,
     229, 108, 12},
    {IdProgressBar, PROGRESS_CLASSW, L"", kChild | PBS_SMOOTH, false, 0, 246, 488, 14, L"升级进度"},
};

const ControlDesign &Design(int id)
{
    return *std::find_if(std::begin(kControls), std::end(kControls),
                         [id](const ControlDesign &design) { return design.Id == id; });
}

bool IsRed(int id)
{
    return id == IdLab_Product || id == IdLab_CurrBuild || id == IdLab_NewBuild || id == IdLab_Path;
}

// The dpi calls of newer systems, looked up so that the program also starts without them.
template <typename Function> Function UserCall(const char *name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

int WindowDpi(HWND hwnd)
{
    using GetDpiForWindowCall = UINT(WINAPI *)(HWND);
    static const auto call = UserCall<GetDpiForWindowCall>("GetDpiForWindow");
    if (call)
        if (const UINT dpi = call(hwnd); dpi != 0)
            return static_cast<int>(dpi);
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : 96;
}

RECT WindowRectFor(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, int dpi)
{
    RECT rect{0, 0, clientWidth, clientHeight};
    using AdjustCall = BOOL(WINAPI *)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjust = UserCall<AdjustCall>("AdjustWindowRectExForDpi");
    if (!adjust || !adjust(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi)))
        AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    return rect;
}

HINSTANCE Instance()
{
    return GetModuleHandleW(nullptr);
}

void RegisterClasses()
{
    static bool registered = false;
    if (registered)
        return;
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    registered = true;
}

// Sets 确定 on the OK button of the box that is about to show, whatever the system's
// language gives it.
HHOOK messageHook = nullptr;

LRESULT CALLBACK MessageBoxHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        SetDlgItemTextW(reinterpret_cast<HWND>(wParam), IDOK, L"确定");
        UnhookWindowsHookEx(messageHook);
        messageHook = nullptr;
        return 0;
    }
    return CallNextHookEx(messageHook, code, wParam, lParam);
}

} // namespace

void Win32MessagePresenter::Show(HWND owner, const std::string &text, const std::string &caption,
                                 MessageIcon icon)
{
    messageHook = SetWindowsHookExW(WH_CBT, MessageBoxHook, nullptr, GetCurrentThreadId());
    MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(),
                MB_OK | MB_APPLMODAL | static_cast<UINT>(icon));
    if (messageHook) {
        UnhookWindowsHookEx(messageHook);
        messageHook = nullptr;
    }
}

TForm1::TForm1(FormServices services, IMessagePresenter &messages)
    : messages_(messages), logic_(std::move(services), *this), Package(logic_.Package),
      Product(logic_.Product), ComputerName(logic_.ComputerName), LocalIP(logic_.LocalIP)
{
    RegisterClasses();
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    if (!GetClassInfoExW(Instance(), kWindowClass, &windowClass)) {
        windowClass = WNDCLASSEXW{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = Instance();
        windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.hIcon = LoadIconW(Instance(), MAKEINTRESOURCEW(KX_ICON_GEAR));
        windowClass.lpszClassName = kWindowClass;
        RegisterClassExW(&windowClass);
        WNDCLASSEXW panelClass = windowClass;
        panelClass.lpfnWndProc = PanelProc;
        panelClass.hIcon = nullptr;
        panelClass.lpszClassName = kPanelClass;
        RegisterClassExW(&panelClass);
    }
    face_ = GetSysColorBrush(COLOR_BTNFACE);
    // A fixed dialog frame: the title bar has only the close button.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    hwnd_ =
        CreateWindowExW(exStyle, kWindowClass, Widen(kWindowCaption).c_str(), style, CW_USEDEFAULT,
                        CW_USEDEFAULT, 488, 260, nullptr, nullptr, Instance(), this);
    if (!hwnd_)
        throw KxError("the window cannot be made: " + LastErrorText());
    if (HMENU menu = GetSystemMenu(hwnd_, FALSE))
        for (UINT command : {SC_MAXIMIZE, SC_MINIMIZE, SC_SIZE, SC_RESTORE})
            DeleteMenu(menu, command, MF_BYCOMMAND);
    CreateControls();
    Layout(WindowDpi(hwnd_));

    // Centred on the work area of the primary monitor.
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT frame{};
    GetWindowRect(hwnd_, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

TForm1::~TForm1()
{
    running_ = false;
    if (hwnd_)
        DestroyWindow(hwnd_);
    if (font_)
        DeleteObject(font_);
    if (boldFont_)
        DeleteObject(boldFont_);
    if (globe_)
        DeleteObject(globe_);
    if (arrowImages_)
        ImageList_Destroy(static_cast<HIMAGELIST>(arrowImages_));
}

void TForm1::CreateControls()
{
    for (const ControlDesign &design : kControls) {
        HWND parent = design.InPanel ? panel_ : hwnd_;
        DWORD exStyle = design.Id == IdP_Update ? WS_EX_CONTROLPARENT : 0;
        HWND control = CreateWindowExW(
            exStyle, design.ClassName, design.Text, design.Style, 0, 0, 0, 0, parent,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(design.Id)), Instance(), nullptr);
        if (!control)
            throw KxError("a control of the window cannot be made: " + LastErrorText());
        if (design.Id == IdP_Update)
            panel_ = control;
        if (design.AccessibleName && !SetAccessibleName(control, design.AccessibleName))
            LogWarning("a control of the window has no accessible name: " + LastErrorText());
    }
    SendMessageW(Control(IdCheckBox_Force), BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(Control(IdProgressBar), PBM_SETRANGE32, 0, progressMax_);
    // The picture is drawn from a bitmap twice the design's size when the dpi is above 96.
    globe_ = static_cast<HBITMAP>(LoadImageW(Instance(), MAKEINTRESOURCEW(KX_BITMAP_GLOBE),
                                             IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

void TForm1::MakeFonts(int dpi)
{
    // 12 pixels at 96 dpi: the character height, as the design means it.
    auto make = [dpi](int weight) {
        return CreateFontW(-MulDiv(12, dpi, 96), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                           GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_DONTCARE, L"宋体");
    };
    HFONT font = make(FW_NORMAL);
    HFONT bold = make(FW_BOLD);
    for (const ControlDesign &design : kControls)
        SendMessageW(Control(design.Id), WM_SETFONT,
                     reinterpret_cast<WPARAM>(design.Id == IdLab_NoPackage ? bold : font), FALSE);
    if (font_)
        DeleteObject(font_);
    if (boldFont_)
        DeleteObject(boldFont_);
    font_ = font;
    boldFont_ = bold;
}

void TForm1::Layout(int dpi)
{
    dpi_ = dpi;
    MakeFonts(dpi);
    const DWORD style = static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_EXSTYLE));
    // The frame as the window's own dpi draws it: on WM_DPICHANGED that is already the new one.
    const RECT frame = WindowRectFor(Scale(488), Scale(260), style, exStyle, WindowDpi(hwnd_));
    SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // A control in the panel is placed where its place in the window, scaled, falls: scaling
    // the panel's place and the place in the panel apart could round them a pixel away.
    const ControlDesign &panel = Design(IdP_Update);
    for (const ControlDesign &design : kControls) {
        const int dx = design.InPanel ? panel.X : 0;
        const int dy = design.InPanel ? panel.Y : 0;
        SetWindowPos(Control(design.Id), nullptr, Scale(dx + design.X) - Scale(dx),
                     Scale(dy + design.Y) - Scale(dy), Scale(design.Width), Scale(design.Height),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SizeToText(IdLab_NoPackage);
    SizeToText(IdLab_CurrentStep);

    // The arrow of BtnUpdate: the grey arrow in the disabled state, the red one otherwise.
    const int size = Scale(16);
    HIMAGELIST images = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 6, 0);
    for (int state = 1; state <= 6; ++state) {
        const int icon = state == 4 ? KX_ICON_ARROW_DISABLED : KX_ICON_ARROW;
        if (HICON picture = static_cast<HICON>(
                LoadImageW(Instance(), MAKEINTRESOURCEW(icon), IMAGE_ICON, size, size, 0))) {
            ImageList_AddIcon(images, picture);
            DestroyIcon(picture);
        }
    }
    BUTTON_IMAGELIST list{images, {Scale(2), 0, 0, 0}, BUTTON_IMAGELIST_ALIGN_LEFT};
    SendMessageW(Control(IdBtnUpdate), BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&list));
    if (arrowImages_)
        ImageList_Destroy(static_cast<HIMAGELIST>(arrowImages_));
    arrowImages_ = images;
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void TForm1::SizeToText(int id)
{
    HWND control = Control(id);
    const std::wstring text = Widen(
        Caption(id == IdLab_NoPackage ? FormControl::Lab_NoPackage : FormControl::Lab_CurrentStep));
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, id == IdLab_NoPackage ? boldFont_ : font_);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    SetWindowPos(control, nullptr, 0, 0, size.cx, std::max<LONG>(size.cy, Scale(12)),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND TForm1::Owner(int id) const
{
    for (const ControlDesign &design : kControls)
        if (design.Id == id)
            return design.InPanel ? panel_ : hwnd_;
    return hwnd_;
}

int TForm1::Id(FormControl control) const
{
    switch (control) {
    case FormControl::BtnUpdate:
        return IdBtnUpdate;
    case FormControl::Btn_refresh:
        return IdBtn_refresh;
    case FormControl::BtnClose:
        return IdBtnClose;
    case FormControl::CheckBox_Force:
        return IdCheckBox_Force;
    case FormControl::Lab_NoPackage:
        return IdLab_NoPackage;
    case FormControl::P_Update:
        return IdP_Update;
    case FormControl::Lab_Product:
        return IdLab_Product;
    case FormControl::Lab_CurrBuild:
        return IdLab_CurrBuild;
    case FormControl::Lab_NewBuild:
        return IdLab_NewBuild;
    case FormControl::Lab_Path:
        return IdLab_Path;
    case FormControl::Lab_CurrentStep:
        return IdLab_CurrentStep;
    case FormControl::ProgressBar:
        return IdProgressBar;
    }
    throw KxError("unknown control");
}

void TForm1::SetStepText(const std::string &text)
{
    if (text == StepText())
        return;
    SetWindowTextW(Control(IdLab_CurrentStep), Widen(text).c_str());
    // Measured once, when the window next paints.
    stepSizePending_ = true;
}

std::string TForm1::StepText() const
{
    return Caption(FormControl::Lab_CurrentStep);
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
    HWND bar = Control(IdProgressBar);
    // A range of 0 to 0 is shown as an empty bar.
    SendMessageW(bar, PBM_SETRANGE32, 0, std::max(progressMax_, 1));
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(progressPosition_), 0);
}

void TForm1::PreparePaint()
{
    if (stepSizePending_ && hwnd_) {
        stepSizePending_ = false;
        SizeToText(IdLab_CurrentStep);
    }
}

void TForm1::ProcessMessages()
{
    PreparePaint();
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // For the loop of Run, which ends the program.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (!hwnd_ || !IsDialogMessageW(hwnd_, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

void TForm1::RunWhileAnswering(const std::function<void()> &work)
{
    RunOffWindowThread(*this, work);
}

void TForm1::Repaint()
{
    const auto now = std::chrono::steady_clock::now();
    if (now < nextPaint_ || !hwnd_)
        return;
    PreparePaint();
    // Only what is pending is painted; no other message is handled.
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    nextPaint_ = std::chrono::steady_clock::now() + kRepaintInterval;
}

void TForm1::ShowMessage(const std::string &text, const std::string &caption, MessageIcon icon)
{
    PreparePaint();
    messages_.Show(hwnd_, text, caption, icon);
}

void TForm1::SetVisible(FormControl control, bool visible)
{
    ShowWindow(Control(Id(control)), visible ? SW_SHOWNA : SW_HIDE);
}

bool TForm1::IsVisible(FormControl control) const
{
    // Shown as far as the control itself goes, also while the window is not yet on screen.
    return (GetWindowLongW(Control(Id(control)), GWL_STYLE) & WS_VISIBLE) != 0;
}

void TForm1::SetEnabled(FormControl control, bool enabled)
{
    EnableWindow(Control(Id(control)), enabled);
}

bool TForm1::IsEnabled(FormControl control) const
{
    return IsWindowEnabled(Control(Id(control))) != FALSE;
}

void TForm1::SetCaption(FormControl label, const std::string &text)
{
    if (label == FormControl::Lab_CurrentStep) {
        SetStepText(text);
        return;
    }
    SetWindowTextW(Control(Id(label)), Widen(text).c_str());
}

std::string TForm1::Caption(FormControl label) const
{
    HWND control = Control(Id(label));
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return Narrow(text);
}

void TForm1::SetForceChecked(bool checked)
{
    SendMessageW(Control(IdCheckBox_Force), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool TForm1::IsForceChecked() const
{
    return SendMessageW(Control(IdCheckBox_Force), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TForm1::RequestClose()
{
    // As the close button of the title bar: WM_CLOSE asks FormCloseQuery.
    if (hwnd_)
        SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}

int TForm1::Run()
{
    // Closed while the first scan ran, before it was ever shown.
    if (!hwnd_)
        return 0;
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
    running_ = true;
    MSG message;
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        if (!hwnd_ || !IsDialogMessageW(hwnd_, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    running_ = false;
    return got == 0 ? static_cast<int>(message.wParam) : 1;
}

LRESULT CALLBACK TForm1::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto *form =
            static_cast<TForm1 *>(reinterpret_cast<CREATESTRUCTW *>(lParam)->lpCreateParams);
        form->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto *form = reinterpret_cast<TForm1 *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!form)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    return form->Handle(message, wParam, lParam);
}

LRESULT CALLBACK TForm1::PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    // The panel only groups: what its controls tell their parent goes to the window.
    switch (message) {
    case WM_COMMAND:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_DRAWITEM:
        return SendMessageW(GetParent(hwnd), message, wParam, lParam);
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

LRESULT TForm1::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND hwnd = hwnd_;
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            switch (LOWORD(wParam)) {
            case IdBtnUpdate:
                BtnUpdateClick();
                return 0;
            case IdBtn_refresh:
                Btn_refreshClick();
                return 0;
            case IdBtnClose:
                BtnCloseClick();
                return 0;
            case IdCheckBox_Force:
                CheckBox_ForceClick();
                return 0;
            default:
                break;
            }
        }
        // Enter and Escape away from a button (IDOK, IDCANCEL) do nothing.
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
        SetTextColor(dc, IsRed(id) ? RGB(255, 0, 0) : GetSysColor(COLOR_BTNTEXT));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(face_);
    }
    case WM_DRAWITEM: {
        const auto *item = reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
        if (item->CtlID != IdImage1)
            break;
        FillRect(item->hDC, &item->rcItem, face_);
        if (globe_) {
            BITMAP info{};
            GetObjectW(globe_, sizeof(info), &info);
            HDC source = CreateCompatibleDC(item->hDC);
            HGDIOBJ old = SelectObject(source, globe_);
            // The top 224 of the picture's 240 rows, at the window's scale.
            const int rows = MulDiv(info.bmHeight, 224, 240);
            SetStretchBltMode(item->hDC, HALFTONE);
            StretchBlt(item->hDC, 0, 0, item->rcItem.right - item->rcItem.left,
                       item->rcItem.bottom - item->rcItem.top, source, 0, 0, info.bmWidth, rows,
                       SRCCOPY);
            SelectObject(source, old);
            DeleteDC(source);
        }
        return TRUE;
    }
    case WM_PAINT:
        PreparePaint();
        break;
    case WM_CLOSE:
        // Refused, or put off while a scan runs: the window stays as it is.
        if (logic_.CloseRequested())
            DestroyWindow(hwnd);
        return 0;
    case WM_GETDPISCALEDSIZE: {
        // Asked before WM_DPICHANGED: the size the window takes at the new dpi, so that the
        // place the system then suggests is made for it.
        const int dpi = static_cast<int>(wParam);
        const RECT frame =
            WindowRectFor(MulDiv(488, dpi, 96), MulDiv(260, dpi, 96),
                          static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)),
                          static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE)), dpi);
        auto *size = reinterpret_cast<SIZE *>(lParam);
        size->cx = frame.right - frame.left;
        size->cy = frame.bottom - frame.top;
        return TRUE;
    }
    case WM_DPICHANGED: {
        Layout(HIWORD(wParam));
        const RECT *suggested = reinterpret_cast<const RECT *>(lParam);
        SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_DESTROY:
        if (running_)
            PostQuitMessage(0);
        break;
    case WM_NCDESTROY:
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        panel_ = nullptr;
        break;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace offline_upgrade
