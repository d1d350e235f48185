#pragma once
// The state of the controls that the window logic sets, kept in memory, starting as the window
// starts. For a view that has no controls of its own to hold it, such as one that writes its
// messages as lines of text.

#include "app/form/form_logic.h"

#include <array>
#include <string>

namespace offline_upgrade {

class FormControlStates {
public:
    FormControlStates();

    void SetVisible(FormControl control, bool visible) { At(control).Visible = visible; }
    bool IsVisible(FormControl control) const { return At(control).Visible; }
    void SetEnabled(FormControl control, bool enabled) { At(control).Enabled = enabled; }
    bool IsEnabled(FormControl control) const { return At(control).Enabled; }
    void SetCaption(FormControl control, const std::string &text) { At(control).Caption = text; }
    const std::string &Caption(FormControl control) const { return At(control).Caption; }
    void SetForceChecked(bool checked) { forceChecked_ = checked; }
    bool IsForceChecked() const { return forceChecked_; }

private:
    struct State {
        bool Visible = true;
        bool Enabled = true;
        std::string Caption;
    };
    State &At(FormControl control) { return states_[static_cast<size_t>(control)]; }
    const State &At(FormControl control) const { return states_[static_cast<size_t>(control)]; }

    std::array<State, static_cast<size_t>(FormControl::ProgressBar) + 1> states_;
    bool forceChecked_ = true;
};

} // namespace offline_upgrade
