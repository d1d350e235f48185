#pragma once
// What the main window offers to the scan and the upgrade stages to report through: the step
// label, the progress bar, the message pump, the repaint, the message box and the run of a
// long call while the window keeps answering. The window implements it; tests replace it with
// a recording object, so no test blocks on a modal box.

#include <functional>
#include <string>

namespace offline_upgrade {

// Message box icons, with the values of the Windows flags.
enum class MessageIcon { Information = 0x40, Error = 0x10 };

class IWindowFacilities {
public:
    virtual ~IWindowFacilities() = default;

    // The caption of the step label (Lab_CurrentStep).
    virtual void SetStepText(const std::string &text) = 0;
    virtual std::string StepText() const = 0;

    // The progress bar; its minimum is always 0. A position set outside 0..maximum is held at
    // the nearer end; a maximum below 0 is taken as 0.
    virtual void SetProgressMax(int maximum) = 0;
    virtual int ProgressMax() const = 0;
    virtual void SetProgressPosition(int position) = 0;
    virtual int ProgressPosition() const = 0;

    // Handles every pending window message (input, painting, timers) and returns when none is
    // left. Event handlers may run inside it.
    virtual void ProcessMessages() = 0;

    // Paints at once what is pending for painting; handles no other message.
    virtual void Repaint() = 0;

    // Runs work to its end while the window keeps answering: painting, input (the handlers'
    // states refuse what must wait), so a long call does not leave it frozen. work must touch
    // nothing the window's thread uses: the window, these facilities, the state the handlers
    // read; what it has to show is shown by the caller after it returned. What work throws is
    // thrown here. A window runs it on a thread of its own and pumps meanwhile; this default,
    // for faces without messages to answer, runs it in place.
    virtual void RunWhileAnswering(const std::function<void()> &work) { work(); }

    // An application-modal box with one OK button; returns when the user has closed it.
    virtual void ShowMessage(const std::string &text, const std::string &caption,
                             MessageIcon icon) = 0;

    // A remark on a run that succeeded, given before its result: what the run left out on
    // purpose, which the design's texts do not say. The window shows nothing; the unattended
    // output writes it as one line before the result's.
    virtual void Remark(const std::string &text) { (void)text; }
};

// The remark of a run on a machine that is not the database server: the locality rule left
// the SQL blocks out.
inline const std::string kScriptsLeftToServerText =
    "数据库服务器不是本机，升级脚本未执行（数据库部分不在本机升级）。";

// The caption of every message box of the tool.
inline const std::string kNoticeCaption = "提示";

} // namespace offline_upgrade
