#include "app/Skin.h"

#include <QApplication>
#include <QFile>

namespace Skin {

QPalette palette()
{
    // The skin's own colours: dark blue-grey text on white and pale blue.
    const QColor text(0x1d, 0x2b, 0x3a);
    const QColor window(0xee, 0xf3, 0xfa);
    const QColor muted(0x5d, 0x6d, 0x82);
    QPalette colours(text, QColor(0xf3, 0xf7, 0xfc), Qt::white, QColor(0x8f, 0xb0, 0xda),
                     QColor(0xc3, 0xd4, 0xea), text, Qt::white, Qt::white, window);
    colours.setColor(QPalette::AlternateBase, QColor(0xf4, 0xf8, 0xfd));
    colours.setColor(QPalette::Highlight, QColor(0x2f, 0x6d, 0xb8));
    colours.setColor(QPalette::HighlightedText, Qt::white);
    colours.setColor(QPalette::ToolTipBase, QColor(0xff, 0xfb, 0xe6));
    colours.setColor(QPalette::ToolTipText, text);
    colours.setColor(QPalette::PlaceholderText, muted);
    colours.setColor(QPalette::Link, QColor(0x1f, 0x5a, 0xa6));
    colours.setColor(QPalette::LinkVisited, QColor(0x5b, 0x3a, 0x9c));
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        colours.setColor(QPalette::Disabled, role, QColor(0x8a, 0x97, 0xa8));
    return colours;
}

bool apply(const QString &appFolder)
{
    QFile skin(appFolder + QStringLiteral("/skin/vidmorph.qss"));
    if (!skin.open(QIODevice::ReadOnly))
        return false;
    const QString sheet = QString::fromUtf8(skin.readAll());
    if (sheet.trimmed().isEmpty())
        return false;
    QApplication::setPalette(palette());
    qApp->setStyleSheet(sheet);
    return true;
}

} // namespace Skin
