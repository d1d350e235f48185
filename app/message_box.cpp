#include "app/message_box.h"

#include <QMessageBox>
#include <QString>

void QtMessagePresenter::Show(QWidget *parent, const std::string &text, const std::string &caption,
                              MessageIcon icon)
{
    QMessageBox box(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Information,
                    QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok,
                    parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}
