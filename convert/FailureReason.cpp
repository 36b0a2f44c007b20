#include "convert/FailureReason.h"

#include "tools/ToolContract.h"

#include <QRegularExpression>
#include <QStringList>
#include <utility>

namespace FailureReason {

namespace {

const char OutOfMemory[] = "内存不足";
const char OutOfProcesses[] = "系统的进程数已达上限";
const char OutOfDescriptors[] = "打开的文件数已达上限";

// The system's words for a cause, which end a line after ": ". They say more than the step
// that failed: a full disk shows up as a failed encoding.
const std::pair<const char *, const char *> causes[] = {
    {"No space left on device", "磁盘空间不足"},
    {"Disk quota exceeded", "磁盘空间不足（超出配额）"},
    {"File too large", "文件超出了磁盘格式允许的大小"},
    {"Read-only file system", "输出位置是只读的"},
    {"Permission denied", "没有读取或写入的权限"},
    {"Input/output error", "读写磁盘时出错"},
    {"Cannot allocate memory", OutOfMemory},
    {"Resource temporarily unavailable", OutOfProcesses},
    {"Too many open files", OutOfDescriptors},
    {"Too many open files in system", OutOfDescriptors},
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
    namespace E = ToolContract::Error;
    struct Message
    {
        const char *begins;
        const char *ends; // nullptr: any end
        const char *reason;
    };
    // The tools' "Error:" lines. Many carry a file name, so they are matched by how they begin
    // and end: a file called "No space left.avi" must not read as a full disk.
    static const Message messages[] = {
        {E::StoppedBySignal, nullptr, "转换被中止"},
        {E::InputNotFound, nullptr, "找不到输入文件"},
        {E::InputNotAFile, nullptr, "输入的不是文件"},
        {E::InputEmpty, nullptr, "输入文件是空的（0 字节）"},
        {E::NotMediaFile, nullptr, "不是可转换的媒体文件（例如播放列表或文件清单）"},
        {E::InputUnreadable, nullptr, "无法读取输入文件（文件已损坏或不是视频、音频文件）"},
        {E::NoVideoStream, nullptr, "输入文件没有图像，无法转换为视频格式"},
        {E::NoAudioStream, nullptr, "输入文件没有声音，无法转换为纯音频格式"},
        {E::AudioUndecodable, nullptr, "无法解码输入文件的声音"},
        {E::BadParameter, nullptr, "参数无效（请检查声道、采样率、码率或尺寸）"},
        {E::UnknownOption, nullptr, "参数无效"},
        {E::OptionNeedsValue, E::OptionNeedsValueEnd, "参数无效"},
        {E::OutputIsFolder, nullptr, "输出路径是一个文件夹"},
        {E::OutputNotAFile, nullptr, "输出路径不是普通文件（例如设备或管道）"},
        {E::OutputFormatRefused, nullptr, "不支持的输出格式（会写出多个文件，或写到设备、网络）"},
        {E::OutputFolderUnwritable, nullptr, "无法写入输出文件夹"},
        {E::TemporaryFileUnavailable, nullptr, "无法创建临时文件"},
        {E::PipeUnavailable, nullptr, "无法启动编码程序（系统资源不足）"},
        {E::CannotCreate, nullptr, "无法创建输出文件"},
        {E::NoOutputWritten, nullptr, "编码程序没有写出任何内容"},
        {E::AmrEncoderUnavailable, nullptr, "无法启动 AMR 声音编码器（请确认已安装 opencore-amr）"},
        {E::AmrWriteFailed, nullptr, "无法写出 AMR 声音"},
        {E::CannotStart, nullptr, "无法启动编码程序（请确认已安装 ffmpeg）"},
        {E::EncodingFailed, nullptr, "编码失败"},
        {E::OutputUnplayable, nullptr, "编码程序写出的文件无法播放"},
        {E::OutputNoStream, nullptr, "编码程序写出的文件既没有图像也没有声音"},
        {E::OutputNoVideo, nullptr, "编码程序写出的文件没有图像"},
        {E::OutputEmpty, nullptr, "编码程序写出的文件没有可播放的内容"},
        {E::OutputTooLong, nullptr, "输入文件的时间戳有误：输出会比输入长得多，已停止转换"},
        {E::OutOfMemory, nullptr, OutOfMemory},
        {E::OutOfProcesses, nullptr, OutOfProcesses},
        {E::OutOfDescriptors, nullptr, OutOfDescriptors},
    };
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
        for (const auto &[cause, reason] : causes)
            if (line.endsWith(QLatin1Char(' ') + QLatin1String(cause)))
                return QString::fromUtf8(reason);
    for (const Message &message : messages)
        if (error.startsWith(QLatin1String(message.begins)) &&
            (!message.ends || error.endsWith(QLatin1String(message.ends))))
            return QString::fromUtf8(message.reason);
    if (crashed)
        return QStringLiteral("转换程序意外终止");
    if (exitCode != 0)
        return QStringLiteral("转换程序报告错误（代码 %1）").arg(exitCode);
    if (outputMissing)
        return QStringLiteral("没有生成输出文件");
    return QStringLiteral("转换失败");
}

QString notStarted(const QString &toolName, const QString &systemText)
{
    const QString why = QStringLiteral("无法启动转换工具 %1").arg(toolName);
    for (const auto &[cause, reason] : causes)
        if (systemText.endsWith(QLatin1String(cause)))
            return why + QStringLiteral("：") + QString::fromUtf8(reason);
    return why;
}

} // namespace FailureReason
