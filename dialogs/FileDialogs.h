#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The file and folder dialogs, shown modally. Tests queue the answers the next dialogs give
// instead of showing, and read where a dialog would have opened.
class FileDialogs
{
public:
    // One existing file; empty text when the user cancelled.
    static QString openFile(QWidget *owner, const QString &title, const QString &startFolder,
                            const QStringList &nameFilters, const QString &preselected,
                            const QString &defaultSuffix);
    // One or more existing files of one folder, in the order the dialog lists them; an empty
    // list when the user cancelled.
    static QStringList openFiles(QWidget *owner, const QString &title, const QString &startFolder,
                                 const QStringList &nameFilters, const QString &preselected,
                                 const QString &defaultSuffix);
    // One folder; empty text when the user cancelled.
    static QString chooseFolder(QWidget *owner, const QString &title);

    // The next dialogs answer these in order without showing, one path each; an empty text is
    // a cancel.
    static void queueAnswers(const QStringList &answers);
    // The next dialog answers with all of these files at once; an empty list is a cancel.
    static void queueFiles(const QStringList &files);
    // The folder the latest file dialog opened in (or would have).
    static QString lastStartFolder();
};
