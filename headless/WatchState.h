#pragma once

#include "convert/RunLock.h"
#include "headless/FolderWatch.h"

#include <QHash>
#include <QString>

// What a watch of one folder into one output folder has already dealt with, kept in a small
// file in the user's own data folder (where no other user can make or remove it), named after
// both folders' device and inode, so that a watch started again converts nothing twice: each
// version of a file (its name below the watched folder, size and time stamp) that converted,
// failed or was skipped. A lost file only means converting again. The watch holds the file's
// lock for as long as it runs, so two watches of one folder into one output folder cannot both
// convert a file.
class WatchState
{
public:
    enum class Opened { Yes, Busy, Failed };

    // Reads the state of watching `watchFolder` into `outputFolder`, kept in `stateFolder`
    // (made, private, when new) and takes its lock. Busy: another watch holds it.
    Opened open(const QString &stateFolder, const QString &outputFolder,
                const QString &watchFolder);
    QString path() const { return m_lock.path(); }
    bool contains(const QString &file, const FolderWatch::Stamp &stamp) const;
    // Notes the file's version as dealt with: "done", "failed" or "skipped".
    void record(const QString &file, const FolderWatch::Stamp &stamp, const QString &how);

    // The file's name: both folders' identities in it, so each pair keeps a state of its own,
    // however either folder is spelled. Empty when either folder cannot be looked at.
    static QString fileName(const QString &outputFolder, const QString &watchFolder);

private:
    struct Entry
    {
        FolderWatch::Stamp stamp;
        QString how;
    };
    static QByteArray earlierState(const QString &outputFolder, const QString &watchFolder);
    QByteArray relative(const QString &file) const;
    static QByteArray line(const QByteArray &name, const Entry &entry);
    void compact();

    RunLock m_lock;
    QString m_watchFolder;
    QHash<QByteArray, Entry> m_entries; // by the name below the watched folder, as bytes
};
