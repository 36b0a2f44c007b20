#include "headless/MediaFilter.h"

#include "process/NativePath.h"

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Enough for every magic the shared MIME database looks for in media files.
constexpr int ProbeBytes = 4096;

bool isMedia(const QMimeType &type)
{
    const QStringList names = QStringList{type.name()} + type.allAncestors();
    for (const QString &name : names)
        if (name.startsWith(QLatin1String("video/")) || name.startsWith(QLatin1String("audio/")) ||
            name.startsWith(QLatin1String("application/vnd.rn-realmedia")))
            return true;
    return false;
}

} // namespace

MediaFilter::MediaFilter(const QStringList &globs)
{
    for (const QString &glob : globs)
        m_globs.append(QRegularExpression(QRegularExpression::wildcardToRegularExpression(glob)));
}

bool MediaFilter::takes(const QString &path) const
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (!m_globs.isEmpty() &&
        std::none_of(m_globs.cbegin(), m_globs.cend(),
                     [&](const QRegularExpression &glob) { return glob.match(name).hasMatch(); }))
        return false;
    QByteArray head(ProbeBytes, '\0');
    const int fd = ::open(NativePath::encode(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const ssize_t got = fd < 0 ? 0 : ::read(fd, head.data(), size_t(head.size()));
    if (fd >= 0)
        ::close(fd);
    head.truncate(qMax<ssize_t>(0, got));
    return isMedia(m_types.mimeTypeForFileNameAndData(name, head));
}
