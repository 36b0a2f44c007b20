#include "headless/ConsoleOutput.h"

#include <QSocketNotifier>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

ConsoleOutput::ConsoleOutput(std::FILE *out, std::FILE *err, QObject *parent)
    : QObject(parent), m_out(out), m_err(err), m_terminal(::isatty(::fileno(out)) == 1)
{
    // The write end of a pipe reports an error as soon as its reader is gone, which a read
    // notifier sees; a terminal or a file would wake it for other reasons, so only pipes are
    // watched.
    struct stat status = {};
    const int fd = ::fileno(out);
    if (::fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode)) {
        m_watch = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(m_watch, &QSocketNotifier::activated, this, [this, fd] {
            pollfd probe = {fd, 0, 0};
            if (::poll(&probe, 1, 0) == 1 && (probe.revents & (POLLERR | POLLHUP)))
                markClosed();
        });
    }
}

void ConsoleOutput::markClosed()
{
    if (m_closed)
        return;
    m_closed = true;
    if (m_watch)
        m_watch->setEnabled(false);
    emit closed();
}

bool ConsoleOutput::write(const QString &text)
{
    if (m_closed)
        return false;
    const QByteArray bytes = text.toUtf8();
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out) != size_t(bytes.size()) ||
        std::fflush(m_out) != 0) {
        // EPIPE (the reader went away) or any other failure: nothing more can be shown there.
        std::clearerr(m_out);
        markClosed();
        return false;
    }
    return true;
}

void ConsoleOutput::error(const QString &text)
{
    std::fputs(text.toUtf8().constData(), m_err);
    std::fflush(m_err);
}

QString ConsoleOutput::escaped(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\n')
            result += QStringLiteral("\\n");
        else if (u == '\t')
            result += QStringLiteral("\\t");
        else if (u == '\r')
            result += QStringLiteral("\\r");
        else if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
            result += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else if ((u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069))
            result += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
        else
            result += c;
    }
    return result;
}
