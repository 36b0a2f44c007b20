#include "headless/HeadlessConverter.h"

#include "headless/BatchReport.h"
#include "headless/ConsoleOutput.h"

#include <csignal>

HeadlessConverter::HeadlessConverter(const Locations &locations, const ParameterSet &parameters,
                                     const QString &outputFolder, int jobs,
                                     std::unique_ptr<BatchReport> report, ConsoleOutput &out,
                                     QObject *parent)
    : QObject(parent), m_scheduler(m_queue, *this, locations, &m_messages),
      m_parameters(parameters), m_outputFolder(outputFolder), m_report(std::move(report)),
      m_out(out)
{
    m_scheduler.setJobs(jobs);
    // A probe per file costs as much as a tenth of converting a short clip; the tools tell
    // each file's length as it starts, and the sizes stand in for the files still waiting.
    m_scheduler.setProbeLengths(false);
    connect(&m_scheduler, &BatchScheduler::fileStarted, this, &HeadlessConverter::fileStarted);
    connect(&m_scheduler, &BatchScheduler::fileProgress, this, &HeadlessConverter::fileProgress);
    connect(&m_scheduler, &BatchScheduler::fileFinished, this, &HeadlessConverter::fileFinished);
    connect(&m_scheduler, &BatchScheduler::completed, this, &HeadlessConverter::batchCompleted);
    connect(&m_scheduler, &BatchScheduler::stopped, this, &HeadlessConverter::batchStopped);
    // Nobody reads what the batch says any more: stop it as Ctrl+C would.
    connect(
        &m_out, &ConsoleOutput::closed, this, [this] { requestStop(SIGPIPE); },
        Qt::QueuedConnection);
}

HeadlessConverter::~HeadlessConverter() = default;

bool HeadlessConverter::start(const QStringList &files)
{
    m_queue.append(FileListModel::entriesFor(files));
    QString refusal;
    if (!m_scheduler.begin(&refusal)) {
        if (!refusal.isEmpty())
            m_out.error(QStringLiteral("vidmorph: ") + refusal + QLatin1Char('\n'));
        return false;
    }
    QMetaObject::invokeMethod(&m_scheduler, &BatchScheduler::ConvertNextFile, Qt::QueuedConnection);
    return true;
}

void HeadlessConverter::requestStop(int signalNumber)
{
    if (m_finished || m_stopSignal)
        return;
    m_stopSignal = signalNumber;
    m_out.error(QStringLiteral("\nvidmorph: 正在停止 (stopping)…\n"));
    if (m_scheduler.isBusy())
        m_scheduler.stop();
    else
        finish(128 + signalNumber);
}

void HeadlessConverter::fileStarted(int number, const QString &inputPath)
{
    m_running.insert(number, inputPath);
    m_report->started({number, m_scheduler.progress().fileCount(), inputPath});
}

void HeadlessConverter::fileProgress(int number, const FileConversion::Progress &progress)
{
    const BatchProgress &batch = m_scheduler.progress();
    m_report->progressed({number, batch.fileCount(), m_running.value(number)}, progress,
                         {batch.fractionDone(), batch.secondsLeft()});
}

void HeadlessConverter::fileFinished(int number, const FileConversion::Result &result)
{
    m_running.remove(number);
    m_report->finished({number, m_scheduler.progress().fileCount(), result.inputPath}, result);
}

void HeadlessConverter::printSummary()
{
    BatchReport::Summary summary;
    summary.converted = m_scheduler.filesConverted();
    summary.failures = m_scheduler.failures();
    summary.warnings = m_scheduler.warnings();
    summary.notConverted = m_queue.count();
    summary.outputFolder = m_outputFolder;
    summary.logPath = m_scheduler.logPath();
    m_report->summary(summary);
}

void HeadlessConverter::batchCompleted()
{
    printSummary();
    finish(m_scheduler.failures().isEmpty() ? 0 : 1);
}

void HeadlessConverter::batchStopped(const QString &why)
{
    QVector<BatchReport::File> running;
    for (auto file = m_running.cbegin(); file != m_running.cend(); ++file)
        running.append({file.key(), m_scheduler.progress().fileCount(), file.value()});
    m_running.clear();
    m_report->stopped(why, running);
    m_out.error(QStringLiteral("vidmorph: %1\n").arg(why));
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
