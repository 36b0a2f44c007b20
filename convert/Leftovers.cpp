#include "convert/Leftovers.h"

#include "convert/OutputReservation.h"
#include "convert/RunLock.h"
#include "process/NativePath.h"
#include "tools/ToolContract.h"

#include <QDateTime>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// A temporary on a shared file system counts as abandoned once nothing has written to it for
// this long; a working encoder writes every few seconds.
constexpr qint64 SharedIdleSeconds = 10 * 60;
// How long a run folder or journal that holds no lock yet is taken to be in the making; making
// one and locking it takes a moment.
constexpr qint64 NewcomerSeconds = 10 * 60;
// Nothing of ours is nested deeper than this (a run folder, its jobs' folders); a deeper tree
// was not made by a run.
constexpr int DeepestTree = 8;

const char RunPrefix[] = "run-";
const char JournalPrefix[] = "reservations-";
const char RunLockName[] = "/lock";

bool isLocalFileSystem(const QString &folder)
{
    struct statfs info = {};
    if (::statfs(NativePath::encode(folder).constData(), &info) != 0)
        return false;
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0x6969:     // NFS
    case 0xff534d42: // CIFS
    case 0xfe534d42: // SMB2
    case 0x517b:     // SMB
    case 0x65735546: // FUSE (sshfs and friends)
    case 0x564c:     // NCP
    case 0x6b414653: // AFS
    case 0x47504653: // GPFS
    case 0x00c36400: // Ceph
        return false;
    default:
        return true;
    }
}

// A tool's process id, as its temporary's name carries it after the prefix.
qint64 toolOf(const QByteArray &name)
{
    static const QRegularExpression digits(QStringLiteral("^([0-9]+)-"));
    const QRegularExpressionMatch match = digits.match(
        QString::fromLatin1(name.mid(qsizetype(sizeof ToolContract::TemporaryPrefix) - 1)));
    return match.hasMatch() ? match.captured(1).toLongLong() : 0;
}

bool toolIsRunning(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

struct Entry
{
    QByteArray name;
    struct stat status;
};

// A folder's entries as they are, links not followed.
QList<Entry> entriesOf(int folder)
{
    QList<Entry> entries;
    // A description of its own: a dup would share (and leave at the end) the folder's offset.
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return entries;
    }
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        Entry found{name, {}};
        if (::fstatat(folder, name, &found.status, AT_SYMLINK_NOFOLLOW) == 0)
            entries.append(found);
    }
    ::closedir(dir);
    return entries;
}

// Empties the folder open as `folder` and everything below it; links are removed as links.
bool emptyFolder(int folder, int depth)
{
    bool emptied = true;
    for (const Entry &entry : entriesOf(folder)) {
        if (S_ISDIR(entry.status.st_mode)) {
            const int inner = ::openat(folder, entry.name.constData(),
                                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (inner < 0 || depth >= DeepestTree) {
                if (inner >= 0)
                    ::close(inner);
                emptied = false;
                continue;
            }
            emptyFolder(inner, depth + 1);
            ::close(inner);
            emptied = ::unlinkat(folder, entry.name.constData(), AT_REMOVEDIR) == 0 && emptied;
        } else {
            emptied = ::unlinkat(folder, entry.name.constData(), 0) == 0 && emptied;
        }
    }
    return emptied;
}

bool startsWith(const QByteArray &name, const char *prefix)
{
    return name.startsWith(prefix);
}

bool isOurs(const struct stat &status)
{
    return status.st_uid == ::geteuid();
}

// Made so lately that its run may not have taken its lock yet.
bool isNewcomer(const struct stat &status)
{
    return status.st_mtime > QDateTime::currentSecsSinceEpoch() - NewcomerSeconds;
}

} // namespace

namespace Leftovers {

bool removeTree(const QString &folder)
{
    const QByteArray native = NativePath::encode(folder);
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status = {};
    const bool ours = ::fstat(fd, &status) == 0 && isOurs(status);
    const bool emptied = ours && emptyFolder(fd, 1);
    ::close(fd);
    return emptied && ::rmdir(native.constData()) == 0;
}

namespace {

// Removes what runs that are gone left or, with `names`, only lists the output names their
// journals would give back.
void sweepDeadRuns(const QString &scratchBase, QStringList *names)
{
    const QByteArray native = NativePath::encode(scratchBase);
    const int base = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (base < 0)
        return;
    for (const Entry &entry : entriesOf(base)) {
        const bool run = startsWith(entry.name, RunPrefix);
        const bool journal = startsWith(entry.name, JournalPrefix);
        if (!run && !journal)
            continue;
        const QString path = scratchBase + QLatin1Char('/') + NativePath::decode(entry.name);
        if (S_ISLNK(entry.status.st_mode)) {
            // Not something a run makes: gone as a link, its target untouched.
            if (!names)
                ::unlinkat(base, entry.name.constData(), 0);
        } else if (!isOurs(entry.status)) {
            continue;
        } else if (journal && S_ISREG(entry.status.st_mode)) {
            // A journal is locked before anything is written to it.
            if (RunLock::holderOf(path) == RunLock::Holder::Gone &&
                (entry.status.st_size > 0 || !isNewcomer(entry.status)))
                OutputReservation::releaseJournal(path, names);
        } else if (run && S_ISDIR(entry.status.st_mode)) {
            // A run's lock file appears locked; a folder without one is being made, or was
            // left by a run killed as it made it or by a version that took no lock.
            const RunLock::Holder holder = RunLock::holderOf(path + QLatin1String(RunLockName));
            if (holder != RunLock::Holder::Gone &&
                (holder != RunLock::Holder::Missing || isNewcomer(entry.status)))
                continue;
            const int folder = ::openat(base, entry.name.constData(),
                                        O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (folder < 0)
                continue;
            for (const Entry &inner : entriesOf(folder))
                if (startsWith(inner.name, JournalPrefix) && S_ISREG(inner.status.st_mode))
                    OutputReservation::releaseJournal(
                        path + QLatin1Char('/') + NativePath::decode(inner.name), names);
            if (!names) {
                emptyFolder(folder, 1);
                ::unlinkat(base, entry.name.constData(), AT_REMOVEDIR);
            }
            ::close(folder);
        }
    }
    ::close(base);
}

} // namespace

void removeDeadRuns(const QString &scratchBase)
{
    sweepDeadRuns(scratchBase, nullptr);
}

QStringList namesOfDeadRuns(const QString &scratchBase)
{
    QStringList names;
    sweepDeadRuns(scratchBase, &names);
    return names;
}

void removeDeadTemporaries(const QString &outputFolder)
{
    const int folder =
        ::open(NativePath::encode(outputFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return;
    std::optional<bool> local;
    const qint64 idleSince = QDateTime::currentSecsSinceEpoch() - SharedIdleSeconds;
    for (const Entry &entry : entriesOf(folder)) {
        if (!ToolContract::isTemporaryName(
                std::string_view(entry.name.constData(), size_t(entry.name.size()))) ||
            !isOurs(entry.status) ||
            !(S_ISREG(entry.status.st_mode) || S_ISLNK(entry.status.st_mode)))
            continue;
        const qint64 tool = toolOf(entry.name);
        if (tool <= 0 || toolIsRunning(tool))
            continue;
        if (!local)
            local = isLocalFileSystem(outputFolder);
        if (!*local && entry.status.st_mtime > idleSince)
            continue;
        ::unlinkat(folder, entry.name.constData(), 0);
    }
    ::close(folder);
}

} // namespace Leftovers
