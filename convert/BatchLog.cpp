#include "convert/BatchLog.h"

#include "process/NativePath.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

void BatchLog::open(const QString &logFolder)
{
    close();
    m_path.clear();
    QDir().mkpath(logFolder);
    const QByteArray folder = NativePath::encode(logFolder);
    struct stat status = {};
    if (::lstat(folder.constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
        status.st_uid == ::geteuid())
        ::chmod(folder.constData(), 0700);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    // Runs started in the same second (parallel headless jobs) each get a file of their own:
    // O_EXCL refuses a name another run has just taken.
    for (int counter = 1; counter < 1000; ++counter) {
        const QString path =
            counter == 1 ? logFolder + QStringLiteral("/batch-%1.log").arg(stamp)
                         : logFolder + QStringLiteral("/batch-%1-%2.log").arg(stamp).arg(counter);
        const int fd = ::open(NativePath::encode(path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            openDescriptor(fd, path);
            break;
        }
        if (errno != EEXIST)
            break; // the folder cannot be written: no log for this batch
    }
    if (m_file.isOpen())
        write(QStringLiteral("=== Vidmorph 批量转换 %1 ===\n")
                  .arg(QDateTime::currentDateTime().toString(Qt::ISODate)));
    prune(logFolder);
}

bool BatchLog::openFile(const QString &path)
{
    close();
    m_path.clear();
    // The name is the script's: a link there is followed, as a shell's ">>" would.
    const int fd = ::open(NativePath::encode(path).constData(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!openDescriptor(fd, path)) {
        m_error = m_file.errorString();
        return false;
    }
    write(QStringLiteral("=== Vidmorph 批量转换 %1 ===\n")
              .arg(QDateTime::currentDateTime().toString(Qt::ISODate)));
    return true;
}

bool BatchLog::openDescriptor(int fd, const QString &path)
{
    if (!m_file.open(fd, QIODevice::WriteOnly | QIODevice::Text, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    m_path = path;
    return true;
}

void BatchLog::prune(const QString &logFolder)
{
    struct Log
    {
        QByteArray name;
        qint64 modified;
    };
    const QByteArray folder = NativePath::encode(logFolder);
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    // Only the regular files of this user's named as logs are; a link is never followed.
    std::vector<Log> logs;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name = entry->d_name;
        struct stat status = {};
        if (name.startsWith("batch-") && name.endsWith(".log") &&
            ::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && status.st_uid == ::geteuid())
            logs.push_back({name, qint64(status.st_mtime)});
    }
    std::sort(logs.begin(), logs.end(),
              [](const Log &a, const Log &b) { return a.modified > b.modified; });
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const qint64 day = 24 * 3600;
    const QByteArray own = NativePath::encode(QFileInfo(m_path).fileName());
    for (size_t rank = 0; rank < logs.size(); ++rank) {
        const Log &log = logs[rank];
        const qint64 age = now - log.modified;
        if (log.name == own || age < AlwaysKeptDays * day)
            continue;
        if (rank >= size_t(KeptLogs) || age > KeptDays * day)
            ::unlinkat(fd, log.name.constData(), 0);
    }
    ::closedir(dir);
}

void BatchLog::close()
{
    if (m_file.isOpen())
        m_file.close();
}
QString BatchLog::fileHeading(int number, int total, const QString &inputPath)
{
    return QStringLiteral("\n--- [%1/%2] %3\n")
        .arg(number)
        .arg(total)
        .arg(NativePath::readable(inputPath));
}

QString BatchLog::runText(const QString &commandText, const QString &output, const QString &ending)
{
    QString text = QStringLiteral("$ ") + NativePath::readable(commandText) + QLatin1Char('\n');
    // Progress lines end in a carriage return; a log reader wants one update per line.
    QString lines = output;
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text += lines;
    if (!lines.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    text += QStringLiteral("=> ") + ending + QLatin1Char('\n');
    return text;
}

void BatchLog::note(const QString &text)
{
    write(text + QLatin1Char('\n'));
}

void BatchLog::write(const QString &text)
{
    if (!m_file.isOpen())
        return;
    m_file.write(text.toUtf8());
    m_file.flush();
}
