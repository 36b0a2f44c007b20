#include "headless/BatchReport.h"

#include "convert/FailureReason.h"
#include "headless/ConsoleOutput.h"
#include "process/NativePath.h"

#include <QFileInfo>

namespace {

QString shownPath(const QString &path)
{
    return ConsoleOutput::escaped(NativePath::readable(path));
}

} // namespace

QString BatchReport::summaryText(const Summary &summary)
{
    QString text = QStringLiteral("\n成功 (converted): %1   失败 (failed): %2")
                       .arg(summary.converted)
                       .arg(summary.failures.size());
    if (summary.skipped > 0)
        text += QStringLiteral("   跳过 (skipped): %1").arg(summary.skipped);
    if (!summary.warnings.isEmpty())
        text += QStringLiteral("   需要注意 (warnings): %1").arg(summary.warnings.size());
    if (summary.notConverted > 0)
        text += QStringLiteral("   未转换 (not converted): %1").arg(summary.notConverted);
    text += QLatin1Char('\n');
    for (const BatchScheduler::Failure &failure : summary.failures)
        text += QStringLiteral("失败 (failed): %1\n    原因 (reason): %2\n")
                    .arg(shownPath(failure.inputPath), reasonText(failure.reason));
    for (const BatchScheduler::Warning &warning : summary.warnings)
        text += QStringLiteral("注意 (warning): %1\n    %2\n")
                    .arg(shownPath(warning.outputPath), warning.text);
    text += QStringLiteral("输出文件夹 (output): %1\n").arg(shownPath(summary.outputFolder));
    if (!summary.logPath.isEmpty())
        text += QStringLiteral("详细记录 (log): %1\n").arg(shownPath(summary.logPath));
    return text;
}

QString BatchReport::planSummaryText(const PlanSummary &summary)
{
    return QStringLiteral("\n将转换 (would convert): %1   将跳过 (would skip): %2   不能转换 "
                          "(would refuse): %3\n输出文件夹 (output): %4\n")
        .arg(summary.convert)
        .arg(summary.skip)
        .arg(summary.refuse)
        .arg(shownPath(summary.outputFolder));
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

QString BatchReport::reasonText(const QString &reason)
{
    return ConsoleOutput::escaped(reason) + QStringLiteral(" [") + FailureReason::code(reason) +
           QLatin1Char(']');
}

QString BatchReport::failedLine(const File &file, const QString &reason)
{
    return fileLabel(file) + QStringLiteral("  失败 (failed): ") + reasonText(reason);
}

QString BatchReport::skippedLine(const File &file, const QString &existingOutput,
                                 const QString &failedReason)
{
    if (!failedReason.isEmpty())
        return fileLabel(file) + QStringLiteral("  跳过 (skipped): 上次已失败 (failed before) ") +
               reasonText(failedReason);
    return fileLabel(file) + QStringLiteral("  跳过 (skipped): 已有输出 (output exists) ") +
           shownPath(existingOutput);
}

QString BatchReport::planLine(const File &file, const DryRun::Plan &plan)
{
    switch (plan.action) {
    case DryRun::Plan::Action::Convert:
        return fileLabel(file) + QStringLiteral("  将写入 (would write): ") +
               shownPath(plan.output);
    case DryRun::Plan::Action::Skip:
        return fileLabel(file) +
               QStringLiteral("  将跳过 (would skip): 已有输出 (output exists) ") +
               shownPath(plan.output);
    case DryRun::Plan::Action::Refuse:
        break;
    }
    return fileLabel(file) + QStringLiteral("  不能转换 (would refuse): ") +
           ConsoleOutput::escaped(plan.reason) + QStringLiteral(" [") + plan.code +
           QLatin1Char(']');
}
