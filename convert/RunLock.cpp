#include "convert/RunLock.h"

#include "process/NativePath.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The whole file, for writing: one holder at a time.
bool lockWhole(int fd)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// A regular file of this user's, as the descriptor shows it (no link can stand in between).
bool isOwnFile(int fd)
{
    struct stat status = {};
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid();
}

} // namespace

RunLock::~RunLock()
{
    release();
}

bool RunLock::hold(int fd, const QString &path)
{
    if (fd < 0)
        return false;
    if (!isOwnFile(fd) || !lockWhole(fd)) {
        ::close(fd);
        return false;
    }
    release();
    m_fd = fd;
    m_path = path;
    return true;
}

bool RunLock::create(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (!createUnique(path.left(slash), QStringLiteral(".new-")))
        return false;
    // Linked, not renamed: a name that exists already is never replaced.
    const QByteArray made = NativePath::encode(m_path);
    const bool linked = ::link(made.constData(), NativePath::encode(path).constData()) == 0;
    const int error = errno;
    ::unlink(made.constData());
    if (!linked) {
        release();
        errno = error;
        return false;
    }
    m_path = path;
    return true;
}

bool RunLock::createUnique(const QString &folder, const QString &prefix)
{
    QByteArray name = NativePath::encode(folder + QLatin1Char('/') + prefix) + "XXXXXX";
    // mkostemp creates exclusively, mode 0600, and fills in the name it made.
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    return hold(fd, NativePath::decode(name));
}

bool RunLock::take(const QString &path)
{
    return hold(::open(NativePath::encode(path).constData(),
                       O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600),
                path);
}

void RunLock::release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_path.clear();
}

RunLock::Holder RunLock::holderOf(const QString &path)
{
    const int fd =
        ::open(NativePath::encode(path).constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? Holder::Missing : Holder::Unknown;
    Holder holder = Holder::Unknown;
    if (isOwnFile(fd)) {
        if (lockWhole(fd))
            holder = Holder::Gone;
        else if (errno == EAGAIN || errno == EACCES)
            holder = Holder::Live;
    }
    // Closing the only descriptor of this open file drops the lock just taken.
    ::close(fd);
    return holder;
}
