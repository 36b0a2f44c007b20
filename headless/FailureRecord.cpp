#include "headless/FailureRecord.h"

#include "convert/FailureReason.h"
#include "process/NativePath.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray hex16(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(16);
}

// The codes of failures that the file, or the settings for it, bring about each time.
bool comesAgain(const QString &reason)
{
    static const QStringList codes = {
        QStringLiteral("input-empty"),       QStringLiteral("not-media"),
        QStringLiteral("unreadable"),        QStringLiteral("no-video"),
        QStringLiteral("no-audio"),          QStringLiteral("audio-undecodable"),
        QStringLiteral("bad-parameter"),     QStringLiteral("encoding-failed"),
        QStringLiteral("output-unplayable"), QStringLiteral("output-empty"),
        QStringLiteral("tool-error")};
    return codes.contains(FailureReason::code(reason));
}

} // namespace

FailureRecord::FailureRecord(const QString &recordFolder, const QString &outputFolder,
                             const ParameterSet &parameters)
{
    QDir().mkpath(recordFolder);
    ::chmod(NativePath::encode(recordFolder).constData(), 0700);
    m_path = recordFolder + QLatin1Char('/') +
             QString::fromLatin1(hex16(NativePath::encode(QDir::cleanPath(outputFolder))));
    m_settings = hex16(QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8")
                           .arg(parameters.format)
                           .arg(parameters.sampleRate, parameters.audioBitrate)
                           .arg(parameters.channelCount)
                           .arg(parameters.frameSize, parameters.videoBitrate, parameters.frameRate)
                           .arg(parameters.quality)
                           .toUtf8());
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // Later lines say more than earlier ones: a file that failed, then converted.
    for (const QByteArray &row : file.readAll().split('\n')) {
        const QList<QByteArray> fields = row.split(' ');
        if (fields.size() != 3)
            continue;
        const QByteArray name = QByteArray::fromPercentEncoding(fields[1]);
        if (fields[2].isEmpty())
            m_entries.remove(name);
        else
            m_entries.insert(
                name, {fields[0], QString::fromUtf8(QByteArray::fromPercentEncoding(fields[2]))});
    }
}

QByteArray FailureRecord::versionOf(const QString &inputPath) const
{
    struct stat status = {};
    if (::stat(NativePath::encode(inputPath).constData(), &status) != 0)
        return {};
    return QByteArray::number(qint64(status.st_size)) + ':' +
           QByteArray::number(qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec) +
           ':' + m_settings;
}

QString FailureRecord::reasonFor(const QString &inputPath) const
{
    const auto entry = m_entries.constFind(NativePath::encode(QDir::cleanPath(inputPath)));
    if (entry == m_entries.cend() || entry->version != versionOf(inputPath))
        return {};
    return entry->reason;
}

void FailureRecord::note(const QString &inputPath, const QString &reason)
{
    const QByteArray name = NativePath::encode(QDir::cleanPath(inputPath));
    if ((reason.isEmpty() && !m_entries.contains(name)) ||
        (!reason.isEmpty() && !comesAgain(reason)))
        return;
    const QByteArray version = versionOf(inputPath);
    if (reason.isEmpty())
        m_entries.remove(name);
    else
        m_entries.insert(name, {version, reason});
    const QByteArray row = (version.isEmpty() ? QByteArray("-") : version) + ' ' +
                           name.toPercentEncoding("/") + ' ' + reason.toUtf8().toPercentEncoding() +
                           '\n';
    const int fd = ::open(NativePath::encode(m_path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return;
    [[maybe_unused]] const ssize_t written = ::write(fd, row.constData(), size_t(row.size()));
    ::close(fd);
}
