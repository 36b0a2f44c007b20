#pragma once

#include "convert/RunLock.h"
#include "headless/FolderWatch.h"

#include <QHash>
#include <QString>

// What a watch of one folder into one output folder has already dealt with, kept in a small
// hidden file in the output folder, so that a watch started again converts nothing twice: each
// version of a file (its name below the watched folder, size and time stamp) that converted,
// failed or was skipped. The watch holds the file's lock for as long as it runs, so two
// watches of one folder into one output folder cannot both convert a file.
class WatchState
{
public:
    enum class Opened { Yes, Busy, Failed };

    // Reads the state of watching `watchFolder` into `outputFolder` (made when new) and takes
    // its lock. Busy: another watch holds it.
    Opened open(const QString &outputFolder, const QString &watchFolder);
    QString path() const { return m_lock.path(); }
    bool contains(const QString &file, const FolderWatch::Stamp &stamp) const;
    // Notes the file's version as dealt with: "done", "failed" or "skipped".
    void record(const QString &file, const FolderWatch::Stamp &stamp, const QString &how);

    // The file's name: the watched folder's identity in the name, so watches of several folders
    // into one output folder keep states of their own.
    static QString fileName(const QString &watchFolder);

private:
    struct Entry
    {
        FolderWatch::Stamp stamp;
        QString how;
    };
    QByteArray relative(const QString &file) const;
    static QByteArray line(const QByteArray &name, const Entry &entry);
    void compact();

    RunLock m_lock;
    QString m_watchFolder;
    QHash<QByteArray, Entry> m_entries; // by the name below the watched folder, as bytes
};
