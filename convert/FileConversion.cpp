#include "convert/FileConversion.h"

#include "convert/BatchHost.h"
#include "convert/BatchLog.h"
#include "convert/CheckedInputs.h"
#include "convert/FailureReason.h"
#include "convert/Formats.h"
#include "process/DOSOutputs.h"
#include "process/NativePath.h"
#include "tools/ToolContract.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool hasContent(const QString &path)
{
    // Asked with the path's exact bytes: a kept tree's folder may be named in GBK.
    return NativePath::isFile(path) && NativePath::size(path) > 0;
}

// Two names for one file: the same file after links are resolved, or a hard link.
bool isSameFile(const QString &a, const QString &b)
{
    struct stat statusA = {}, statusB = {};
    return ::stat(NativePath::encode(b).constData(), &statusB) == 0 &&
           ::stat(NativePath::encode(a).constData(), &statusA) == 0 &&
           statusA.st_dev == statusB.st_dev && statusA.st_ino == statusB.st_ino;
}

// A tool writes its output into a hidden file in the same folder and renames it only when it
// succeeds. A stopped tool removes it itself, but one killed outright cannot, so what that very
// tool left is removed here, found by the process id in its name. Only this user's files are
// removed, each as the entry it is: a link planted under such a name is never followed.
void removeTemporary(const QString &outputPath, qint64 toolPid)
{
    if (toolPid <= 0)
        return;
    const QByteArray folder = NativePath::encode(QFileInfo(outputPath).absolutePath());
    const std::string prefix = ToolContract::temporaryPrefix(toolPid);
    DIR *entries = ::opendir(folder.constData());
    if (!entries)
        return;
    while (const dirent *entry = ::readdir(entries)) {
        struct stat status = {};
        if (std::string_view(entry->d_name).substr(0, prefix.size()) == prefix &&
            ::fstatat(::dirfd(entries), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISDIR(status.st_mode) && status.st_uid == ::geteuid())
            ::unlinkat(::dirfd(entries), entry->d_name, 0);
    }
    ::closedir(entries);
}

// The streams a run's notes say the output could not carry.
QStringList droppedIn(const QString &output)
{
    static const QRegularExpression dropped(
        QLatin1Char('^') + QRegularExpression::escape(QLatin1String(ToolContract::NotePrefix)) +
            QRegularExpression::escape(QLatin1String(ToolContract::DroppedNote)) +
            QStringLiteral("((?:video|audio|subtitle)#[0-9]+(?:\\([a-z]+\\))?)$"),
        QRegularExpression::MultilineOption);
    QString lines = output;
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList found;
    for (const QRegularExpressionMatch &match : dropped.globalMatch(lines))
        found.append(match.captured(1));
    return found;
}

// What a run's notes say the user should know of a file that did convert.
QString warningIn(const QString &output)
{
    static const QRegularExpression shortOutput(
        QLatin1Char('^') + QRegularExpression::escape(QLatin1String(ToolContract::NotePrefix)) +
            QRegularExpression::escape(QLatin1String(ToolContract::ShortOutputNote)) +
            QStringLiteral("([0-9.]+) s of ([0-9.]+) s"),
        QRegularExpression::MultilineOption);
    static const QRegularExpression leap(
        QLatin1Char('^') + QRegularExpression::escape(QLatin1String(ToolContract::NotePrefix)) +
            QRegularExpression::escape(QLatin1String(ToolContract::LeapNote)) +
            QStringLiteral("(video|audio) ([0-9.]+) s at ([0-9.]+) s"),
        QRegularExpression::MultilineOption);
    QString lines = output;
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n')); // progress lines end in a return
    QStringList warnings;
    for (const QRegularExpressionMatch &match : leap.globalMatch(lines))
        warnings.append(
            QStringLiteral("输入文件的%1时间戳在 %2 秒处向前跳了 %3 秒（中间没有内容），已接上")
                .arg(match.captured(1) == QLatin1String("video") ? QStringLiteral("画面")
                                                                 : QStringLiteral("声音"),
                     match.captured(3), match.captured(2)));
    const QRegularExpressionMatch match = shortOutput.match(lines);
    if (match.hasMatch())
        warnings.append(QStringLiteral("输出只有 %1 秒，输入文件标明有 %2 秒：输入文件可能不完整")
                            .arg(match.captured(1), match.captured(2)));
    if (const QStringList dropped = droppedIn(output); !dropped.isEmpty())
        warnings.append(QStringLiteral("输出格式容纳不下，未保留：") +
                        dropped.join(QStringLiteral("、")));
    warnings.removeDuplicates();
    return warnings.join(QStringLiteral("；"));
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

FileConversion::FileConversion(const QString &inputPath, BatchHost &host,
                               const Locations &locations, MessageSink *messages, QObject *parent)
    : QObject(parent), m_host(host), m_locations(locations), objDOS(new DOSOutputs(messages, this)),
      objffmpeg(new DOSOutputs(messages, this)), m_clock([] { return QTime::currentTime(); })
{
    m_result.inputPath = inputPath;
    m_stallWatch.setTimeout(DefaultStallTimeoutMs);
    connect(&m_stallWatch, &StallWatch::stalled, this, &FileConversion::toolStalled);
    connect(objDOS, &DOSOutputs::ReceiveOutputs, this,
            [this](const QString &chunk) { receive(CommandBuilder::Runner::DOS, chunk); });
    connect(objffmpeg, &DOSOutputs::ReceiveOutputs, this,
            [this](const QString &chunk) { receive(CommandBuilder::Runner::Ffmpeg, chunk); });
    connect(objDOS, &DOSOutputs::CommandOver, this, [this] { runOver(*objDOS, Stage::StageOne); });
    connect(objffmpeg, &DOSOutputs::CommandOver, this,
            [this] { runOver(*objffmpeg, m_stage == Stage::Mp3 ? Stage::Mp3 : Stage::StageTwo); });
}

FileConversion::~FileConversion() = default;

QString FileConversion::conflictOf(const QString &inputPath, int format, const Locations &locations)
{
    // Stage one replaces the intermediate file; an input that is that file would be lost.
    if (Formats::isTwoStage(format) && isSameFile(inputPath, locations.intermediateFile()))
        return QStringLiteral(
                   "“%1”就是转换时使用的临时文件，转换会覆盖它。请先把它复制到别的文件夹，"
                   "再添加复制出的文件。")
            .arg(inputPath);
    return {};
}

QString FileConversion::outputPathFor(const QString &extension)
{
    const OutputNaming naming = m_host.outputNaming();
    // A kept tree's folders are made as their files come to need them.
    naming.makeFolderFor(m_result.inputPath);
    // The name is taken for this run as it is chosen: two runs at once, whichever process
    // they are in, cannot end up writing to the same file.
    return naming.pathFor(m_result.inputPath, extension, m_clock(), [this](const QString &path) {
        if (m_reservation.isTaken() && m_reservation.path() == path)
            return false; // ours already
        return m_reservation.take(path, m_journal) == OutputReservation::Outcome::Exists;
    });
}

void FileConversion::start()
{
    if (m_stage != Stage::Idle)
        return;
    const ParameterSet parameters = m_host.currentParameters();
    m_format = parameters.format;
    const QString conflict = conflictOf(m_result.inputPath, m_format, m_locations);
    if (!conflict.isEmpty()) {
        m_stage = Stage::StageOne;
        QMetaObject::invokeMethod(
            this, [this, conflict] { end(Outcome::Failed, conflict); }, Qt::QueuedConnection);
        return;
    }
    m_progress.stages = Formats::isTwoStage(m_format) ? 2 : 1;
    if (Formats::isTwoStage(m_format)) {
        // Stage two must never encode what an earlier file left in the intermediate file.
        QFile::remove(m_locations.intermediateFile());
        m_expectedOutput = m_locations.intermediateFile();
    } else if (Formats::isValid(m_format)) {
        m_expectedOutput = outputPathFor(Formats::extension(m_format));
        m_writesFinalOutput = true;
    }
    const CommandBuilder::Command command = CommandBuilder::BuildStageOneCommand(
        m_locations.appFolder, m_result.inputPath, m_expectedOutput, parameters,
        m_locations.intermediateFile());
    startRun(command,
             command.runner == CommandBuilder::Runner::Ffmpeg ? Stage::Mp3 : Stage::StageOne);
}

bool FileConversion::startRun(const CommandBuilder::Command &command, Stage stage)
{
    m_toolImageName = command.toolName;
    DOSOutputs &runner = command.runner == CommandBuilder::Runner::Ffmpeg ? *objffmpeg : *objDOS;
    runner.setCommandLine(command.line);
    m_commandText = command.line.text();
    m_stage = stage;
    m_progress.runner = command.runner;
    m_progress.stage = stage == Stage::StageTwo ? 1 : 0;
    m_progress.percent = 0;
    // The tool writes into the folder the name was taken in, or nowhere; it reads the file
    // this program found and checked (a folder's, the watch's), or nothing.
    runner.setVariables(
        {{ToolContract::OutputFolderIdentityVariable,
          m_writesFinalOutput ? m_reservation.folderIdentity() : QByteArray()},
         {ToolContract::InputIdentityVariable,
          stage == Stage::StageTwo ? QByteArray()
                                   : CheckedInputs::identityOf(m_result.inputPath)}});
    if (!runner.Start()) {
        // The runner has told the user why; the file is not lost, only not started.
        const QString why =
            FailureReason::notStarted(command.toolName, runner.lastResult().startError);
        m_reservation.release();
        emit logged(QStringLiteral("$ ") + m_commandText + QStringLiteral("\n=> 无法启动\n"));
        QMetaObject::invokeMethod(
            this, [this, why] { end(Outcome::NotStarted, why); }, Qt::QueuedConnection);
        return false;
    }
    m_stalled = false;
    m_stallWatch.start();
    emit toolStarted(command.toolName, command.runner, m_progress.stage);
    return true;
}

void FileConversion::receive(CommandBuilder::Runner runner, const QString &chunk)
{
    m_stallWatch.observe(runner, chunk);
    if (!m_lengthTold) {
        if (const std::optional<double> seconds = ProgressParser::inputLength(chunk)) {
            m_lengthTold = true;
            emit inputLength(*seconds);
        }
    }
    const std::optional<ProgressDisplay> display =
        runner == CommandBuilder::Runner::DOS
            ? ProgressParser::parseStageOne(chunk, SpinnerChar)
            : ProgressParser::parseStageTwo(chunk, SpinnerChar, DurationSeconds);
    if (!display)
        return;
    // A tool's odd percentage, "(9999)" say, must not draw a bar wider than the window.
    m_progress.display = *display;
    m_progress.display.imgPBWidth = qBound(0.0, display->imgPBWidth, ProgressParser::FullBarTwips);
    m_progress.percent = qBound(0.0, display->pbValue, 100.0);
    emit progressChanged(m_progress);
}

void FileConversion::runOver(DOSOutputs &runner, Stage expected)
{
    if (m_stage != expected)
        return;
    m_stallWatch.stop();
    const RunResult result = runner.lastResult();
    const QString output = runner.Outputs();
    emit logged(BatchLog::runText(m_commandText, output, describeEnding(result)));
    // Each stage may have something to say; a second stage that repeats the first adds nothing.
    if (const QString warning = warningIn(output);
        !warning.isEmpty() && !m_result.warning.contains(warning))
        m_result.warning +=
            (m_result.warning.isEmpty() ? QString() : QStringLiteral("；")) + warning;
    for (const QString &stream : droppedIn(output))
        if (!m_result.dropped.contains(stream))
            m_result.dropped.append(stream);
    const bool lastStage = expected != Stage::StageOne || !Formats::isTwoStage(m_format);
    emit runEnded(expected == Stage::StageOne ? CommandBuilder::Runner::DOS
                                              : CommandBuilder::Runner::Ffmpeg);
    if (m_stalled && !m_stopRequested) {
        // Ended by the stall watch, not by the user: a failed file.
        discardRun(result.pid, true);
        end(Outcome::Failed, QStringLiteral("编码程序停止响应"), FailureReason::lastLines(output));
        return;
    }
    const bool missing = !hasContent(m_expectedOutput);
    const bool failed = result.crashed || result.exitCode != 0 || missing;
    // A stop that came while the tool was already on its way out still stops the file, unless
    // it got done in that moment.
    if (result.stopped || (m_stopRequested && (failed || !lastStage))) {
        discardRun(result.pid, false);
        end(Outcome::Stopped, QStringLiteral("转换已停止"));
        return;
    }
    if (failed) {
        discardRun(result.pid, true);
        end(Outcome::Failed,
            FailureReason::describe(output, result.exitCode, result.crashed, missing),
            FailureReason::lastLines(output));
        return;
    }
    if (lastStage) {
        m_result.outputPath = m_expectedOutput;
        end(Outcome::Converted);
        return;
    }
    startStageTwo();
}

void FileConversion::startStageTwo()
{
    // The parameters are read afresh; the format stays the one stage one was made for.
    ParameterSet stageTwo = m_host.currentParameters();
    stageTwo.format = m_format;
    // The name carries the time at which stage two starts.
    m_expectedOutput = outputPathFor(Formats::extension(m_format));
    m_writesFinalOutput = true;
    DurationSeconds = 0;
    startRun(CommandBuilder::BuildStageTwoCommand(m_locations.appFolder, m_expectedOutput, stageTwo,
                                                  m_locations.intermediateFile()),
             Stage::StageTwo);
}

void FileConversion::stop()
{
    if (m_stage == Stage::Idle || m_stage == Stage::Done || m_stopRequested)
        return;
    m_stopRequested = true;
    objDOS->Stop();
    objffmpeg->Stop();
    // The name goes back at once, not when the tool has wound down: a run killed meanwhile
    // (GNU parallel sends SIGKILL a third of a second after SIGTERM) leaves no empty output.
    m_reservation.release();
}

void FileConversion::toolStalled()
{
    m_stalled = true;
    emit logged(QStringLiteral("编码程序停止响应：%1 秒没有进展，结束转换程序\n")
                    .arg(m_stallWatch.timeout() / 1000));
    objDOS->Stop();
    objffmpeg->Stop();
}

void FileConversion::discardRun(qint64 toolPid, bool keepIntermediate)
{
    // Whatever this run was writing must not stay behind looking like a result.
    if (m_writesFinalOutput) {
        m_reservation.release();
        removeTemporary(m_expectedOutput, toolPid);
    } else {
        removeTemporary(m_locations.intermediateFile(), toolPid);
    }
    if (!keepIntermediate)
        QFile::remove(m_locations.intermediateFile());
}

void FileConversion::end(Outcome outcome, const QString &reason, const QString &toolLines)
{
    if (m_stage == Stage::Done)
        return;
    m_stage = Stage::Done;
    m_stallWatch.stop();
    // A name taken and not written, whichever stage ended it, goes back.
    if (outcome != Outcome::Converted)
        m_reservation.release();
    m_result.outcome = outcome;
    m_result.reason = reason;
    m_result.toolLines = toolLines;
    emit finished(m_result);
}
