#pragma once

#include <QAbstractTableModel>
#include <QVector>

// The file list: one model behind both the visible list view and the hidden queue, so the
// two can never drift apart. Its columns are the Column enum; a row's values are made once, by
// entryFor, when the row is added.
class FileListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { FileName, Format, ColumnCount };

    struct Entry
    {
        QString path;
        QString formatText;
    };

    // Where a row's format text comes from: the path as it was handed over (a drop, the command
    // line, the headless mode), or the path without its surrounding blanks (Add file, Add folder).
    enum class FormatFrom { Path, TrimmedPath };

    explicit FileListModel(QObject *parent = nullptr);

    // The last three characters of the text, upper-cased ("clip.mpeg" shows "PEG").
    static QString formatTextOf(const QString &text);
    // The row of one file, whoever adds it.
    static Entry entryFor(const QString &path, FormatFrom from = FormatFrom::Path);
    static QVector<Entry> entriesFor(const QStringList &paths, FormatFrom from = FormatFrom::Path);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    void append(const QVector<Entry> &entries);
    void removeAt(int row);
    void clear();

    int count() const { return int(m_entries.size()); }
    QString pathAt(int row) const { return m_entries.at(row).path; }
    QStringList paths() const;

private:
    QVector<Entry> m_entries;
};
