#include "convert/FailureReason.h"

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

QString describe(const QString &toolOutput, int exitCode, bool crashed, bool outputMissing)
{
    struct Pattern
    {
        const char *text;
        const char *reason;
    };
    // Phrases of the tools' own "Error:" lines, the most specific cause first: a full disk
    // also shows up as a failed encoding.
    static const Pattern patterns[] = {
        {"No space left", "磁盘空间不足"},
        {"Disk quota", "磁盘空间不足"},
        {"cannot write to the output folder", "无法写入输出文件夹"},
        {"output file already exists", "输出文件已存在"},
        {"input file not found", "找不到输入文件"},
        {"input is not a file", "输入的不是文件"},
        {"input file is empty", "输入文件是空的"},
        {"Permission denied", "没有读取或写入的权限"},
        {"holds no audio or video", "输入文件里没有声音和图像"},
        {"has no video stream", "输入文件没有视频"},
        {"has no audio stream", "输入文件没有声音"},
        {"cannot read input file", "无法读取输入文件（文件已损坏或不是视频、音频文件）"},
        {"bad parameter", "参数无效"},
        {"cannot start", "无法启动编码程序（请确认已安装 ffmpeg）"},
        {"encoding failed", "编码失败"},
    };
    static const QRegularExpression errorLine(QStringLiteral("^Error:.*$"),
                                              QRegularExpression::MultilineOption);
    QString lines = toolOutput;
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QString error;
    for (auto match = errorLine.globalMatch(lines); match.hasNext();)
        error = match.next().captured();
    const QString text = error.isEmpty() ? lastLines(toolOutput, 5) : error;
    for (const Pattern &pattern : patterns)
        if (text.contains(QLatin1String(pattern.text), Qt::CaseInsensitive))
            return QString::fromUtf8(pattern.reason);
    if (crashed)
        return QStringLiteral("转换程序意外终止");
    if (exitCode != 0)
        return QStringLiteral("转换程序报告错误（代码 %1）").arg(exitCode);
    if (outputMissing)
        return QStringLiteral("没有生成输出文件");
    return QStringLiteral("转换失败");
}

} // namespace FailureReason
