#include "app/message_box.h"

#include <QMessageBox>
#include <QPushButton>
#include <QString>

namespace offline_upgrade {

void QtMessagePresenter::Show(QWidget *parent, const std::string &text, const std::string &caption,
                              MessageIcon icon)
{
    QMessageBox box(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Information,
                    QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok,
                    parent);
    // The system's own boxes read "确定" on a Chinese desktop; no Qt translation is loaded.
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    // The default error report carries an error's own text, which may hold names from a
    // package: never markup.
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace offline_upgrade
