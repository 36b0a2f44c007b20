#include "app/BatchResults.h"

#include "app/DesktopServices.h"
#include "app/frmSummary.h"
#include "convert/BatchScheduler.h"

#include <QWidget>

BatchResults::BatchResults(QWidget *window, DesktopServices *desktop,
                           std::function<void(const QStringList &)> retry)
    : m_window(window), m_desktop(desktop), m_retry(std::move(retry))
{
}

QString BatchResults::statusText(const BatchScheduler &scheduler)
{
    QString result = QStringLiteral("%1 个文件转换成功").arg(scheduler.filesConverted());
    if (const qsizetype warnings = scheduler.warnings().size())
        result += QStringLiteral("（%1 个需要注意）").arg(warnings);
    if (const qsizetype failures = scheduler.failures().size())
        result += QStringLiteral("，%1 个文件转换失败").arg(failures);
    return result;
}

frmSummary *BatchResults::summary() const
{
    return m_summary;
}

void BatchResults::report(const BatchScheduler &scheduler, const QString &outputFolder)
{
    // Whoever waited a minute or more has likely turned to something else.
    if (scheduler.progress().elapsedMs() > LongBatchMs && !m_window->isActiveWindow())
        m_desktop->notify(QStringLiteral("Vidmorph 转换完成"), statusText(scheduler), outputFolder);
    const QVector<BatchScheduler::Failure> failures = scheduler.failures();
    const QVector<BatchScheduler::Warning> warnings = scheduler.warnings();
    if (failures.isEmpty() && warnings.isEmpty())
        return;
    delete m_summary;
    auto *summary = new frmSummary(failures, warnings, scheduler.filesConverted(), m_window);
    summary->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(summary, &frmSummary::retryRequested, m_window, m_retry);
    QObject::connect(summary, &frmSummary::logRequested, m_window,
                     [desktop = m_desktop, log = scheduler.logPath()] {
                         desktop->open(log, DesktopServices::Failure::Told);
                     });
    m_summary = summary;
    // Shown without a nested event loop, so the batch's own handlers return first.
    summary->open();
}
