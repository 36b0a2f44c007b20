#include "headless/WatchState.h"

#include "process/NativePath.h"
#include "tools/ToolContract.h"

#include <QCryptographicHash>
#include <QDir>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char Heading[] = "vidmorph watch state 1\n";
// No watch notes this much; a bigger file is not a state.
constexpr qint64 MostStateBytes = 64 << 20;

} // namespace

QString WatchState::fileName(const QString &outputFolder, const QString &watchFolder)
{
    QByteArray identities;
    for (const QString &folder : {watchFolder, outputFolder}) {
        struct stat status = {};
        if (::stat(NativePath::encode(folder).constData(), &status) != 0)
            return {};
        identities +=
            QByteArray::fromStdString(ToolContract::identity(status.st_dev, status.st_ino)) + ' ';
    }
    const QByteArray identity =
        QCryptographicHash::hash(identities, QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("watch-") + QString::fromLatin1(identity);
}

QByteArray WatchState::earlierState(const QString &outputFolder, const QString &watchFolder)
{
    // Where earlier versions kept the state: in the output folder, named after the watched
    // folder's path. Taken over only when it is a file of the user's own, never through a link.
    const QByteArray name =
        ".vidmorph-watch-" +
        QCryptographicHash::hash(NativePath::encode(watchFolder), QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    const int fd = ::open((NativePath::encode(outputFolder) + '/' + name).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat status = {};
    QByteArray text;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
        status.st_size < MostStateBytes) {
        text.resize(qsizetype(status.st_size));
        text.truncate(qMax<qsizetype>(0, ::pread(fd, text.data(), size_t(text.size()), 0)));
    }
    ::close(fd);
    return text;
}

WatchState::Opened WatchState::open(const QString &stateFolder, const QString &outputFolder,
                                    const QString &watchFolder)
{
    m_watchFolder = QDir::cleanPath(watchFolder);
    const QString name = fileName(outputFolder, watchFolder);
    if (name.isEmpty() || !QDir().mkpath(stateFolder))
        return Opened::Failed;
    ::chmod(NativePath::encode(stateFolder).constData(), 0700);
    if (!m_lock.take(stateFolder + QLatin1Char('/') + name))
        return errno == EAGAIN || errno == EACCES ? Opened::Busy : Opened::Failed;
    const int fd = m_lock.descriptor();
    struct stat status = {};
    ::fstat(fd, &status);
    QByteArray text(qsizetype(status.st_size), '\0');
    const ssize_t got = ::pread(fd, text.data(), size_t(text.size()), 0);
    text.truncate(qMax<qsizetype>(0, got));
    const bool fresh = text.isEmpty();
    if (fresh)
        text = earlierState(outputFolder, m_watchFolder);
    int stale = 0;
    for (const QByteArray &row : text.split('\n')) {
        const QList<QByteArray> fields = row.split(' ');
        if (fields.size() != 4)
            continue;
        const QByteArray name = QByteArray::fromPercentEncoding(fields[3]);
        const Entry entry{{fields[0].toLongLong(), fields[1].toLongLong()},
                          QString::fromLatin1(fields[2])};
        struct stat file = {};
        // A file that is gone, or was changed since, needs no line any more.
        if (::lstat((NativePath::encode(m_watchFolder) + '/' + name).constData(), &file) != 0 ||
            qint64(file.st_size) != entry.stamp.size ||
            qint64(file.st_mtim.tv_sec) * 1000000000 + file.st_mtim.tv_nsec !=
                entry.stamp.modifiedNs) {
            ++stale;
            continue;
        }
        m_entries.insert(name, entry);
    }
    if (fresh || stale > m_entries.size())
        compact();
    return Opened::Yes;
}

QByteArray WatchState::relative(const QString &file) const
{
    const QByteArray folder = NativePath::encode(m_watchFolder) + '/';
    const QByteArray path = NativePath::encode(QDir::cleanPath(file));
    return path.startsWith(folder) ? path.mid(folder.size()) : path;
}

QByteArray WatchState::line(const QByteArray &name, const Entry &entry)
{
    return QByteArray::number(entry.stamp.size) + ' ' + QByteArray::number(entry.stamp.modifiedNs) +
           ' ' + entry.how.toLatin1() + ' ' + name.toPercentEncoding("/") + '\n';
}

bool WatchState::contains(const QString &file, const FolderWatch::Stamp &stamp) const
{
    const auto entry = m_entries.constFind(relative(file));
    return entry != m_entries.cend() && entry->stamp == stamp;
}

void WatchState::record(const QString &file, const FolderWatch::Stamp &stamp, const QString &how)
{
    const QByteArray name = relative(file);
    const Entry entry{stamp, how};
    m_entries.insert(name, entry);
    const QByteArray row = line(name, entry);
    // One line, one write at the end: a watch killed in the middle loses at most that line.
    [[maybe_unused]] const ssize_t written =
        ::pwrite(m_lock.descriptor(), row.constData(), size_t(row.size()),
                 ::lseek(m_lock.descriptor(), 0, SEEK_END));
    ::fdatasync(m_lock.descriptor());
}

void WatchState::compact()
{
    QByteArray text = Heading;
    for (auto entry = m_entries.cbegin(); entry != m_entries.cend(); ++entry)
        text += line(entry.key(), entry.value());
    const int fd = m_lock.descriptor();
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written =
            ::pwrite(fd, text.constData(), size_t(text.size()), 0);
        ::fdatasync(fd);
    }
}
