#include "convert/OutputReservation.h"

#include "process/NativePath.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

OutputReservation::Outcome OutputReservation::take(const QString &path, const QString &journal)
{
    const QByteArray native = NativePath::encode(path);
    // O_EXCL is atomic on local file systems and on NFS from version 3 on.
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno == EEXIST ? Outcome::Exists : Outcome::Failed;
    struct stat status = {};
    ::fstat(fd, &status);
    ::close(fd);
    m_path = path;
    m_device = status.st_dev;
    m_inode = status.st_ino;
    m_taken = true;
    QFile lines(journal);
    if (!journal.isEmpty() && lines.open(QIODevice::Append)) {
        // Percent-encoded, so a name with a line break stays one line.
        lines.write(QByteArray::number(quint64(m_device)) + ' ' +
                    QByteArray::number(quint64(m_inode)) + ' ' + native.toPercentEncoding() + '\n');
    }
    return Outcome::Taken;
}

bool OutputReservation::stillEmptyAndSame(const QByteArray &path, dev_t device, ino_t inode)
{
    struct stat status = {};
    return ::lstat(path.constData(), &status) == 0 && S_ISREG(status.st_mode) &&
           status.st_size == 0 && status.st_dev == device && status.st_ino == inode;
}

void OutputReservation::release()
{
    if (!m_taken)
        return;
    const QByteArray native = NativePath::encode(m_path);
    if (stillEmptyAndSame(native, m_device, m_inode))
        ::unlink(native.constData());
    m_taken = false;
}

void OutputReservation::releaseJournal(const QString &journal)
{
    QFile lines(journal);
    if (!lines.open(QIODevice::ReadOnly))
        return;
    while (!lines.atEnd()) {
        const QList<QByteArray> fields = lines.readLine().trimmed().split(' ');
        if (fields.size() != 3)
            continue;
        const QByteArray path = QByteArray::fromPercentEncoding(fields[2]);
        if (stillEmptyAndSame(path, dev_t(fields[0].toULongLong()), ino_t(fields[1].toULongLong())))
            ::unlink(path.constData());
    }
    lines.remove();
}
