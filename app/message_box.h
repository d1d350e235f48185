#pragma once
// Message boxes of the window. The window shows every box through this interface, so that
// tests put a recorder in its place and no test ever blocks on a modal box.

#include "platform/window_facilities.h"

#include <string>

class QWidget;

namespace offline_upgrade {

class IMessagePresenter {
public:
    virtual ~IMessagePresenter() = default;
    // An application-modal box over parent with the text, the caption, the icon and one OK
    // button; returns when the user has closed it.
    virtual void Show(QWidget *parent, const std::string &text, const std::string &caption,
                      MessageIcon icon) = 0;
};

// The real boxes, as QMessageBox.
class QtMessagePresenter : public IMessagePresenter {
public:
    void Show(QWidget *parent, const std::string &text, const std::string &caption,
              MessageIcon icon) override;
};

} // namespace offline_upgrade
