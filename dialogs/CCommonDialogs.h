#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>

class QWidget;

// The open-file dialog behind one object with properties, as the Add file command uses it:
// set Title, Path and Filter, call ShowOpen, read FileName (or, with MultiSelect, FileNames).
// The choice is kept from one showing to the next, so the dialog reopens where the user was.
class CCommonDialogs
{
public:
    void Init(QWidget *owner);

    // Text properties read back up to their first NUL character.
    QString Title() const;
    void setTitle(const QString &value) { m_title = value; }
    QString Path() const;
    void setPath(const QString &value) { m_path = value; }
    QString FileTitle() const;
    void setFileTitle(const QString &value) { m_fileTitle = value; }
    QString FileName() const;
    void setFileName(const QString &value) { m_fileName = value; }
    // "description|pattern|description|pattern..."
    QString Filter() const { return m_filter; }
    void setFilter(const QString &value) { m_filter = value; }
    QString DefExt() const { return m_defExt; }
    void setDefExt(const QString &value) { m_defExt = value; }

    // Whether the open dialog lets the user pick several files of one folder at once.
    bool MultiSelect() const { return m_multiSelect; }
    void setMultiSelect(bool value) { m_multiSelect = value; }
    // Every file of the latest confirmed choice, in the order the dialog listed them; FileName
    // is the first of them.
    QStringList FileNames() const { return m_fileNames; }

    // One existing file, or several with MultiSelect. -1 when the user confirmed (FileName,
    // FileNames, FileTitle and Path are set), 0 when the user cancelled (nothing changes).
    int ShowOpen();

    // The filter in the dialog's own form, one entry per description/pattern pair; "*.*"
    // matches every file, as users of the filter expect, also names without a dot.
    static QStringList nameFilters(const QString &filter);

private:
    QPointer<QWidget> m_owner;
    QString m_title;
    QString m_path;
    QString m_fileTitle;
    QString m_fileName;
    QString m_filter;
    QString m_defExt;
    bool m_multiSelect = false;
    QStringList m_fileNames;
};
