#include "headless/FolderWatch.h"

#include "convert/CheckedInputs.h"
#include "process/NativePath.h"
#include "tools/ToolContract.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t FolderEvents = IN_CREATE | IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_ATTRIB |
                                  IN_DELETE | IN_MOVED_FROM | IN_EXCL_UNLINK | IN_ONLYDIR;

bool isHidden(const char *name)
{
    return name[0] == '.';
}

FolderWatch::Stamp stampOf(const struct stat &status)
{
    return {qint64(status.st_size),
            qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

std::optional<FolderWatch::Stamp> stampOf(const QString &path)
{
    struct stat status = {};
    if (::lstat(NativePath::encode(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return stampOf(status);
}

QByteArray identityOf(const QString &folder)
{
    struct stat status = {};
    if (::stat(NativePath::encode(folder).constData(), &status) != 0 || !S_ISDIR(status.st_mode))
        return {};
    return QByteArray::fromStdString(ToolContract::identity(status.st_dev, status.st_ino));
}

} // namespace

FolderWatch::FolderWatch(const QString &folder, const QString &excluded, int settleMs,
                         QObject *parent)
    : QObject(parent), m_folder(folder), m_excluded(excluded), m_settleMs(settleMs)
{
    m_checks.setInterval(CheckMs);
    connect(&m_checks, &QTimer::timeout, this, &FolderWatch::checkCandidates);
    m_rescans.setInterval(RescanMs);
    connect(&m_rescans, &QTimer::timeout, this, [this] {
        if (isFolderStill())
            scan(m_folder);
    });
}

FolderWatch::~FolderWatch()
{
    if (m_inotify >= 0)
        ::close(m_inotify);
}

bool FolderWatch::start()
{
    m_identity = identityOf(m_folder);
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_identity.isEmpty() || m_inotify < 0)
        return false;
    // A lease taken to learn whether a writer holds a file is given back at once; a writer
    // who comes in that moment makes the system send SIGIO, which must not end the program.
    std::signal(SIGIO, SIG_IGN);
    m_notifier = new QSocketNotifier(m_inotify, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &FolderWatch::readEvents);
    scan(m_folder);
    m_rescans.start();
    return true;
}

void FolderWatch::addFolder(const QString &folder)
{
    const int watch =
        ::inotify_add_watch(m_inotify, NativePath::encode(folder).constData(), FolderEvents);
    if (watch >= 0)
        m_folders.insert(watch, folder);
}

void FolderWatch::scan(const QString &folder)
{
    // Watched before it is listed, so a file made in between is seen one way or the other.
    if (folder == m_excluded)
        return;
    addFolder(folder);
    DIR *dir = ::opendir(NativePath::encode(folder).constData());
    if (!dir)
        return;
    QStringList folders;
    while (const dirent *entry = ::readdir(dir)) {
        if (isHidden(entry->d_name))
            continue;
        const QString path = folder + QLatin1Char('/') + NativePath::decode(entry->d_name);
        struct stat status = {};
        if (::lstat(NativePath::encode(path).constData(), &status) != 0)
            continue;
        if (S_ISDIR(status.st_mode))
            folders.append(path);
        else if (S_ISREG(status.st_mode))
            consider(path, false);
    }
    ::closedir(dir);
    for (const QString &inner : std::as_const(folders))
        scan(inner);
}

void FolderWatch::readEvents()
{
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t length = ::read(m_inotify, buffer, sizeof buffer);
        if (length <= 0)
            return;
        for (ssize_t at = 0; at < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                scan(m_folder);
                continue;
            }
            if (event->mask & IN_IGNORED) {
                m_folders.remove(event->wd);
                if (m_folders.isEmpty())
                    isFolderStill();
                continue;
            }
            const auto folder = m_folders.constFind(event->wd);
            if (folder == m_folders.cend() || event->len == 0 || isHidden(event->name))
                continue;
            const QString path = *folder + QLatin1Char('/') + NativePath::decode(event->name);
            if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
                m_pending.remove(path);
                m_handedOn.remove(path);
            } else if (event->mask & IN_ISDIR) {
                if (event->mask & (IN_CREATE | IN_MOVED_TO))
                    scan(path);
            } else {
                consider(path, true);
            }
        }
    }
}

void FolderWatch::recheck(const QString &path)
{
    const auto handed = m_handedOn.constFind(path);
    if (handed == m_handedOn.cend() || stampOf(path) == *handed)
        return;
    consider(path, true);
}

void FolderWatch::consider(const QString &path, bool active)
{
    const std::optional<Stamp> stamp = stampOf(path);
    if (!stamp || (!active && m_handedOn.value(path) == *stamp))
        return;
    if (active)
        m_handedOn.remove(path);
    Candidate &candidate = m_pending[path];
    if (active || candidate.stamp != *stamp || !candidate.unchanged.isValid()) {
        candidate.stamp = *stamp;
        candidate.unchanged.start();
    }
    if (!m_checks.isActive())
        m_checks.start();
}

void FolderWatch::checkCandidates()
{
    QStringList complete;
    for (auto candidate = m_pending.begin(); candidate != m_pending.end();) {
        const std::optional<Stamp> stamp = stampOf(candidate.key());
        if (!stamp) {
            candidate = m_pending.erase(candidate);
            continue;
        }
        if (*stamp != candidate->stamp) {
            candidate->stamp = *stamp;
            candidate->unchanged.start();
        } else if (candidate->unchanged.elapsed() >= m_settleMs) {
            // Still open for writing, however long it stood still: the settling starts over
            // once its writer lets go.
            if (openForWriting(candidate.key()))
                candidate->unchanged.start();
            else
                complete.append(candidate.key());
        }
        ++candidate;
    }
    if (!complete.isEmpty() && !isFolderStill())
        return;
    for (const QString &path : std::as_const(complete)) {
        const Stamp stamp = m_pending.take(path).stamp;
        if (m_handedOn.value(path) == stamp)
            continue;
        m_handedOn.insert(path, stamp);
        if (isTakeable(path, stamp))
            emit ready(path, stamp);
    }
    if (m_pending.isEmpty())
        m_checks.stop();
}

bool FolderWatch::openForWriting(const QString &path) const
{
    // A read lease is granted only while nobody has the file open for writing. Where leases
    // cannot be had (a file of another user's, a network folder), the time stamp must do.
    const int fd = ::open(NativePath::encode(path).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool leased = ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0;
    const bool writing = !leased && errno == EAGAIN;
    if (leased)
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
    ::close(fd);
    return writing;
}

bool FolderWatch::isFolderStill()
{
    if (m_lost)
        return false;
    if (identityOf(m_folder) == m_identity)
        return true;
    m_lost = true;
    m_checks.stop();
    m_rescans.stop();
    m_pending.clear();
    emit folderLost();
    return false;
}

bool FolderWatch::isTakeable(const QString &path, const Stamp &stamp) const
{
    // Opened once, from the watched folder down, each step without following a link: a link
    // put in place of the file, or of a folder on the way, since it was seen leads nowhere.
    int fd = ::open(NativePath::encode(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat status = {};
    if (fd < 0 || ::fstat(fd, &status) != 0 ||
        QByteArray::fromStdString(ToolContract::identity(status.st_dev, status.st_ino)) !=
            m_identity) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    const QList<QByteArray> steps = NativePath::encode(path.mid(m_folder.size() + 1)).split('/');
    for (qsizetype i = 0; i < steps.size() && fd >= 0; ++i) {
        const bool last = i + 1 == steps.size();
        const int next = ::openat(fd, steps.at(i).constData(),
                                  last ? O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC
                                       : O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    const bool takeable = fd >= 0 && ::fstat(fd, &status) == 0 &&
                          CheckedInputs::isAcceptable(status) && stampOf(status) == stamp;
    if (takeable)
        CheckedInputs::remember(path, status);
    if (fd >= 0)
        ::close(fd);
    return takeable;
}
