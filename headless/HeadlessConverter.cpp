#include "headless/HeadlessConverter.h"

#include "convert/Formats.h"

#include <QFileInfo>

#include <cstdio>

namespace {

void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

} // namespace

HeadlessConverter::HeadlessConverter(const Locations &locations, const ParameterSet &parameters,
                                     const QString &outputFolder, QObject *parent)
    : QObject(parent), m_driver(m_queue, *this, locations, &m_messages), m_parameters(parameters),
      m_outputFolder(outputFolder)
{
    // A terminal line shows each file's own percentage, not a time left for the batch.
    m_driver.setEstimateTimeLeft(false);
    connect(&m_driver, &BatchScheduler::toolStarted, this, &HeadlessConverter::toolStarted);
    connect(&m_driver, &BatchScheduler::fileProgress, this, &HeadlessConverter::showProgress);
    connect(&m_driver, &BatchScheduler::fileFinished, this, &HeadlessConverter::fileFinished);
    connect(&m_driver, &BatchScheduler::completed, this, &HeadlessConverter::batchCompleted);
    connect(&m_driver, &BatchScheduler::stopped, this, &HeadlessConverter::batchStopped);
}

HeadlessConverter::~HeadlessConverter() = default;

bool HeadlessConverter::start(const QStringList &files)
{
    QVector<FileListModel::Entry> entries;
    for (const QString &file : files)
        entries.append({file, FileListModel::formatTextOf(file)});
    m_queue.append(entries);
    QString refusal;
    if (!m_driver.begin(&refusal)) {
        if (!refusal.isEmpty())
            print(stderr, QStringLiteral("vidmorph: ") + refusal + QLatin1Char('\n'));
        return false;
    }
    QMetaObject::invokeMethod(&m_driver, &BatchScheduler::ConvertNextFile, Qt::QueuedConnection);
    return true;
}

void HeadlessConverter::requestStop(int signalNumber)
{
    if (m_finished || m_stopSignal)
        return;
    m_stopSignal = signalNumber;
    print(stderr, QStringLiteral("\nvidmorph: 正在停止 (stopping)…\n"));
    m_lineLength = 0;
    if (m_driver.isBusy())
        m_driver.stop();
    else
        finish(128 + signalNumber);
}

void HeadlessConverter::toolStarted(int, const QString &, CommandBuilder::Runner runner, int)
{
    m_current = m_queue.count() > 0 ? m_queue.pathAt(0) : QString();
    m_percent = 0;
    if (Formats::isTwoStage(m_parameters.format))
        m_stage =
            runner == CommandBuilder::Runner::DOS ? QStringLiteral("1/2 ") : QStringLiteral("2/2 ");
    else
        m_stage.clear();
    printLine(m_stage + QStringLiteral("  0%"), false);
}

void HeadlessConverter::showProgress(int, const FileConversion::Progress &progress)
{
    // A line per change of the whole percentage keeps a piped log short.
    const int percent = qRound(progress.percent);
    if (percent == m_percent)
        return;
    m_percent = percent;
    printLine(m_stage + QStringLiteral("%1%").arg(percent, 3), false);
}

void HeadlessConverter::printLine(const QString &status, bool last)
{
    // While a file runs it is still at the head of the queue; once finished it has left.
    const int total = m_filesDone + m_queue.count() + (last ? 1 : 0);
    QString line = QStringLiteral("[%1/%2] %3  %4")
                       .arg(m_filesDone + 1)
                       .arg(total)
                       .arg(QFileInfo(m_current).fileName(), status);
    const int length = int(line.size());
    // Blanks cover what a longer earlier text left on the line.
    if (length < m_lineLength)
        line += QString(m_lineLength - length, QLatin1Char(' '));
    m_lineLength = last ? 0 : length;
    print(stdout, QLatin1Char('\r') + line + (last ? QStringLiteral("\n") : QString()));
}

void HeadlessConverter::fileFinished(int, const FileConversion::Result &result)
{
    m_current = result.inputPath;
    const bool converted = result.outcome == FileConversion::Outcome::Converted;
    printLine(converted ? QStringLiteral("完成 (done)") : QStringLiteral("失败 (failed)"), true);
    ++m_filesDone;
}

void HeadlessConverter::printSummary()
{
    const QVector<BatchScheduler::Failure> failures = m_driver.failures();
    QString text = QStringLiteral("\n成功 (converted): %1   失败 (failed): %2")
                       .arg(m_driver.filesConverted())
                       .arg(failures.size());
    if (m_queue.count() > 0)
        text += QStringLiteral("   未转换 (not converted): %1").arg(m_queue.count());
    text += QLatin1Char('\n');
    for (const BatchScheduler::Failure &failure : failures)
        text += QStringLiteral("失败 (failed): %1\n    原因 (reason): %2\n")
                    .arg(failure.inputPath, failure.reason);
    text += QStringLiteral("输出文件夹 (output): %1\n").arg(m_outputFolder);
    text += QStringLiteral("详细记录 (log): %1\n").arg(m_driver.logPath());
    print(stdout, text);
}

void HeadlessConverter::batchCompleted()
{
    printSummary();
    finish(m_driver.failures().isEmpty() ? 0 : 1);
}

void HeadlessConverter::batchStopped(const QString &why)
{
    if (m_lineLength > 0)
        print(stdout, QStringLiteral("\n"));
    m_lineLength = 0;
    print(stderr, QStringLiteral("vidmorph: %1\n").arg(why));
    printSummary();
    finish(m_stopSignal ? 128 + m_stopSignal : 1);
}

void HeadlessConverter::finish(int exitCode)
{
    if (m_finished)
        return;
    m_finished = true;
    emit finished(exitCode);
}
