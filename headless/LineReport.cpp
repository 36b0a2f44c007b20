#include "headless/LineReport.h"

#include "headless/ConsoleOutput.h"

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
                        ConsoleOutput::escaped(result.outputPath) + warningText(result) +
                        QLatin1Char('\n'));
        return;
    }
    m_out.write(fileLabel(file) + QStringLiteral("  失败 (failed): ") + result.reason +
                QLatin1Char('\n'));
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
    m_out.write(summaryText(summary));
}
