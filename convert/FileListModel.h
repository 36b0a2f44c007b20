#pragma once

#include <QAbstractTableModel>
#include <QVector>

// The file list: one model behind both the visible list view and the hidden queue, so the
// two can never drift apart. Column 0 is the path, column 1 the format text computed when
// the row was added.
class FileListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    struct Entry
    {
        QString path;
        QString formatText;
    };

    explicit FileListModel(QObject *parent = nullptr);

    // The last three characters of the text, upper-cased ("clip.mpeg" shows "PEG").
    static QString formatTextOf(const QString &text);

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
