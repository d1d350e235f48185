#include "tests/support/recording_window.h"

#include <algorithm>

namespace offline_upgrade {

void RecordingWindow::SetStepText(const std::string &text)
{
    step_ = text;
    Steps.push_back(text);
    Calls.push_back("step:" + text);
}

void RecordingWindow::SetProgressMax(int maximum)
{
    max_ = std::max(maximum, 0);
    position_ = std::min(position_, max_);
    Calls.push_back("max:" + std::to_string(max_));
}

void RecordingWindow::SetProgressPosition(int position)
{
    position_ = std::clamp(position, 0, max_);
    Positions.push_back(position_);
    Calls.push_back("pos:" + std::to_string(position_));
}

void RecordingWindow::ProcessMessages()
{
    ++Pumps;
    Calls.push_back("pump");
    if (OnPump)
        OnPump();
}

void RecordingWindow::Repaint()
{
    ++Repaints;
    Calls.push_back("repaint");
}

void RecordingWindow::ShowMessage(const std::string &text, const std::string &caption,
                                  MessageIcon icon)
{
    Messages.push_back({text, caption, icon});
    Calls.push_back("message:" + text);
}

} // namespace offline_upgrade
