#include "convert/BatchDriver.h"

#include "convert/BatchHost.h"
#include "convert/DurationProbe.h"
#include "convert/FailureReason.h"
#include "convert/FileListModel.h"
#include "convert/Formats.h"
#include "process/DOSOutputs.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <sys/stat.h>

namespace {

bool isTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool hasContent(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.size() > 0;
}

// Two names for one file: the same path after links are resolved, or a hard link. `b` is
// looked at first, since it is the one that usually does not exist.
bool isSameFile(const QString &a, const QString &b)
{
    const QString canonicalB = QFileInfo(b).canonicalFilePath();
    if (canonicalB.isEmpty())
        return false;
    if (QFileInfo(a).canonicalFilePath() == canonicalB)
        return true;
    struct stat statusA = {}, statusB = {};
    return ::stat(QFile::encodeName(a).constData(), &statusA) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &statusB) == 0 &&
           statusA.st_dev == statusB.st_dev && statusA.st_ino == statusB.st_ino;
}

// The tools write their output under a hidden name in the same folder, ".vidmorph-<pid>-"
// and the final name, and rename it only when they succeed. A stopped tool removes it itself,
// but one killed outright cannot, so the driver removes what such a run left.
void removeTemporaries(const QString &outputPath)
{
    const QFileInfo output(outputPath);
    const QRegularExpression temporary(QStringLiteral("^\\.vidmorph-[0-9]+-") +
                                       QRegularExpression::escape(output.fileName()) +
                                       QLatin1Char('$'));
    QDir folder = output.absoluteDir();
    const QStringList candidates = folder.entryList({QStringLiteral(".vidmorph-*")},
                                                    QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : candidates)
        if (temporary.match(name).hasMatch())
            folder.remove(name);
}

QString describeEnding(const RunResult &result)
{
    if (result.stopped)
        return QStringLiteral("已停止");
    if (result.crashed)
        return QStringLiteral("异常终止");
    return QStringLiteral("退出代码 %1").arg(result.exitCode);
}

} // namespace

BatchDriver::BatchDriver(DOSOutputs &objDOS, DOSOutputs &objffmpeg, FileListModel &queue,
                         BatchHost &host, const Locations &locations, QObject *parent)
    : QObject(parent), m_objDOS(objDOS), m_objffmpeg(objffmpeg), m_queue(queue), m_host(host),
      m_locations(locations), m_clock([] { return QTime::currentTime(); }),
      m_probe(new DurationProbe(this))
{
    connect(&m_queue, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { queueRowsInserted(first, last); });
    connect(&m_queue, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &, int first, int last) { queueRowsRemoved(first, last); });
    connect(&m_queue, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { queueRowsRemoved(0, m_queue.count() - 1); });
    m_stallTimer.setSingleShot(true);
    m_stallTimer.setInterval(DefaultStallTimeoutMs);
    connect(&m_stallTimer, &QTimer::timeout, this, &BatchDriver::toolStalled);
    // Any output counts as a sign of life.
    for (DOSOutputs *runner : {&m_objDOS, &m_objffmpeg})
        connect(runner, &DOSOutputs::ReceiveOutputs, this, [this] {
            if (m_stallTimer.isActive())
                m_stallTimer.start();
        });
    connect(m_probe, &DurationProbe::probed, this, [this](const QString &path, double seconds) {
        if (!isBusy())
            return;
        m_progress.setDuration(path, seconds);
        emit progressChanged();
    });
}

BatchDriver::~BatchDriver() = default;

bool BatchDriver::begin(QString *refusal)
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
    const int format = m_host.currentParameters().format;
    const QStringList queue = m_queue.paths();
    for (const QString &input : queue) {
        const QString conflict = conflictOf(input, format);
        if (!conflict.isEmpty()) {
            if (refusal)
                *refusal = conflict;
            return false;
        }
    }
    m_failures.clear();
    m_converted = 0;
    m_number = 0;
    m_stopRequested = false;
    ++m_batch;
    m_log.open(m_locations.logFolder);
    m_progress.begin(queue, Formats::isTwoStage(format) ? 2 : 1);
    m_probe->forget();
    if (m_estimate)
        m_probe->probe(queue);
    m_state = State::Starting;
    emit progressChanged();
    return true;
}

QString BatchDriver::conflictOf(const QString &inputPath, int format) const
{
    // Stage one replaces the intermediate file; an input that is that file would be lost.
    if (Formats::isTwoStage(format) && isSameFile(inputPath, m_locations.intermediateFile()))
        return QStringLiteral(
                   "“%1”就是转换时使用的临时文件，转换会覆盖它。请先把它复制到别的文件夹，"
                   "再添加复制出的文件。")
            .arg(inputPath);
    return {};
}

void BatchDriver::queueRowsInserted(int first, int last)
{
    if (!isBusy())
        return;
    QStringList paths;
    for (int row = first; row <= last; ++row)
        paths.append(m_queue.pathAt(row));
    m_progress.insertFiles(first, paths);
    if (m_estimate)
        m_probe->probe(paths);
    emit progressChanged();
}

void BatchDriver::queueRowsRemoved(int first, int last)
{
    if (!isBusy() || last < first)
        return;
    m_progress.removeFiles(first, last - first + 1);
    emit progressChanged();
}

QString BatchDriver::outputFolder() const
{
    QString folder = m_host.outputFolderText();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

QString BatchDriver::outputPathFor(const QString &extension) const
{
    return CommandBuilder::MakeOutputPath(outputFolder(), m_run.inputPath, extension, m_clock(),
                                          isTaken);
}

DOSOutputs &BatchDriver::runnerFor(CommandBuilder::Runner runner)
{
    return runner == CommandBuilder::Runner::Ffmpeg ? m_objffmpeg : m_objDOS;
}

void BatchDriver::ConvertNextFile()
{
    if (m_state != State::Starting && m_state != State::FileFinished)
        return;
    const QString folderText = m_host.outputFolderText();
    if (!folderText.isEmpty())
        QDir().mkpath(folderText);
    m_locations.makeScratchFolder();
    if (m_queue.count() == 0) {
        m_state = State::Completion;
        m_log.note(QStringLiteral("\n=== 完成：%1 个文件成功，%2 个文件失败 ===")
                       .arg(m_converted)
                       .arg(m_failures.size()));
        m_log.close();
        m_probe->cancel();
        emit completed();
        m_state = State::Idle;
        return;
    }
    if (!folderText.endsWith(QLatin1Char('/')))
        m_host.setOutputFolderText(folderText + QLatin1Char('/'));

    const ParameterSet parameters = m_host.currentParameters();
    m_run = Run();
    m_run.inputPath = m_queue.pathAt(0);
    m_run.format = parameters.format;
    ++m_number;
    m_log.fileStarted(m_number, m_number - 1 + m_queue.count(), m_run.inputPath);
    // A file added while the batch ran was not looked at when it started.
    const QString conflict = conflictOf(m_run.inputPath, parameters.format);
    if (!conflict.isEmpty()) {
        failFile(conflict, QString());
        return;
    }
    if (Formats::isTwoStage(parameters.format)) {
        // Stage two must never encode what an earlier file left in the intermediate file.
        QFile::remove(m_locations.intermediateFile());
        m_run.expectedOutput = m_locations.intermediateFile();
    } else if (Formats::isValid(parameters.format)) {
        m_run.expectedOutput = outputPathFor(Formats::extension(parameters.format));
        m_run.writesFinalOutput = true;
    }
    const CommandBuilder::Command command = CommandBuilder::BuildStageOneCommand(
        m_locations.appFolder, m_run.inputPath, m_run.expectedOutput, parameters,
        m_locations.intermediateFile());
    startRun(command, command.runner == CommandBuilder::Runner::Ffmpeg ? State::Mp3Running
                                                                       : State::StageOneRunning);
}

bool BatchDriver::startRun(const CommandBuilder::Command &command, State running)
{
    m_toolImageName = command.toolName;
    DOSOutputs &runner = runnerFor(command.runner);
    runner.setCommandLine(command.line);
    m_run.commandText = command.line.text();
    m_state = running;
    if (!runner.Start()) {
        // The runner has told the user why; the file stays at the head for another try.
        m_log.note(QStringLiteral("$ ") + m_run.commandText + QStringLiteral("\n=> 无法启动"));
        endStopped(QStringLiteral("无法启动转换工具 %1").arg(command.toolName));
        return false;
    }
    m_progress.runStarted(running == State::StageTwoRunning ? 1 : 0);
    m_stalled = false;
    m_stallTimer.start();
    emit toolStarted(command.toolName, command.runner);
    emit progressChanged();
    return true;
}

void BatchDriver::objDOS_CommandOver()
{
    runEnded(m_objDOS, State::StageOneRunning, !Formats::isTwoStage(m_run.format));
}

void BatchDriver::objffmpeg_CommandOver()
{
    if (m_state == State::Mp3Running)
        runEnded(m_objffmpeg, State::Mp3Running, true);
    else
        runEnded(m_objffmpeg, State::StageTwoRunning, true);
}

void BatchDriver::runEnded(DOSOutputs &runner, State expected, bool lastStage)
{
    if (m_state != expected)
        return;
    m_stallTimer.stop();
    const RunResult result = runner.lastResult();
    const QString output = runner.Outputs();
    m_log.runEnded(m_run.commandText, output, describeEnding(result));
    if (m_stalled && !m_stopRequested) {
        // Ended by the stall watch, not by the user: a failed file, and the batch goes on.
        m_stalled = false;
        discardRun(true);
        failFile(QStringLiteral("转换程序长时间没有任何进展，已被结束"),
                 FailureReason::lastLines(output));
        return;
    }
    const bool missing = !hasContent(m_run.expectedOutput);
    const bool failed = result.crashed || result.exitCode != 0 || missing;
    // A stop that came while the tool was already on its way out still ends the batch here,
    // unless the file got done in that moment.
    if (result.stopped || (m_stopRequested && (failed || !lastStage))) {
        discardRun(false);
        endStopped(QStringLiteral("转换已停止"));
        return;
    }
    if (failed) {
        discardRun(true);
        failFile(FailureReason::describe(output, result.exitCode, result.crashed, missing),
                 FailureReason::lastLines(output));
        return;
    }
    if (lastStage) {
        ++m_converted;
        finishFile(true);
        return;
    }
    startStageTwo();
}

void BatchDriver::startStageTwo()
{
    // The parameters are read afresh; the format stays the one stage one was made for.
    ParameterSet stageTwo = m_host.currentParameters();
    stageTwo.format = m_run.format;
    // The name carries the time at which stage two starts.
    m_run.expectedOutput = outputPathFor(Formats::extension(m_run.format));
    m_run.writesFinalOutput = true;
    startRun(CommandBuilder::BuildStageTwoCommand(m_locations.appFolder, m_run.expectedOutput,
                                                  stageTwo, m_locations.intermediateFile()),
             State::StageTwoRunning);
}

void BatchDriver::setStallTimeout(int milliseconds)
{
    m_stallTimer.setInterval(milliseconds);
}

void BatchDriver::toolStalled()
{
    m_stalled = true;
    m_log.note(QStringLiteral("%1 秒没有输出，结束转换程序").arg(m_stallTimer.interval() / 1000));
    m_objDOS.Stop();
    m_objffmpeg.Stop();
}

void BatchDriver::discardRun(bool keepIntermediate)
{
    // Whatever this run was writing must not stay behind looking like a result.
    if (m_run.writesFinalOutput) {
        QFile::remove(m_run.expectedOutput);
        removeTemporaries(m_run.expectedOutput);
    }
    removeTemporaries(m_locations.intermediateFile());
    if (!keepIntermediate)
        QFile::remove(m_locations.intermediateFile());
}

void BatchDriver::failFile(const QString &reason, const QString &toolLines)
{
    m_failures.append({m_run.inputPath, reason, toolLines});
    m_log.note(QStringLiteral("失败：") + reason);
    finishFile(false);
}

void BatchDriver::finishFile(bool converted)
{
    if (m_queue.count() > 0 && m_queue.pathAt(0) == m_run.inputPath)
        m_queue.removeAt(0);
    m_progress.fileFinished();
    m_state = State::FileFinished;
    const quint64 batch = m_batch;
    emit fileFinished(m_run.inputPath, converted);
    emit progressChanged();
    // A handler may have stopped this batch, and even started the next one.
    if (batch != m_batch || m_state != State::FileFinished)
        return;
    if (m_stopRequested) {
        endStopped(QStringLiteral("转换已停止"));
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, batch] {
            if (batch == m_batch)
                ConvertNextFile();
        },
        Qt::QueuedConnection);
}

void BatchDriver::runProgress(double fraction)
{
    if (m_state != State::StageOneRunning && m_state != State::Mp3Running &&
        m_state != State::StageTwoRunning)
        return;
    m_progress.runProgress(fraction);
    emit progressChanged();
}

void BatchDriver::stop()
{
    switch (m_state) {
    case State::StageOneRunning:
    case State::Mp3Running:
    case State::StageTwoRunning:
        // Both runners: the idle one ignores it. The run's end finishes the stop.
        m_stopRequested = true;
        m_objffmpeg.Stop();
        m_objDOS.Stop();
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

void BatchDriver::endStopped(const QString &why)
{
    m_log.note(QStringLiteral("\n=== ") + why + QStringLiteral(" ==="));
    m_log.close();
    m_probe->cancel();
    m_state = State::Idle;
    emit stopped(why);
}
