#include "app/form/quiet_form.h"

#include "platform/diagnostics.h"
#include "platform/text.h"

#include <algorithm>
#include <utility>

namespace offline_upgrade {

void QuietFormView::Line(const std::string &text, bool failure)
{
    // Names from the package and its script are in these lines: a control character in one is
    // shown as an escape rather than obeyed by the terminal or the engine's reader.
    out_ << EscapeControls(text) << '\n' << std::flush;
    if (failure)
        LogError("unattended: " + text);
    else
        LogInfo("unattended: " + text);
}

void QuietFormView::SetStepText(const std::string &text)
{
    // A step text set again unchanged is no new step.
    if (text == controls_.Caption(FormControl::Lab_CurrentStep))
        return;
    controls_.SetCaption(FormControl::Lab_CurrentStep, text);
    Line(text);
}

void QuietFormView::SetProgressMax(int maximum)
{
    progressMax_ = std::max(maximum, 0);
    progressPosition_ = std::min(progressPosition_, progressMax_);
}

void QuietFormView::SetProgressPosition(int position)
{
    progressPosition_ = std::clamp(position, 0, progressMax_);
}

void QuietFormView::ShowMessage(const std::string &text, const std::string &caption,
                                MessageIcon icon)
{
    // The default error report carries the error's own text under the application title; the
    // stages' boxes and the result carry the design's texts under "提示".
    if (caption == kApplicationTitle) {
        ++errorReports_;
        Line(caption + "：" + text, true);
        return;
    }
    if (icon == MessageIcon::Information && !remark_.empty()) {
        // Before the result, so that the result stays the last line.
        Line(remark_);
        remark_.clear();
    }
    Line(text, icon == MessageIcon::Error);
}

void QuietFormView::SetVisible(FormControl control, bool visible)
{
    controls_.SetVisible(control, visible);
}

void QuietFormView::SetEnabled(FormControl control, bool enabled)
{
    controls_.SetEnabled(control, enabled);
}

void QuietFormView::SetCaption(FormControl label, const std::string &text)
{
    controls_.SetCaption(label, text);
}

ExitCode RunUnattended(FormServices services, const UnattendedOptions &options, std::ostream &out)
{
    QuietFormView view(out);
    FormLogic logic(std::move(services), view);
    logic.ScanOnly(options.OnlyPackage);
    LogInfo(std::string("unattended run: force ") + (options.Force ? "on" : "off") + ", package " +
            (options.OnlyPackage.empty() ? "any" : options.OnlyPackage));

    logic.FormCreate();
    if (view.ErrorReports() > 0)
        return ExitCode::CannotStart;
    if (!view.IsVisible(FormControl::P_Update)) {
        view.Line(view.Caption(FormControl::Lab_NoPackage));
        return ExitCode::NothingToDo;
    }
    // What the window's group box shows now, under its own labels.
    view.Line("升级产品：" + view.Caption(FormControl::Lab_Product));
    view.Line("当前版本号：" + view.Caption(FormControl::Lab_CurrBuild));
    view.Line("升级包版本号：" + view.Caption(FormControl::Lab_NewBuild));
    view.Line("升级包路径：" + view.Caption(FormControl::Lab_Path));

    // The scan leaves the check box checked; the option sets it as a user's click would.
    if (view.IsForceChecked() != options.Force) {
        view.SetForceChecked(options.Force);
        logic.CheckBox_ForceClick();
    }
    if (!view.IsEnabled(FormControl::BtnUpdate)) {
        view.Line("升级包版本号与当前版本号相同，未强制升级。");
        return ExitCode::NothingToDo;
    }

    logic.BtnUpdateClick();
    switch (logic.LastUpgrade()) {
    case UpgradeOutcome::Succeeded:
        return ExitCode::Upgraded;
    case UpgradeOutcome::Failed:
    case UpgradeOutcome::Error:
    case UpgradeOutcome::NotRun:
        break;
    }
    // The step the run stopped in: its last step text ("正在执行升级脚本(3/4)...",
    // "更新文件失败"), which the message lines above do not always name.
    view.Line("失败步骤：" + view.StepText(), true);
    return ExitCode::UpgradeFailed;
}

} // namespace offline_upgrade
