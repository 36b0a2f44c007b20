#include "headless/BatchReport.h"

#include "headless/ConsoleOutput.h"
#include "process/NativePath.h"

#include <QFileInfo>

QString BatchReport::summaryText(const Summary &summary)
{
    QString text = QStringLiteral("\n成功 (converted): %1   失败 (failed): %2")
                       .arg(summary.converted)
                       .arg(summary.failures.size());
    if (!summary.warnings.isEmpty())
        text += QStringLiteral("   需要注意 (warnings): %1").arg(summary.warnings.size());
    if (summary.notConverted > 0)
        text += QStringLiteral("   未转换 (not converted): %1").arg(summary.notConverted);
    text += QLatin1Char('\n');
    for (const BatchScheduler::Failure &failure : summary.failures)
        text += QStringLiteral("失败 (failed): %1\n    原因 (reason): %2\n")
                    .arg(ConsoleOutput::escaped(NativePath::readable(failure.inputPath)),
                         failure.reason);
    for (const BatchScheduler::Warning &warning : summary.warnings)
        text += QStringLiteral("注意 (warning): %1\n    %2\n")
                    .arg(ConsoleOutput::escaped(warning.outputPath), warning.text);
    text += QStringLiteral("输出文件夹 (output): %1\n")
                .arg(ConsoleOutput::escaped(summary.outputFolder));
    text += QStringLiteral("详细记录 (log): %1\n").arg(summary.logPath);
    return text;
}

QString BatchReport::fileLabel(const File &file)
{
    return QStringLiteral("[%1/%2] %3")
        .arg(file.index)
        .arg(file.count)
        .arg(ConsoleOutput::escaped(QFileInfo(NativePath::readable(file.path)).fileName()));
}

QString BatchReport::warningText(const FileConversion::Result &result)
{
    return result.warning.isEmpty() ? QString()
                                    : QStringLiteral("，注意 (warning): ") + result.warning;
}
