#include "convert/OutputReservation.h"

#include "process/NativePath.h"
#include "tools/ToolContract.h"

#include <QList>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A journal bigger than this was not written by a run: no run takes that many names.
constexpr qint64 MostJournalBytes = 16 << 20;

// The folder part and the name part of a path's bytes.
QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

QByteArray nameOf(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

// The folder, opened; its path may pass through links (the user's own folders may), its last
// step is what the descriptor shows.
int openFolder(const QByteArray &folder)
{
    return ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

} // namespace

OutputReservation::Outcome OutputReservation::take(const QString &path, const QString &journal)
{
    const QByteArray native = NativePath::encode(path);
    const int folder = openFolder(folderOf(native));
    if (folder < 0)
        return Outcome::Failed;
    struct stat folderStatus = {};
    ::fstat(folder, &folderStatus);
    // O_EXCL is atomic on local file systems and on NFS from version 3 on; with O_NOFOLLOW
    // not even a dangling link can be written through.
    const int fd = ::openat(folder, nameOf(native).constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    const int error = errno;
    ::close(folder);
    if (fd < 0)
        return error == EEXIST || error == ELOOP ? Outcome::Exists : Outcome::Failed;
    struct stat status = {};
    ::fstat(fd, &status);
    ::close(fd);
    m_path = path;
    m_made = {folderStatus.st_dev, folderStatus.st_ino, status.st_dev, status.st_ino};
    m_taken = true;
    if (journal.isEmpty())
        return Outcome::Taken;
    const int lines = ::open(NativePath::encode(journal).constData(),
                             O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lines >= 0) {
        // Percent-encoded, so a name with a line break stays one line; one write, so lines of
        // runs side by side never mix.
        const QByteArray line = QByteArray::number(quint64(m_made.folderDevice)) + ' ' +
                                QByteArray::number(quint64(m_made.folderInode)) + ' ' +
                                QByteArray::number(quint64(m_made.device)) + ' ' +
                                QByteArray::number(quint64(m_made.inode)) + ' ' +
                                native.toPercentEncoding() + '\n';
        [[maybe_unused]] const ssize_t written = ::write(lines, line.constData(), line.size());
        ::close(lines);
    }
    return Outcome::Taken;
}

bool OutputReservation::removeIfUnchanged(const QByteArray &path, const Made &made, bool onlyLook)
{
    // Everything is asked of the folder's descriptor: a link put in place of the folder, or
    // of the name, between the looking and the removing changes nothing.
    const int folder = openFolder(folderOf(path));
    if (folder < 0)
        return false;
    struct stat folderStatus = {}, status = {};
    const QByteArray name = nameOf(path);
    const bool unchanged =
        ::fstat(folder, &folderStatus) == 0 && folderStatus.st_dev == made.folderDevice &&
        folderStatus.st_ino == made.folderInode &&
        ::fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(status.st_mode) && status.st_size == 0 && status.st_uid == ::geteuid() &&
        status.st_dev == made.device && status.st_ino == made.inode;
    const bool removed = unchanged && (onlyLook || ::unlinkat(folder, name.constData(), 0) == 0);
    ::close(folder);
    return removed;
}

QByteArray OutputReservation::folderIdentity() const
{
    if (!m_taken)
        return {};
    return QByteArray::fromStdString(
        ToolContract::identity(m_made.folderDevice, m_made.folderInode));
}

void OutputReservation::release()
{
    if (!m_taken)
        return;
    removeIfUnchanged(NativePath::encode(m_path), m_made);
    m_taken = false;
}

void OutputReservation::releaseJournal(const QString &journal, QStringList *left)
{
    const QByteArray native = NativePath::encode(journal);
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP)
            ::unlink(native.constData());
        return;
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid() ||
        status.st_size > MostJournalBytes) {
        ::close(fd);
        return;
    }
    QByteArray text(qsizetype(status.st_size), '\0');
    const ssize_t got = ::read(fd, text.data(), size_t(text.size()));
    ::close(fd);
    text.truncate(qMax<qsizetype>(0, got));
    for (const QByteArray &line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 5)
            continue;
        const Made made = {dev_t(fields[0].toULongLong()), ino_t(fields[1].toULongLong()),
                           dev_t(fields[2].toULongLong()), ino_t(fields[3].toULongLong())};
        const QByteArray name = QByteArray::fromPercentEncoding(fields[4]);
        if (removeIfUnchanged(name, made, left) && left)
            left->append(NativePath::decode(name));
    }
    if (!left)
        ::unlink(native.constData());
}
