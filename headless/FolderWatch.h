#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

// A folder and everything below it, watched for files that appear or change (inotify). A file
// is handed on once it is complete: nothing has happened to it for `settle` (no write, no
// close, no change of size or time stamp) and nobody has it open for writing (where the system
// can tell, by a lease; a writer that holds it open through a long pause does not count as
// done).
// Hidden files and folders (".name", as rsync's and this program's temporaries are) are not
// looked at, nor is the excluded folder, nor links. A settled file is opened once, from the
// watched folder down without following a link, and handed on only when it is a file of the
// user's own with no second name (CheckedInputs), as it was while it settled; a file of another
// user's is never taken, however long it stood still. Each version of a file is handed on once;
// the whole tree is looked at again now and then, for what inotify cannot see (another machine
// writing to a network folder, a queue that overflowed).
class FolderWatch : public QObject
{
    Q_OBJECT
public:
    struct Stamp
    {
        qint64 size = -1;
        qint64 modifiedNs = 0; // last written, nanoseconds since the epoch
        bool operator==(const Stamp &other) const
        {
            return size == other.size && modifiedNs == other.modifiedNs;
        }
        bool operator!=(const Stamp &other) const { return !(*this == other); }
    };

    FolderWatch(const QString &folder, const QString &excluded, int settleMs,
                QObject *parent = nullptr);
    ~FolderWatch() override;

    // Begins: every file there now is looked at, then every change. False when the system
    // cannot watch folders at all.
    bool start();
    // Looks again at a file handed on before: a version that has changed since comes again.
    void recheck(const QString &path);
    // How often the whole tree is looked at again, and complete files are looked for.
    static constexpr int RescanMs = 30 * 1000;
    static constexpr int CheckMs = 250;

signals:
    // The file is complete; `stamp` is the version handed on.
    void ready(const QString &path, const FolderWatch::Stamp &stamp);
    // The watched folder is gone, or another folder (a link put in its place) stands at its
    // name: nothing more is handed on.
    void folderLost();

private:
    struct Candidate
    {
        Stamp stamp;
        QElapsedTimer unchanged; // since the stamp was last seen to change
    };

    void scan(const QString &folder);
    void addFolder(const QString &folder);
    void readEvents();
    // `active`: the system has just told of a write, a close or a move there.
    void consider(const QString &path, bool active);
    void checkCandidates();
    bool openForWriting(const QString &path) const;
    bool isFolderStill();
    bool isTakeable(const QString &path, const Stamp &stamp) const;

    QString m_folder;
    QString m_excluded;
    int m_settleMs;
    QByteArray m_identity; // the watched folder's, as it was when the watch began
    bool m_lost = false;
    int m_inotify = -1;
    QSocketNotifier *m_notifier = nullptr;
    QHash<int, QString> m_folders;       // watch descriptor -> folder
    QHash<QString, Candidate> m_pending; // files waiting to be complete
    QHash<QString, Stamp> m_handedOn;    // the versions already handed on
    QTimer m_checks;
    QTimer m_rescans;
};
