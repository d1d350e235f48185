#pragma once
// The main window on Windows, as a plain Win32 window: draws the controls of the design and
// forwards their events to the window logic, which decides the states. It is the view through
// which the logic and the stages report. Positions are the design's at 96 dpi, scaled to the
// monitor's dpi (the program declares per-monitor awareness in its manifest). Screen readers
// get the Qt window's names for the controls.

#include "app/form/form_logic.h"
#include "platform/window_facilities.h"

#include <windows.h>

#include <chrono>
#include <string>

namespace offline_upgrade {

// Message boxes of the window. The window shows every box through this interface, so that
// tests put a recorder in its place and no test ever blocks on a modal box.
class IMessagePresenter {
public:
    virtual ~IMessagePresenter() = default;
    // An application-modal box over owner with the text, the caption, the icon and one 确定
    // button; returns when the user has closed it.
    virtual void Show(HWND owner, const std::string &text, const std::string &caption,
                      MessageIcon icon) = 0;
};

// The real boxes, as MessageBoxW, whose OK button is captioned 确定 whatever the system's
// language.
class Win32MessagePresenter : public IMessagePresenter {
public:
    void Show(HWND owner, const std::string &text, const std::string &caption,
              MessageIcon icon) override;
};

// The identifiers of the controls; none is IDOK or IDCANCEL, so Enter and Escape press no
// button the user has not focused.
enum TForm1ControlId : int {
    IdGroupBox1 = 100,
    IdLab_NoPackage,
    IdP_Update,
    IdLabel1,
    IdLabel2,
    IdLabel3,
    IdLabel4,
    IdLab_Product,
    IdLab_CurrBuild,
    IdLab_NewBuild,
    IdLab_Path,
    IdCheckBox_Force,
    IdBtnUpdate,
    IdBtnClose,
    IdProgressBar,
    IdLab_CurrentStep,
    IdBtn_refresh,
    IdImage1,
};

class TForm1 : public IFormView {
    // First, so that the references to the logic's state below bind to a logic that exists.
    IMessagePresenter &messages_;
    FormLogic logic_;

public:
    // Makes the window, hidden and centred on the primary monitor's work area. The services
    // are the logic's, as every face of the program gets them (app/start_up.h); the boxes go
    // through messages. Every object named must outlive the window.
    TForm1(FormServices services, IMessagePresenter &messages);
    ~TForm1() override;
    TForm1(const TForm1 &) = delete;
    TForm1 &operator=(const TForm1 &) = delete;

    HWND Handle() const { return hwnd_; }
    HWND Control(int id) const { return GetDlgItem(Owner(id), id); }
    // The window is destroyed (closed and allowed to close).
    bool Closed() const { return hwnd_ == nullptr; }
    // Shows the window and runs the message loop until it is closed; returns at once when a
    // close was granted already.
    int Run();

    // Window facilities.
    void SetStepText(const std::string &text) override;
    std::string StepText() const override;
    void SetProgressMax(int maximum) override;
    int ProgressMax() const override { return progressMax_; }
    void SetProgressPosition(int position) override;
    int ProgressPosition() const override { return progressPosition_; }
    void ProcessMessages() override;
    // Paints what is pending at once, unless the window was painted less than
    // kRepaintInterval ago (a stage may repaint after each of thousands of small files).
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

    // The state of the program, held by the logic.
    T_PackageInfo &Package;
    T_ProductReg &Product;
    std::string &ComputerName;
    std::string &LocalIP;

    // The scan's two states, as the scan sets them.
    void ShowNoPackage() { logic_.ShowNoPackage(); }
    void ShowPackage(const std::string &product, const std::string &currBuild,
                     const std::string &newBuild, const std::string &path)
    {
        logic_.ShowPackage(product, currBuild, newBuild, path);
    }

    // The design's handlers.
    void FormCreate() { logic_.FormCreate(); }
    void BtnCloseClick() { logic_.BtnCloseClick(); }
    void CheckBox_ForceClick() { logic_.CheckBox_ForceClick(); }
    void BtnUpdateClick() { logic_.BtnUpdateClick(); }
    void Btn_refreshClick() { logic_.Btn_refreshClick(); }
    void FormCloseQuery(bool &CanClose) { logic_.FormCloseQuery(CanClose); }

    // The dots per inch the window is laid out for.
    int Dpi() const { return dpi_; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    // Places every control and sizes the window for the dpi, with fonts of that size.
    void Layout(int dpi);
    void MakeFonts(int dpi);
    void SizeToText(int id);
    void PreparePaint();
    void ShowProgress();
    HWND Owner(int id) const;
    int Id(FormControl control) const;
    int Scale(int value) const { return MulDiv(value, dpi_, 96); }

    HWND hwnd_ = nullptr;
    HWND panel_ = nullptr;
    HFONT font_ = nullptr;
    HFONT boldFont_ = nullptr;
    HBITMAP globe_ = nullptr;
    HANDLE arrowImages_ = nullptr; // the button's image list
    HBRUSH face_ = nullptr;
    int dpi_ = 96;
    bool running_ = false; // the message loop of Run is running
    int progressMax_ = 100;
    int progressPosition_ = 0;
    std::chrono::steady_clock::time_point nextPaint_{};
    bool stepSizePending_ = false;
};

} // namespace offline_upgrade
