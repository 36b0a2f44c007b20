#include "convert/FileListModel.h"

#include "process/NativePath.h"

FileListModel::FileListModel(QObject *parent) : QAbstractTableModel(parent) {}

QString FileListModel::formatTextOf(const QString &text)
{
    return text.right(3).toUpper();
}

FileListModel::Entry FileListModel::entryFor(const QString &path, FormatFrom from)
{
    return {path, formatTextOf(from == FormatFrom::TrimmedPath ? path.trimmed() : path)};
}

QVector<FileListModel::Entry> FileListModel::entriesFor(const QStringList &paths, FormatFrom from)
{
    QVector<Entry> entries;
    entries.reserve(paths.size());
    for (const QString &path : paths)
        entries.append(entryFor(path, from));
    return entries;
}

int FileListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

int FileListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FileListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const Entry &entry = m_entries.at(index.row());
    switch (index.column()) {
    case FileName:
        // A name that is not UTF-8 is shown as people read it; the row keeps its exact bytes.
        return NativePath::readable(entry.path);
    case Format:
        return entry.formatText;
    default:
        return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case FileName:
        return QStringLiteral("文件名");
    case Format:
        return QStringLiteral("格式");
    default:
        return {};
    }
}

void FileListModel::append(const QVector<Entry> &entries)
{
    if (entries.isEmpty())
        return;
    const int first = int(m_entries.size());
    beginInsertRows({}, first, first + int(entries.size()) - 1);
    m_entries += entries;
    endInsertRows();
}

void FileListModel::removeAt(int row)
{
    if (row < 0 || row >= m_entries.size())
        return;
    beginRemoveRows({}, row, row);
    m_entries.removeAt(row);
    endRemoveRows();
}

void FileListModel::clear()
{
    beginResetModel();
    m_entries.clear();
    endResetModel();
}

QStringList FileListModel::paths() const
{
    QStringList result;
    result.reserve(m_entries.size());
    for (const Entry &entry : m_entries)
        result.append(entry.path);
    return result;
}
