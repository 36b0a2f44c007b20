#pragma once

#include <QRect>
#include <QSize>
#include <QString>

// Where every control of the main window sits, as one table in twips, the unit the window was
// designed in; the window reads its controls' places from here.
namespace MainLayout {

QSize windowSize();
// The control's place in pixels; an empty rectangle for a name the table does not hold.
QRect place(const QString &objectName);

} // namespace MainLayout
