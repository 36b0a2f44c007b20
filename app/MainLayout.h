#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

// Where every control of the main window sits, as one table in twips, the unit the window was
// designed in; the window reads its controls' places from here.
namespace MainLayout {

QSize windowSize();
// The control's place in pixels; an empty rectangle for a name the table does not hold.
QRect place(const QString &objectName);
// The width in pixels of a column of the file list (FileListModel::Column); the columns
// together fill the list.
int columnWidth(int column);

// A control made on the window, named and put in its place.
template <typename Control, typename... Arguments>
Control *placed(QWidget *window, const QString &name, Arguments &&...arguments)
{
    auto *control = new Control(std::forward<Arguments>(arguments)..., window);
    control->setObjectName(name);
    control->setGeometry(place(name));
    return control;
}

} // namespace MainLayout
