#include "headless/LineReport.h"

#include "headless/ConsoleOutput.h"
#include "process/NativePath.h"

void LineReport::started(const File &file)
{
    if (!m_quiet)
        m_out.write(fileLabel(file) + QStringLiteral("  开始 (started)\n"));
}

void LineReport::finished(const File &file, const FileConversion::Result &result)
{
    if (result.outcome == FileConversion::Outcome::Converted) {
        if (!m_quiet)
            m_out.write(fileLabel(file) + QStringLiteral("  完成 (done): ") +
                        ConsoleOutput::escaped(NativePath::readable(result.outputPath)) +
                        warningText(result) + QLatin1Char('\n'));
        return;
    }
    m_out.write(failedLine(file, result.reason) + QLatin1Char('\n'));
}

void LineReport::skipped(const File &file, const QString &existingOutput,
                         const QString &failedReason)
{
    if (!m_quiet)
        m_out.write(skippedLine(file, existingOutput, failedReason) + QLatin1Char('\n'));
}

void LineReport::stopped(const QString &, const QVector<File> &running)
{
    if (m_quiet)
        return;
    for (const File &file : running)
        m_out.write(fileLabel(file) + QStringLiteral("  已停止 (stopped)\n"));
}

void LineReport::summary(const Summary &summary)
{
    if (!m_quiet)
        m_out.write(summaryText(summary));
}

void LineReport::planned(const File &file, const DryRun::Plan &plan)
{
    if (!m_quiet || plan.action == DryRun::Plan::Action::Refuse)
        m_out.write(planLine(file, plan) + QLatin1Char('\n'));
}

void LineReport::planSummary(const PlanSummary &summary)
{
    if (!m_quiet)
        m_out.write(planSummaryText(summary));
}
