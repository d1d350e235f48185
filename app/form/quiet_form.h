#pragma once
// The window logic without a window, for an administrator's deployment engine: the same
// handlers, scan and run as the window, drawn as lines of text. Step texts and message boxes
// become lines on an output stream and in the log; nothing waits for a user.

#include "app/form/command_line.h"
#include "app/form/form_controls.h"
#include "app/form/form_logic.h"

#include <ostream>
#include <string>

namespace offline_upgrade {

// A view with no controls of its own: their state is kept in memory, every new step text and
// every message box is one line on the stream (flushed at once) and in the log. The message
// pump and the repaint have nothing to do.
class QuietFormView : public IFormView {
public:
    explicit QuietFormView(std::ostream &out) : out_(out) {}

    void SetStepText(const std::string &text) override;
    std::string StepText() const override
    {
        return controls_.Caption(FormControl::Lab_CurrentStep);
    }
    void SetProgressMax(int maximum) override;
    int ProgressMax() const override { return progressMax_; }
    void SetProgressPosition(int position) override;
    int ProgressPosition() const override { return progressPosition_; }
    void ProcessMessages() override {}
    void Repaint() override {}
    void ShowMessage(const std::string &text, const std::string &caption,
                     MessageIcon icon) override;

    void SetVisible(FormControl control, bool visible) override;
    bool IsVisible(FormControl control) const override { return controls_.IsVisible(control); }
    void SetEnabled(FormControl control, bool enabled) override;
    bool IsEnabled(FormControl control) const override { return controls_.IsEnabled(control); }
    void SetCaption(FormControl label, const std::string &text) override;
    std::string Caption(FormControl label) const override { return controls_.Caption(label); }
    void SetForceChecked(bool checked) override { controls_.SetForceChecked(checked); }
    bool IsForceChecked() const override { return controls_.IsForceChecked(); }
    // Kept for the result: a run that succeeded writes it as a line before "升级成功！".
    void Remark(const std::string &text) override { remark_ = text; }
    // There is no window to close; the run ends when its work is done.
    void RequestClose() override {}

    // Writes one line to the stream and to the log.
    void Line(const std::string &text, bool failure = false);
    // How many default error reports (an error that left a handler) have been shown.
    int ErrorReports() const { return errorReports_; }

private:
    std::ostream &out_;
    FormControlStates controls_;
    int progressMax_ = 100;
    int progressPosition_ = 0;
    int errorReports_ = 0;
    std::string remark_;
};

struct UnattendedOptions {
    // The check box "强制升级": a package of the installed build is applied only with it.
    bool Force = false;
    // When not empty, the one package file (a name in the program folder) the scan examines.
    std::string OnlyPackage;
};

// What the window does from its start to one press of "升级", without a window: this
// machine's identity and the scan (FormCreate), the check box set to options.Force as a user
// would set it, then the upgrade button's handler when the button is enabled. Returns the
// exit code: Upgraded, NothingToDo (no package accepted, or the upgrade button disabled by
// the check box rule), UpgradeFailed ("升级失败！", or an error left the run; a last line
// "失败步骤：" names the step it was in) or CannotStart (an error left the start).
ExitCode RunUnattended(FormServices services, const UnattendedOptions &options, std::ostream &out);

} // namespace offline_upgrade
