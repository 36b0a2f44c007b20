#include "convert/BatchScheduler.h"

#include "convert/BatchHost.h"
#include "convert/DurationProbe.h"
#include "convert/FileListModel.h"
#include "convert/Formats.h"
#include "convert/Leftovers.h"
#include "convert/ParameterCheck.h"
#include "process/NativePath.h"
#include "tools/ToolContract.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <unistd.h>

BatchScheduler::BatchScheduler(FileListModel &queue, BatchHost &host, const Locations &locations,
                               MessageSink *messages, QObject *parent)
    : QObject(parent), m_queue(queue), m_host(host), m_locations(locations), m_messages(messages),
      m_clock([] { return QTime::currentTime(); }), m_probe(new DurationProbe(this))
{
    connect(&m_queue, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { queueRowsInserted(first, last); });
    connect(&m_queue, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &, int first, int last) { queueRowsRemoved(first, last); });
    connect(&m_queue, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { queueRowsRemoved(0, m_queue.count() - 1); });
    connect(m_probe, &DurationProbe::probed, this, [this](const QString &path, double seconds) {
        if (!isBusy())
            return;
        m_progress.setDuration(path, seconds);
        emit progressChanged();
    });
}

BatchScheduler::~BatchScheduler()
{
    // The conversions' runners end their tools as they go.
    qDeleteAll(m_running);
}

QVector<BatchScheduler::Failure> BatchScheduler::failures() const
{
    QVector<Failure> list;
    for (const auto &[number, failure] : m_failures)
        list.append(failure);
    return list;
}

QVector<BatchScheduler::Warning> BatchScheduler::warnings() const
{
    QVector<Warning> list;
    for (const auto &[number, warning] : m_warnings)
        list.append(warning);
    return list;
}

bool BatchScheduler::begin(QString *refusal)
{
    if (m_state != State::Idle || m_queue.count() == 0)
        return false;
    // Without ffmpeg every file would fail the same way; say so once, before anything starts.
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty()) {
        if (refusal)
            *refusal = QStringLiteral("找不到 ffmpeg。Vidmorph 用系统的 ffmpeg 转换文件，请先安装它"
                                      "（sudo apt-get install ffmpeg），再开始转换。");
        return false;
    }
    const ParameterSet parameters = m_host.currentParameters();
    if (const QString problem = ParameterCheck::problem(parameters); !problem.isEmpty()) {
        if (refusal)
            *refusal = problem;
        return false;
    }
    const int format = parameters.format;
    const QStringList queue = m_queue.paths();
    for (const QString &input : queue) {
        const QString conflict = FileConversion::conflictOf(input, format, slotLocations(0));
        if (!conflict.isEmpty()) {
            if (refusal)
                *refusal = conflict;
            return false;
        }
    }
    if (!m_logFile.isEmpty() && !m_log.openFile(m_logFile)) {
        if (refusal)
            *refusal = QStringLiteral("无法写入记录文件 (cannot write the log) %1: %2")
                           .arg(m_logFile, m_log.errorString());
        return false;
    }
    m_failures.clear();
    m_warnings.clear();
    m_converted = 0;
    m_skipped = 0;
    m_number = 0;
    m_ownNames.clear();
    m_stopRequested = false;
    m_stopReason.clear();
    ++m_batch;
    if (m_logFile.isEmpty())
        m_log.open(m_locations.logFolder);
    openJournal();
    m_logNext = 1;
    m_logWaiting.clear();
    m_logEnded.clear();
    m_progress.begin(queue, Formats::isTwoStage(format) ? 2 : 1, m_jobs);
    noteSizes(queue);
    m_probe->forget();
    if (m_probeLengths)
        m_probe->probe(queue);
    // The tools of this batch test the graphics chip once for all its files; a batch begun
    // later (a driver installed meanwhile) tests afresh. They also learn how many files share
    // the cores.
    QFile::remove(hardwareProbeFile());
    qputenv(ToolContract::HardwareProbeFileVariable, QFile::encodeName(hardwareProbeFile()));
    if (m_host.datesOutputsNow())
        qputenv(ToolContract::OutputDateVariable, ToolContract::ConversionDate);
    else
        qunsetenv(ToolContract::OutputDateVariable);
    const int atOnce = qMin(m_jobs, int(queue.size()));
    if (atOnce > 1)
        qputenv(ToolContract::FilesAtOnceVariable, QByteArray::number(atOnce));
    else
        qunsetenv(ToolContract::FilesAtOnceVariable);
    m_state = State::Starting;
    emit progressChanged();
    return true;
}

void BatchScheduler::noteSizes(const QStringList &paths)
{
    for (const QString &path : paths)
        m_progress.setSize(path, NativePath::size(path));
}

Locations BatchScheduler::slotLocations(int slot) const
{
    // One file at a time keeps the scratch folder itself; files side by side each get a
    // folder of their own in it, so none overwrites another's intermediate file.
    Locations places = m_locations;
    if (m_jobs > 1)
        places.scratchFolder += QStringLiteral("/job-%1").arg(slot + 1);
    return places;
}

void BatchScheduler::queueRowsInserted(int first, int last)
{
    if (!isBusy())
        return;
    QStringList paths;
    for (int row = first; row <= last; ++row)
        paths.append(m_queue.pathAt(row));
    const int running = int(m_rows.size());
    m_progress.insertFiles(qMax(0, first - running), paths);
    noteSizes(paths);
    if (m_probeLengths)
        m_probe->probe(paths);
    emit progressChanged();
}

void BatchScheduler::queueRowsRemoved(int first, int last)
{
    if (!isBusy() || last < first)
        return;
    // A running file whose row goes still runs to its end; it just has no row to leave.
    const int running = int(m_rows.size());
    for (int row = qMin(last, running - 1); row >= first; --row)
        m_rows.removeAt(row);
    const int waitingFirst = qMax(first, running);
    if (last >= waitingFirst)
        m_progress.removeFiles(waitingFirst - running, last - waitingFirst + 1);
    emit progressChanged();
}

void BatchScheduler::ConvertNextFile()
{
    if (m_state != State::Starting && m_state != State::FileFinished && m_state != State::Running)
        return;
    const QString folderText = m_host.outputFolderText();
    if (!folderText.isEmpty())
        QDir().mkpath(folderText);
    m_locations.makeScratchFolder();
    if (m_stopRequested)
        return;
    if (m_state == State::Starting && !folderText.isEmpty())
        Leftovers::removeDeadTemporaries(folderText);
    const int waiting = m_queue.count() - int(m_rows.size());
    if (m_running.isEmpty() && waiting <= 0) {
        complete();
        return;
    }
    if (!folderText.endsWith(QLatin1Char('/')))
        m_host.setOutputFolderText(folderText + QLatin1Char('/'));
    // A handler of a skipped file may stop this batch, and even begin the next.
    const quint64 batch = m_batch;
    while (batch == m_batch && isBusy() && m_running.size() < m_jobs &&
           m_queue.count() > m_rows.size() && !m_stopRequested) {
        OutputReservation taken;
        if (!skipFile(taken))
            startFile(taken);
    }
    // Every file left was skipped.
    if (batch == m_batch && isBusy() && m_running.isEmpty() && m_queue.count() == 0 &&
        !m_stopRequested)
        complete();
}

bool BatchScheduler::skipFile(OutputReservation &taken)
{
    if (!m_host.skipsExisting())
        return false;
    const int row = int(m_rows.size());
    const QString input = m_queue.pathAt(row);
    const OutputNaming naming = m_host.outputNaming();
    const QString extension = Formats::extension(m_host.currentParameters().format);
    const QString own =
        CommandBuilder::MakePlainOutputPath(naming.folderFor(input), input, extension, {});
    if (m_ownNames.contains(own))
        return false;
    const QString failed = m_host.failedBefore(input);
    QString existing;
    // A file that failed before as it is now would only fail again: its output is not looked
    // for.
    if (failed.isEmpty() && naming.names() == OutputNaming::Names::Plain) {
        // The plain name is taken as it is looked at: of runs at once that are given the same
        // file, one converts it and the others skip it.
        naming.makeFolderFor(input);
        const QString path = naming.pathFor(input, extension, QTime());
        if (taken.take(path, m_journal.path()) == OutputReservation::Outcome::Exists)
            existing = path;
    } else if (failed.isEmpty()) {
        existing = naming.existingOutput(input, extension);
    }
    if (existing.isEmpty() && failed.isEmpty()) {
        m_ownNames.insert(own);
        return false;
    }
    // Started and finished at once, so it counts among the files done.
    const int number = ++m_number;
    m_rows.append(number);
    m_progress.fileStarted(number);
    log(number,
        BatchLog::fileHeading(number, m_progress.fileCount(), input) +
            (failed.isEmpty() ? QStringLiteral("跳过：输出已存在 ") + NativePath::readable(existing)
                              : QStringLiteral("跳过：上次已失败 ") + failed) +
            QLatin1Char('\n'));
    logDone(number);
    m_queue.removeAt(row); // takes it off m_rows too
    m_progress.fileFinished(number);
    ++m_skipped;
    emit fileSkipped(number, input, existing, failed);
    emit progressChanged();
    return true;
}

void BatchScheduler::startFile(const OutputReservation &taken)
{
    auto *job = new Job;
    job->number = ++m_number;
    while (m_busySlots.contains(job->slot))
        ++job->slot;
    m_busySlots.insert(job->slot);
    const QString input = m_queue.pathAt(int(m_rows.size()));
    const Locations places = slotLocations(job->slot);
    places.makeScratchFolder();
    auto *conversion = new FileConversion(input, m_host, places, m_messages, this);
    job->conversion = conversion;
    conversion->setClock(m_clock);
    conversion->setStallTimeout(m_stallTimeoutMs);
    conversion->setSpinner(m_spinner);
    conversion->setReservationJournal(m_journal.path());
    conversion->setTakenOutput(taken);
    m_running.append(job);
    m_rows.append(job->number);
    m_progress.fileStarted(job->number);
    log(job->number, BatchLog::fileHeading(job->number, m_progress.fileCount(), input));

    const int number = job->number;
    connect(conversion, &FileConversion::toolStarted, this,
            [this, number](const QString &tool, CommandBuilder::Runner runner, int stage) {
                m_toolImageName = tool;
                m_progress.runStarted(number, stage);
                emit toolStarted(number, tool, runner, stage);
                emit progressChanged();
            });
    connect(conversion, &FileConversion::progressChanged, this,
            [this, number, conversion](const FileConversion::Progress &progress) {
                m_spinner = conversion->spinner();
                m_progress.runProgress(number, progress.percent / 100.0);
                emit fileProgress(number, progress);
                emit progressChanged();
            });
    connect(conversion, &FileConversion::inputLength, this, [this, input](double seconds) {
        m_progress.setDuration(input, seconds);
        emit progressChanged();
    });
    connect(conversion, &FileConversion::runEnded, this,
            [this, number](CommandBuilder::Runner runner) { emit runEnded(number, runner); });
    connect(conversion, &FileConversion::logged, this,
            [this, number](const QString &text) { log(number, text); });
    connect(conversion, &FileConversion::finished, this,
            [this, job](const FileConversion::Result &result) { fileEnded(job, result); });

    m_state = State::Running;
    emit fileStarted(number, input);
    emit progressChanged();
    conversion->start();
}

void BatchScheduler::fileEnded(Job *job, const FileConversion::Result &result)
{
    m_spinner = job->conversion->spinner();
    m_running.removeOne(job);
    m_busySlots.remove(job->slot);
    job->conversion->deleteLater();
    const int number = job->number;
    const int row = int(m_rows.indexOf(job->number));
    const std::unique_ptr<Job> ended(job);

    switch (result.outcome) {
    case FileConversion::Outcome::Converted:
    case FileConversion::Outcome::Failed:
        if (result.outcome == FileConversion::Outcome::Converted) {
            ++m_converted;
            if (!result.warning.isEmpty()) {
                m_warnings[number] = {result.inputPath, result.outputPath, result.warning};
                log(number, QStringLiteral("注意：") + result.warning + QLatin1Char('\n'));
            }
        } else {
            m_failures[number] = {result.inputPath, result.reason, result.toolLines};
            log(number, QStringLiteral("失败：") + result.reason + QLatin1Char('\n'));
        }
        logDone(number);
        if (row >= 0)
            m_queue.removeAt(row); // takes it off m_rows too
        m_progress.fileFinished(number);
        break;
    case FileConversion::Outcome::NotStarted:
        // Every file would meet the same missing tool: the batch cannot go on.
        if (!m_stopRequested) {
            m_stopRequested = true;
            m_stopReason = result.reason;
            for (Job *other : std::as_const(m_running))
                other->conversion->stop();
        }
        logDone(number);
        break;
    case FileConversion::Outcome::Stopped:
        logDone(number);
        break;
    }

    const bool finished = result.outcome == FileConversion::Outcome::Converted ||
                          result.outcome == FileConversion::Outcome::Failed;
    if (finished) {
        if (m_running.isEmpty())
            m_state = State::FileFinished;
        const quint64 batch = m_batch;
        emit fileFinished(number, result);
        emit progressChanged();
        // A handler may have stopped this batch, and even started the next one.
        if (batch != m_batch || m_state == State::Idle)
            return;
    }
    if (m_stopRequested) {
        if (m_running.isEmpty())
            endStopped(m_stopReason.isEmpty() ? QStringLiteral("转换已停止") : m_stopReason);
        return;
    }
    const quint64 batch = m_batch;
    QMetaObject::invokeMethod(
        this,
        [this, batch] {
            if (batch == m_batch)
                ConvertNextFile();
        },
        Qt::QueuedConnection);
}

void BatchScheduler::stop()
{
    switch (m_state) {
    case State::Running:
        // The runs' ends finish the stop.
        m_stopRequested = true;
        for (Job *job : std::as_const(m_running))
            job->conversion->stop();
        break;
    case State::Starting:
    case State::FileFinished:
        endStopped(QStringLiteral("转换已停止"));
        break;
    case State::Idle:
    case State::Completion:
        break;
    }
}

QString BatchScheduler::hardwareProbeFile() const
{
    return m_locations.scratchFolder + QStringLiteral("/hardware-probe");
}

void BatchScheduler::openJournal()
{
    m_locations.makeScratchFolder();
    m_journal.createUnique(
        m_locations.scratchFolder,
        QStringLiteral("reservations-%1-").arg(QCoreApplication::applicationPid()));
}

void BatchScheduler::closeJournal()
{
    // Every name the batch took is an output now, or was given back.
    if (m_journal.isHeld())
        ::unlink(NativePath::encode(m_journal.path()).constData());
    m_journal.release();
}

void BatchScheduler::complete()
{
    closeJournal();
    QFile::remove(hardwareProbeFile());
    m_state = State::Completion;
    m_log.note(QStringLiteral("\n=== 完成：%1 个文件成功（%3 个有提醒），%2 个文件失败 ===")
                   .arg(m_converted)
                   .arg(m_failures.size())
                   .arg(m_warnings.size()));
    m_log.close();
    m_probe->cancel();
    emit completed();
    m_state = State::Idle;
}

void BatchScheduler::endStopped(const QString &why)
{
    closeJournal();
    QFile::remove(hardwareProbeFile());
    m_rows.clear();
    m_log.note(QStringLiteral("\n=== ") + why + QStringLiteral(" ==="));
    m_log.close();
    m_probe->cancel();
    m_stopRequested = false;
    m_state = State::Idle;
    emit stopped(why);
}

void BatchScheduler::log(int number, const QString &text)
{
    if (number == m_logNext)
        m_log.write(text);
    else
        m_logWaiting[number] += text;
}

void BatchScheduler::logDone(int number)
{
    m_logEnded.insert(number);
    while (m_logEnded.contains(m_logNext)) {
        m_logEnded.remove(m_logNext);
        ++m_logNext;
        const auto waiting = m_logWaiting.find(m_logNext);
        if (waiting != m_logWaiting.end()) {
            m_log.write(waiting->second);
            m_logWaiting.erase(waiting);
        }
    }
}
