#include "convert/FailureReason.h"

#include "tools/ToolContract.h"

#include <QRegularExpression>
#include <QStringList>

namespace FailureReason {

QString lastLines(const QString &output, int count)
{
    static const QRegularExpression lineBreak(QStringLiteral("[\r\n]+"));
    QStringList lines = output.split(lineBreak, Qt::SkipEmptyParts);
    for (QString &line : lines)
        line = line.trimmed();
    lines.removeAll(QString());
    return lines.mid(qMax<qsizetype>(0, lines.size() - count)).join(QLatin1Char('\n'));
}

namespace {

namespace E = ToolContract::Error;

struct Message
{
    const char *begins;
    const char *ends; // nullptr: any end
    const char *reason;
    const char *code;
};
// The tools' "Error:" lines. Many carry a file name, so they are matched by how they begin
// and end: a file called "No space left.avi" must not read as a full disk.
const Message messages[] = {
    {E::StoppedBySignal, nullptr, "转换被中止", "stopped"},
    {E::InputNotFound, nullptr, "找不到输入文件", "input-missing"},
    {E::InputNotAFile, nullptr, "输入的不是文件", "input-not-file"},
    {E::InputEmpty, nullptr, "输入文件是空的（0 字节）", "input-empty"},
    {E::NotMediaFile, nullptr, "不是可转换的媒体文件（例如播放列表或文件清单）", "not-media"},
    {E::InputUnreadable, nullptr, "无法读取输入文件（文件已损坏或不是视频、音频文件）",
     "unreadable"},
    {E::NoVideoStream, nullptr, "输入文件没有图像，无法转换为视频格式", "no-video"},
    {E::NoAudioStream, nullptr, "输入文件没有声音，无法转换为纯音频格式", "no-audio"},
    {E::AudioUndecodable, nullptr, "无法解码输入文件的声音", "audio-undecodable"},
    {E::BadParameter, nullptr, "参数无效（请检查声道、采样率、码率或尺寸）", "bad-parameter"},
    {E::UnknownOption, nullptr, "参数无效", "bad-parameter"},
    {E::OptionNeedsValue, E::OptionNeedsValueEnd, "参数无效", "bad-parameter"},
    {E::OutputExists, nullptr, "输出文件已存在", "output-exists"},
    {E::OutputIsFolder, nullptr, "输出路径是一个文件夹", "output-is-folder"},
    {E::OutputFolderUnwritable, nullptr, "无法写入输出文件夹", "output-unwritable"},
    {E::TemporaryFileUnavailable, nullptr, "无法创建临时文件", "no-temporary"},
    {E::PipeUnavailable, nullptr, "无法启动编码程序（系统资源不足）", "no-resources"},
    {E::CannotCreate, nullptr, "无法创建输出文件", "cannot-create"},
    {E::NoOutputWritten, nullptr, "编码程序没有写出任何内容", "no-output"},
    {E::AmrEncoderUnavailable, nullptr, "无法启动 AMR 声音编码器（请确认已安装 opencore-amr）",
     "no-amr-encoder"},
    {E::AmrWriteFailed, nullptr, "无法写出 AMR 声音", "amr-failed"},
    {E::CannotStart, nullptr, "无法启动编码程序（请确认已安装 ffmpeg）", "no-ffmpeg"},
    {E::EncodingFailed, nullptr, "编码失败", "encoding-failed"},
};

struct Cause
{
    const char *words;
    const char *reason;
    const char *code;
};
// The system's words for a cause, which end a line after ": ". They say more than the step
// that failed: a full disk shows up as a failed encoding.
const Cause causes[] = {
    {"No space left on device", "磁盘空间不足", "disk-full"},
    {"Disk quota exceeded", "磁盘空间不足（超出配额）", "disk-full"},
    {"File too large", "文件超出了磁盘格式允许的大小", "file-too-large"},
    {"Read-only file system", "输出位置是只读的", "read-only"},
    {"Permission denied", "没有读取或写入的权限", "permission-denied"},
    {"Input/output error", "读写磁盘时出错", "io-error"},
    {"Cannot allocate memory", "内存不足", "out-of-memory"},
    {"Resource temporarily unavailable", "系统进程数已达上限", "out-of-processes"},
    {"Too many open files", "打开的文件数已达上限", "out-of-files"},
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
constexpr Ending Unexplained = {"转换失败", "failed"};
const Ending endings[] = {
    Crashed,
    ExitCode,
    NothingWritten,
    {"转换程序长时间没有任何进展", "stalled"},
    {"无法启动转换工具", "tool-missing"},
    {"转换已停止", "stopped"},
    Unexplained,
};

} // namespace

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

QString code(const QString &reason)
{
    for (const Cause &cause : causes)
        if (reason == QString::fromUtf8(cause.reason))
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
