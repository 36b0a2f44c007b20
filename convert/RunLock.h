#pragma once

#include <QString>

// A lock that a run holds on a file of its own for as long as it lives: an open-file-description
// lock (fcntl F_OFD_SETLK), which the system drops the moment the holder dies, however it dies,
// and which NFS (version 4, or 3 with its lock manager) keeps across machines. Whether a run is
// alive is asked of its lock, never of its process id: an id names nothing on another machine
// sharing the home folder, and in a container every run may be process 1.
class RunLock
{
public:
    enum class Holder {
        Live,    // another open file, in this process or any other, holds the lock
        Gone,    // nobody holds it: whoever made the file has ended
        Missing, // there is no such file
        Unknown, // the file cannot be opened or locked here (not ours, a link, no locks)
    };

    RunLock() = default;
    RunLock(const RunLock &) = delete;
    RunLock &operator=(const RunLock &) = delete;
    ~RunLock();

    // Creates `path` as a new file of this user's, its lock already held when the name
    // appears (it is made under a name of its own and linked to `path`, never through a link).
    bool create(const QString &path);
    // Creates "<folder>/<prefix>XXXXXX" under a name nobody has, and takes its lock; for a
    // moment after it appears, the new file is not locked yet.
    bool createUnique(const QString &folder, const QString &prefix);
    // Opens `path`, creating it if need be (never through a link), and takes its lock if
    // nobody holds it; false at once when somebody does.
    bool take(const QString &path);
    void release();
    bool isHeld() const { return m_fd >= 0; }
    QString path() const { return m_path; }
    // The open file the lock is held on, for reading and writing what it holds.
    int descriptor() const { return m_fd; }

    // Who holds the lock of the file at `path`, a regular file of this user's.
    static Holder holderOf(const QString &path);

private:
    bool hold(int fd, const QString &path);

    int m_fd = -1;
    QString m_path;
};
