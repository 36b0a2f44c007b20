#include "headless/TerminalReport.h"

#include "convert/BatchProgress.h"
#include "headless/ConsoleOutput.h"

namespace {

// Back to the start of the block, each line cleared as it is written, anything below erased.
const QString LineUp = QStringLiteral("\x1b[%1F");
const QString ClearLine = QStringLiteral("\x1b[2K");
const QString ClearBelow = QStringLiteral("\x1b[J");
const QString ClearToEnd = QStringLiteral("\x1b[K");

QString runState(const FileConversion::Progress &progress)
{
    QString text;
    if (progress.stages > 1)
        text = QStringLiteral("%1/%2 ").arg(progress.stage + 1).arg(progress.stages);
    return text + QStringLiteral("%1%").arg(qRound(progress.percent), 3);
}

} // namespace

void TerminalReport::started(const File &file)
{
    if (!m_quiet)
        show(file.index, fileLabel(file) + QStringLiteral("    0%"));
}

void TerminalReport::progressed(const File &file, const FileConversion::Progress &progress,
                                const Batch &batch)
{
    if (m_quiet)
        return;
    QString line = fileLabel(file) + QStringLiteral("  ") + runState(progress);
    const QString left =
        batch.secondsLeft ? BatchProgress::timeLeftText(*batch.secondsLeft) : QString();
    if (m_severalAtOnce) {
        m_batchLine = QStringLiteral("共 (total) %1%").arg(qRound(batch.fraction * 100), 3);
        if (!left.isEmpty())
            m_batchLine += QStringLiteral("  ") + left;
    } else if (!left.isEmpty()) {
        line += QStringLiteral("  ") + left;
    }
    show(file.index, line);
}

void TerminalReport::finished(const File &file, const FileConversion::Result &result)
{
    if (result.outcome == FileConversion::Outcome::Converted) {
        if (m_quiet)
            return;
        settle(file.index, fileLabel(file) + QStringLiteral("  完成 (done)") + warningText(result));
        return;
    }
    settle(file.index, failedLine(file, result.reason));
}

void TerminalReport::skipped(const File &file, const QString &existingOutput,
                             const QString &failedReason)
{
    if (!m_quiet)
        settle(file.index, skippedLine(file, existingOutput, failedReason));
}

void TerminalReport::stopped(const QString &, const QVector<File> &running)
{
    for (const File &file : running)
        if (m_live.contains(file.index))
            settle(file.index, fileLabel(file) + QStringLiteral("  已停止 (stopped)"));
}

void TerminalReport::summary(const Summary &summary)
{
    m_live.clear();
    m_batchLine.clear();
    redraw(QString());
    LineReport::summary(summary);
}

void TerminalReport::show(int index, const QString &line)
{
    if (m_live.value(index) == line)
        return;
    m_live.insert(index, line);
    redraw(QString());
}

void TerminalReport::settle(int index, const QString &line)
{
    m_live.remove(index);
    redraw(line);
}

void TerminalReport::redraw(const QString &settled)
{
    if (!m_severalAtOnce) {
        // One line, rewritten after a carriage return, the rest of it erased.
        const bool settling = !settled.isEmpty();
        if (!settling && m_live.isEmpty()) {
            if (m_drawn > 0)
                m_out.write(QStringLiteral("\n"));
            m_drawn = 0;
            return;
        }
        m_out.write(QLatin1Char('\r') + (settling ? settled : m_live.first()) + ClearToEnd +
                    (settling ? QStringLiteral("\n") : QString()));
        m_drawn = settling ? 0 : 1;
        return;
    }
    const bool wasDrawn = m_drawn > 0;
    QString text = wasDrawn ? LineUp.arg(m_drawn) : QString();
    if (!settled.isEmpty())
        text += ClearLine + settled + QLatin1Char('\n');
    m_drawn = 0;
    for (const QString &line : std::as_const(m_live)) {
        text += ClearLine + line + QLatin1Char('\n');
        ++m_drawn;
    }
    if (!m_live.isEmpty() && !m_batchLine.isEmpty()) {
        text += ClearLine + m_batchLine + QLatin1Char('\n');
        ++m_drawn;
    }
    // Nothing shown and nothing to show (a quiet run going well): not even a control code.
    if (text.isEmpty() && !wasDrawn)
        return;
    m_out.write(text + ClearBelow);
}
