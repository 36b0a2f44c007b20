#include "app/MessageBoxSink.h"

#include <QMessageBox>

void MessageBoxSink::showMessage(Icon icon, const QString &caption, const QString &text)
{
    QMessageBox::Icon boxIcon = QMessageBox::Information;
    if (icon == Icon::Stop)
        boxIcon = QMessageBox::Critical;
    else if (icon == Icon::Exclamation)
        boxIcon = QMessageBox::Warning;
    QMessageBox box(boxIcon, caption, text, QMessageBox::Ok, m_owner);
    box.exec();
}
