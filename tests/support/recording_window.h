#pragma once
// A window stand-in for tests: keeps the step text and the progress bar like the real window,
// records every call in order, and records message boxes instead of showing them.

#include "platform/window_facilities.h"

#include <functional>
#include <string>
#include <vector>

namespace offline_upgrade {

struct RecordedMessage {
    std::string Text;
    std::string Caption;
    MessageIcon Icon;
};

class RecordingWindow : public IWindowFacilities {
public:
    void SetStepText(const std::string &text) override;
    std::string StepText() const override { return step_; }
    void SetProgressMax(int maximum) override;
    int ProgressMax() const override { return max_; }
    void SetProgressPosition(int position) override;
    int ProgressPosition() const override { return position_; }
    void ProcessMessages() override;
    void Repaint() override;
    void ShowMessage(const std::string &text, const std::string &caption,
                     MessageIcon icon) override;
    void Remark(const std::string &text) override { Remarks.push_back(text); }

    // Every call, in order, as short texts: "step:TEXT", "max:N", "pos:N", "pump", "repaint",
    // "message:TEXT".
    std::vector<std::string> Calls;
    std::vector<std::string> Steps;        // every step text set, in order
    std::vector<int> Positions;            // every position after it was held in range
    std::vector<RecordedMessage> Messages; // every message box, in order
    std::vector<std::string> Remarks;      // every remark, in order
    int Pumps = 0;
    int Repaints = 0;
    // Runs inside each pump, as an event handler would.
    std::function<void()> OnPump;

private:
    std::string step_;
    int max_ = 100;
    int position_ = 0;
};

} // namespace offline_upgrade
