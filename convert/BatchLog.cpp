#include "convert/BatchLog.h"

#include "process/NativePath.h"

#include <QDateTime>
#include <QDir>

void BatchLog::open(const QString &logFolder)
{
    close();
    QDir().mkpath(logFolder);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    // Runs started in the same second (parallel headless jobs) each get a file of their own:
    // NewOnly refuses a name another run has just taken.
    for (int counter = 1; counter < 1000; ++counter) {
        m_file.setFileName(
            counter == 1 ? logFolder + QStringLiteral("/batch-%1.log").arg(stamp)
                         : logFolder + QStringLiteral("/batch-%1-%2.log").arg(stamp).arg(counter));
        if (m_file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::NewOnly) ||
            !m_file.exists())
            break; // opened, or the folder cannot be written: no log for this batch
    }
    if (m_file.isOpen())
        write(QStringLiteral("=== Vidmorph 批量转换 %1 ===\n")
                  .arg(QDateTime::currentDateTime().toString(Qt::ISODate)));
    prune(logFolder);
}

void BatchLog::prune(const QString &logFolder)
{
    QDir folder(logFolder);
    // Newest first; the batch's own log is among the newest and always stays.
    const QFileInfoList logs =
        folder.entryInfoList({QStringLiteral("batch-*.log")}, QDir::Files, QDir::Time);
    const QDateTime oldest = QDateTime::currentDateTime().addDays(-KeptDays);
    for (qsizetype i = 0; i < logs.size(); ++i) {
        const QFileInfo &log = logs.at(i);
        if (log.absoluteFilePath() == QFileInfo(m_file).absoluteFilePath())
            continue;
        if (i >= KeptLogs || log.lastModified() < oldest)
            folder.remove(log.fileName());
    }
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
