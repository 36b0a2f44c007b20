#include "convert/BatchDriver.h"

#include "convert/BatchHost.h"
#include "convert/FailureReason.h"
#include "convert/FileListModel.h"
#include "convert/Formats.h"
#include "process/DOSOutputs.h"

#include <QDir>
#include <QFileInfo>

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
      m_locations(locations), m_clock([] { return QTime::currentTime(); })
{
}

BatchDriver::~BatchDriver() = default;

void BatchDriver::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

bool BatchDriver::begin()
{
    if (m_state != State::Idle || m_queue.count() == 0)
        return false;
    m_failures.clear();
    m_converted = 0;
    m_number = 0;
    m_log.open(m_locations.logFolder);
    setState(State::Starting);
    return true;
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
    // A stop can come between a file's end and this queued call.
    if (m_state != State::Starting && m_state != State::FileFinished)
        return;
    const QString folderText = m_host.outputFolderText();
    if (!folderText.isEmpty())
        QDir().mkpath(folderText);
    m_locations.makeScratchFolder();
    if (m_queue.count() == 0) {
        setState(State::Completion);
        m_log.note(QStringLiteral("\n=== 完成：%1 个文件成功，%2 个文件失败 ===")
                       .arg(m_converted)
                       .arg(m_failures.size()));
        m_log.close();
        emit completed();
        setState(State::Idle);
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
    setState(running);
    if (!runner.Start()) {
        // The runner has told the user why; the file stays at the head for another try.
        m_log.note(QStringLiteral("$ ") + m_run.commandText + QStringLiteral("\n=> 无法启动"));
        endStopped(QStringLiteral("无法启动转换工具 %1").arg(command.toolName));
        return false;
    }
    emit toolStarted(command.toolName, command.runner);
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
    const RunResult result = runner.lastResult();
    const QString output = runner.Outputs();
    m_log.runEnded(m_run.commandText, output, describeEnding(result));
    if (result.stopped) {
        if (m_run.writesFinalOutput)
            QFile::remove(m_run.expectedOutput);
        QFile::remove(m_locations.intermediateFile());
        endStopped(QStringLiteral("转换已停止"));
        return;
    }
    const bool missing = !hasContent(m_run.expectedOutput);
    if (result.crashed || result.exitCode != 0 || missing) {
        if (m_run.writesFinalOutput)
            QFile::remove(m_run.expectedOutput);
        const QString reason =
            FailureReason::describe(output, result.exitCode, result.crashed, missing);
        m_failures.append({m_run.inputPath, reason, FailureReason::lastLines(output)});
        m_log.note(QStringLiteral("失败：") + reason);
        finishFile(false);
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

void BatchDriver::finishFile(bool converted)
{
    if (m_queue.count() > 0 && m_queue.pathAt(0) == m_run.inputPath)
        m_queue.removeAt(0);
    setState(State::FileFinished);
    emit fileFinished(m_run.inputPath, converted);
    QMetaObject::invokeMethod(this, &BatchDriver::ConvertNextFile, Qt::QueuedConnection);
}

void BatchDriver::stop()
{
    switch (m_state) {
    case State::StageOneRunning:
    case State::Mp3Running:
        m_objffmpeg.Stop();
        m_objDOS.Stop();
        break;
    case State::StageTwoRunning:
        m_objffmpeg.Stop();
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
    setState(State::Idle);
    emit stopped(why);
}
