#include "headless/HeadlessConverter.h"

#include "convert/FailureReason.h"
#include "headless/BatchReport.h"
#include "headless/ConsoleOutput.h"
#include "headless/ExitStatus.h"
#include "headless/HeadlessOptions.h"

#include <QFileInfo>

#include <csignal>

HeadlessConverter::HeadlessConverter(const Locations &locations, const HeadlessOptions &options,
                                     std::unique_ptr<BatchReport> report, ConsoleOutput &out,
                                     QObject *parent)
    : QObject(parent), m_awake(QDBusConnection::systemBus(), QDBusConnection::sessionBus()),
      m_scheduler(m_queue, *this, locations, &m_messages), m_parameters(options.parameters()),
      m_outputFolder(options.outputFolder()),
      m_naming(options.outputFolder(), options.names(), options.treeRoots()),
      m_skipExisting(options.skipExisting()), m_conversionTime(options.conversionTime()),
      m_watching(options.action() == HeadlessOptions::Action::Watch),
      m_retryFailed(options.retryFailed()), m_report(std::move(report)), m_out(out)
{
    // Beside the log folder, in the user's own data folder.
    if (!m_watching)
        m_failedBefore.emplace(QFileInfo(locations.logFolder).path() + QStringLiteral("/failed"),
                               m_outputFolder, m_parameters);
    m_scheduler.setJobs(options.jobs());
    m_scheduler.setLogFile(options.logFile());
    // A probe per file costs as much as a tenth of converting a short clip; the tools tell
    // each file's length as it starts, and the sizes stand in for the files still waiting.
    m_scheduler.setProbeLengths(false);
    connect(&m_scheduler, &BatchScheduler::fileStarted, this, &HeadlessConverter::fileStarted);
    connect(&m_scheduler, &BatchScheduler::fileProgress, this, &HeadlessConverter::fileProgress);
    connect(&m_scheduler, &BatchScheduler::fileFinished, this, &HeadlessConverter::fileFinished);
    connect(&m_scheduler, &BatchScheduler::fileSkipped, this, &HeadlessConverter::fileSkipped);
    connect(&m_scheduler, &BatchScheduler::completed, this, &HeadlessConverter::batchCompleted);
    connect(&m_scheduler, &BatchScheduler::stopped, this, &HeadlessConverter::batchStopped);
    // Nobody reads what the batch says any more: stop it as Ctrl+C would.
    connect(
        &m_out, &ConsoleOutput::closed, this, [this] { requestStop(SIGPIPE); },
        Qt::QueuedConnection);
}

HeadlessConverter::~HeadlessConverter() = default;

bool HeadlessConverter::begin()
{
    QString refusal;
    if (!m_scheduler.begin(&refusal)) {
        if (!refusal.isEmpty())
            m_out.error(QStringLiteral("vidmorph: ") + refusal + QLatin1Char('\n'));
        return false;
    }
    QMetaObject::invokeMethod(&m_scheduler, &BatchScheduler::ConvertNextFile, Qt::QueuedConnection);
    m_awake.hold(SleepInhibitor::reason());
    return true;
}

bool HeadlessConverter::start(const QStringList &files)
{
    m_queue.append(FileListModel::entriesFor(files));
    return begin();
}

void HeadlessConverter::add(const QStringList &files)
{
    if (m_finished || m_stopSignal || files.isEmpty())
        return;
    const bool running = m_scheduler.isBusy();
    m_queue.append(FileListModel::entriesFor(files));
    if (running) {
        // Room for more at once is taken at the scheduler's next step.
        QMetaObject::invokeMethod(&m_scheduler, &BatchScheduler::ConvertNextFile,
                                  Qt::QueuedConnection);
    } else if (!begin()) {
        // What stops one batch (no ffmpeg) stops every later one too.
        printSummary();
        finish(ExitStatus::FileFailed);
    }
}

void HeadlessConverter::requestStop(int signalNumber)
{
    if (m_finished || m_stopSignal)
        return;
    m_stopSignal = signalNumber;
    if (m_scheduler.isBusy()) {
        // Said once the stop is under way: the names taken are given back by then.
        m_scheduler.stop();
        m_out.error(QStringLiteral("\nvidmorph: 正在停止 (stopping)…\n"));
    } else {
        m_out.error(QStringLiteral("\nvidmorph: 正在停止 (stopping)…\n"));
        printSummary();
        finish(ExitStatus::SignalBase + signalNumber);
    }
}

void HeadlessConverter::endWatch()
{
    if (!m_watching)
        return;
    m_watching = false;
    m_watchLost = true;
    if (!m_scheduler.isBusy() && !m_finished && !m_stopSignal) {
        printSummary();
        finish(ExitStatus::FileFailed);
    }
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
    const bool converted = result.outcome == FileConversion::Outcome::Converted;
    if (converted) {
        ++m_converted;
        if (!result.warning.isEmpty())
            m_warnings.append({result.inputPath, result.outputPath, result.warning});
    } else {
        m_failures.append({result.inputPath, result.reason, result.toolLines});
    }
    if (m_failedBefore && result.outcome != FileConversion::Outcome::Stopped)
        m_failedBefore->note(result.inputPath, converted ? QString() : result.reason);
    m_report->finished({number, m_scheduler.progress().fileCount(), result.inputPath}, result);
    emit fileEnded(result.inputPath, converted ? QStringLiteral("done") : QStringLiteral("failed"));
}

QString HeadlessConverter::failedBefore(const QString &inputPath) const
{
    return m_failedBefore && !m_retryFailed ? m_failedBefore->reasonFor(inputPath) : QString();
}

void HeadlessConverter::fileSkipped(int number, const QString &inputPath,
                                    const QString &existingOutput, const QString &failedReason)
{
    ++m_skipped;
    m_report->skipped({number, m_scheduler.progress().fileCount(), inputPath}, existingOutput,
                      failedReason);
    emit fileEnded(inputPath, QStringLiteral("skipped"));
}

void HeadlessConverter::printSummary()
{
    BatchReport::Summary summary;
    summary.converted = m_converted;
    summary.skipped = m_skipped;
    summary.failures = m_failures;
    summary.warnings = m_warnings;
    summary.notConverted = m_queue.count();
    summary.outputFolder = m_outputFolder;
    summary.logPath = m_scheduler.logPath();
    m_report->summary(summary);
}

void HeadlessConverter::batchCompleted()
{
    m_awake.release();
    // A watch waits for the next files.
    if (m_watching)
        return;
    printSummary();
    QStringList codes;
    for (const BatchScheduler::Failure &failure : std::as_const(m_failures))
        codes.append(FailureReason::code(failure.reason));
    const int status = ExitStatus::forFailures(codes);
    finish(m_watchLost && status == ExitStatus::Converted ? ExitStatus::FileFailed : status);
}

void HeadlessConverter::batchStopped(const QString &why)
{
    m_awake.release();
    QVector<BatchReport::File> running;
    for (auto file = m_running.cbegin(); file != m_running.cend(); ++file)
        running.append({file.key(), m_scheduler.progress().fileCount(), file.value()});
    m_running.clear();
    m_report->stopped(why, running);
    m_out.error(QStringLiteral("vidmorph: %1\n").arg(why));
    printSummary();
    // A tool that could not start for want of processes, memory or descriptors stops the batch;
    // the status says which, as for a file that failed of it.
    finish(m_stopSignal ? ExitStatus::SignalBase + m_stopSignal
                        : ExitStatus::forFailures({FailureReason::code(why)}));
}

void HeadlessConverter::finish(int exitCode)
{
    if (m_finished)
        return;
    m_finished = true;
    emit finished(exitCode);
}
