#include "convert/FailureReason.h"

#include "tools/ToolContract.h"

#include <QRegularExpression>
#include <QStringList>

namespace FailureReason {

namespace {

namespace E = ToolContract::Error;

// What the system ran short of: said the same whether a tool or the system's own words tell it.
constexpr char OutOfMemory[] = "内存不足";
constexpr char OutOfProcesses[] = "系统的进程数已达上限";
constexpr char OutOfDescriptors[] = "打开的文件数已达上限";

struct Message
{
    const char *begins;
    const char *ends; // nullptr: any end
    const char *reason;
    const char *code;
};
// The tools' "Error:" lines. Many carry a file name, so they are matched by how they begin
// and end: a file called "No space left.avi" must not read as a full disk.
constexpr Message messages[] = {
    {E::StoppedBySignal, nullptr, "转换被中止", "stopped"},
    {E::InputNotFound, nullptr, "找不到输入文件", "input-missing"},
    {E::InputNotAFile, nullptr, "输入的不是文件", "input-not-file"},
    {E::InputEmpty, nullptr, "输入文件是空的（0 字节）", "input-empty"},
    {E::NotMediaFile, nullptr, "不是可转换的媒体文件（例如播放列表或文件清单）", "not-media"},
    {E::InputUnreadable, nullptr, "无法读取输入文件（文件已损坏或不是视频、音频文件）",
     "unreadable"},
    {E::InputReplaced, nullptr, "输入文件在转换前被换成了别的文件，为安全起见没有转换",
     "input-replaced"},
    {E::NoVideoStream, nullptr, "输入文件没有图像，无法转换为视频格式", "no-video"},
    {E::NoAudioStream, nullptr, "输入文件没有声音，无法转换为纯音频格式", "no-audio"},
    {E::AudioUndecodable, nullptr, "无法解码输入文件的声音", "audio-undecodable"},
    {E::BadParameter, nullptr, "参数无效（请检查声道、采样率、码率或尺寸）", "bad-parameter"},
    {E::UnknownOption, nullptr, "参数无效", "bad-parameter"},
    {E::OptionNeedsValue, E::OptionNeedsValueEnd, "参数无效", "bad-parameter"},
    {E::NoInputFile, nullptr, "参数无效（没有输入文件）", "bad-parameter"},
    {E::NoOutputFile, nullptr, "参数无效（没有输出文件）", "bad-parameter"},
    {E::MoreThanOneInput, nullptr, "参数无效（输入文件不止一个）", "bad-parameter"},
    {E::NoAudioEncoder, nullptr, "参数无效（没有选择声音编码器）", "bad-parameter"},
    {E::NoVideoEncoder, nullptr, "参数无效（没有选择视频编码器）", "bad-parameter"},
    {E::OutputIsFolder, nullptr, "输出路径是一个文件夹", "output-is-folder"},
    {E::OutputNotAFile, nullptr, "输出路径不是普通文件（例如设备或管道）", "output-not-file"},
    {E::OutputFormatRefused, nullptr, "不支持的输出格式（会写出多个文件，或写到设备、网络）",
     "output-format-refused"},
    {E::OutputFolderUnwritable, nullptr, "无法写入输出文件夹", "output-unwritable"},
    {E::OutputFolderReplaced, nullptr,
     "输出文件夹在转换时被换成了别的文件夹（可能是他人换上的链接），没有写入",
     "output-folder-replaced"},
    {E::TemporaryFileUnavailable, nullptr, "无法创建临时文件", "no-temporary"},
    {E::PipeUnavailable, nullptr, "无法启动编码程序（系统资源不足）", "no-resources"},
    {E::CannotCreate, nullptr, "无法创建输出文件", "cannot-create"},
    {E::NoOutputWritten, nullptr, "编码程序没有写出任何内容", "no-output"},
    {E::AmrEncoderUnavailable, nullptr, "无法启动 AMR 声音编码器（请确认已安装 opencore-amr）",
     "no-amr-encoder"},
    {E::AmrWriteFailed, nullptr, "无法写出 AMR 声音", "amr-failed"},
    {E::CannotStart, nullptr, "无法启动编码程序（请确认已安装 ffmpeg）", "no-ffmpeg"},
    {E::EncodingFailed, nullptr, "编码失败", "encoding-failed"},
    {E::OutputUnplayable, nullptr, "编码程序写出的文件无法播放", "output-unplayable"},
    {E::OutputNoStream, nullptr, "编码程序写出的文件既没有图像也没有声音", "output-no-stream"},
    {E::OutputNoVideo, nullptr, "编码程序写出的文件没有图像", "output-no-video"},
    {E::OutputEmpty, nullptr, "编码程序写出的文件没有可播放的内容", "output-empty"},
    {E::OutputTooLong, nullptr, "输入文件的时间戳有误：输出会比输入长得多，已停止转换",
     "output-too-long"},
    {E::OutOfMemory, nullptr, OutOfMemory, "out-of-memory"},
    {E::OutOfProcesses, nullptr, OutOfProcesses, "out-of-processes"},
    {E::OutOfDescriptors, nullptr, OutOfDescriptors, "out-of-files"},
};

constexpr bool same(const char *a, const char *b)
{
    while (*a && *a == *b)
        ++a, ++b;
    return *a == *b;
}

constexpr bool hasMessageFor(const char *text)
{
    for (const Message &message : messages)
        if (same(message.begins, text))
            return true;
    return false;
}

constexpr bool everyErrorHasAMessage()
{
    for (const char *text : E::All)
        if (!hasMessageFor(text))
            return false;
    return true;
}
static_assert(everyErrorHasAMessage(), "every error text of the tools has its reason here");

struct Cause
{
    const char *words;
    const char *reason;
    const char *code;
};
// The system's words for a cause, which end a line after ": ". They say more than the step
// that failed: a full disk shows up as a failed encoding.
constexpr Cause causes[] = {
    {"No space left on device", "磁盘空间不足", "disk-full"},
    {"Disk quota exceeded", "磁盘空间不足（超出配额）", "disk-full"},
    {"File too large", "文件超出了磁盘格式允许的大小", "file-too-large"},
    {"Read-only file system", "输出位置是只读的", "read-only"},
    {"Permission denied", "没有读取或写入的权限", "permission-denied"},
    {"Input/output error", "读写磁盘时出错", "io-error"},
    {"Cannot allocate memory", OutOfMemory, "out-of-memory"},
    {"Resource temporarily unavailable", OutOfProcesses, "out-of-processes"},
    {"Too many open files", OutOfDescriptors, "out-of-files"},
    {"Too many open files in system", OutOfDescriptors, "out-of-files"},
};

struct Ending
{
    const char *reason; // how the reason begins; a number may follow
    const char *code;
};
// Reasons that come from how a tool ended, or from the engine itself.
constexpr Ending Crashed = {"转换程序意外终止", "crashed"};
constexpr Ending ExitCode = {"转换程序报告错误（代码 ", "tool-error"};
constexpr Ending NothingWritten = {"没有生成输出文件", "no-output"};
constexpr Ending NotStarted = {"无法启动转换工具", "tool-missing"};
constexpr Ending Unexplained = {"转换失败", "failed"};
constexpr Ending endings[] = {
    Crashed,        ExitCode,
    NothingWritten, {"编码程序停止响应", "stalled"},
    NotStarted,     {"转换已停止", "stopped"},
    Unexplained,
};

} // namespace

QString lastLines(const QString &output, int count)
{
    static const QRegularExpression lineBreak(QStringLiteral("[\r\n]+"));
    QStringList lines = output.split(lineBreak, Qt::SkipEmptyParts);
    for (QString &line : lines)
        line = line.trimmed();
    lines.removeAll(QString());
    return lines.mid(qMax<qsizetype>(0, lines.size() - count)).join(QLatin1Char('\n'));
}

QString describe(const QString &toolOutput, int exitCode, bool crashed, bool outputMissing)
{
    static const QRegularExpression errorLine(
        QLatin1Char('^') + QRegularExpression::escape(QLatin1String(ToolContract::ErrorPrefix)) +
            QStringLiteral("(.*)$"),
        QRegularExpression::MultilineOption);
    QString lines = toolOutput;
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QString error;
    for (auto match = errorLine.globalMatch(lines); match.hasNext();)
        error = match.next().captured(1).trimmed();
    const QStringList ends =
        error.isEmpty() ? lastLines(toolOutput, 5).split(QLatin1Char('\n')) : QStringList{error};
    for (const QString &line : ends)
        for (const Cause &cause : causes)
            if (line.endsWith(QLatin1Char(' ') + QLatin1String(cause.words)))
                return QString::fromUtf8(cause.reason);
    for (const Message &message : messages)
        if (error.startsWith(QLatin1String(message.begins)) &&
            (!message.ends || error.endsWith(QLatin1String(message.ends))))
            return QString::fromUtf8(message.reason);
    if (crashed)
        return QString::fromUtf8(Crashed.reason);
    if (exitCode != 0)
        return QString::fromUtf8(ExitCode.reason) + QString::number(exitCode) +
               QStringLiteral("）");
    if (outputMissing)
        return QString::fromUtf8(NothingWritten.reason);
    return QString::fromUtf8(Unexplained.reason);
}

QString notStarted(const QString &toolName, const QString &systemText)
{
    const QString why = QString::fromUtf8(NotStarted.reason) + QLatin1Char(' ') + toolName;
    for (const Cause &cause : causes)
        if (systemText.endsWith(QLatin1String(cause.words)))
            return why + QStringLiteral("：") + QString::fromUtf8(cause.reason);
    return why;
}

QString code(const QString &reason)
{
    // A tool that could not start for want of something is known by what it wanted.
    for (const Cause &cause : causes)
        if (reason == QString::fromUtf8(cause.reason) ||
            reason.endsWith(QStringLiteral("：") + QString::fromUtf8(cause.reason)))
            return QLatin1String(cause.code);
    for (const Message &message : messages)
        if (reason == QString::fromUtf8(message.reason))
            return QLatin1String(message.code);
    for (const Ending &ending : endings)
        if (reason.startsWith(QString::fromUtf8(ending.reason)))
            return QLatin1String(ending.code);
    return QLatin1String(Unexplained.code);
}

QStringList codes()
{
    QStringList all;
    for (const Message &message : messages)
        all.append(QLatin1String(message.code));
    for (const Cause &cause : causes)
        all.append(QLatin1String(cause.code));
    for (const Ending &ending : endings)
        all.append(QLatin1String(ending.code));
    all.removeDuplicates();
    return all;
}

QString reasonFor(const QString &code)
{
    for (const Cause &cause : causes)
        if (code == QLatin1String(cause.code))
            return QString::fromUtf8(cause.reason);
    for (const Message &message : messages)
        if (code == QLatin1String(message.code))
            return QString::fromUtf8(message.reason);
    return {};
}

} // namespace FailureReason
