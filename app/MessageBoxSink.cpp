#include "app/MessageBoxSink.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

void MessageBoxSink::showMessage(Icon icon, const QString &caption, const QString &text)
{
    QMessageBox::Icon boxIcon = QMessageBox::Information;
    if (icon == Icon::Stop)
        boxIcon = QMessageBox::Critical;
    else if (icon == Icon::Exclamation)
        boxIcon = QMessageBox::Warning;
    QMessageBox box(boxIcon, caption, text, QMessageBox::Ok, m_owner);
    fitCaption(box);
    box.exec();
}

void MessageBoxSink::fitCaption(QMessageBox &box)
{
    // Title bars commonly draw their caption bold and a little larger than the window's text;
    // a box sized for its text alone cuts a caption longer than that text.
    QFont titleFont = box.font();
    titleFont.setBold(true);
    if (titleFont.pointSizeF() > 0)
        titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    else
        titleFont.setPixelSize(titleFont.pixelSize() * 5 / 4);
    const int width =
        QFontMetrics(titleFont).horizontalAdvance(box.windowTitle()) + TitleBarAllowance;
    // QMessageBox sizes itself from its layout's minimum width when it is shown.
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
}
