#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

class BatchScheduler;
class DesktopServices;
class QWidget;
class frmSummary;

// What the user learns of a finished batch beyond the bar: the line of counts, a desktop
// notice when it took long and the window is not in front, and the summary of the files
// that failed or need a look.
class BatchResults
{
public:
    // `retry` puts the failed files back on the list.
    BatchResults(QWidget *window, DesktopServices *desktop,
                 std::function<void(const QStringList &)> retry);

    // "3 个文件转换成功（1 个需要注意），1 个文件转换失败"
    static QString statusText(const BatchScheduler &scheduler);
    // The notice and the summary for the batch just completed into `outputFolder`.
    void report(const BatchScheduler &scheduler, const QString &outputFolder);
    // The summary of the latest batch, while it is open.
    frmSummary *summary() const;

    // A batch that took longer than this ends with a notice when the window is not in front.
    static constexpr qint64 LongBatchMs = 60000;

private:
    QWidget *m_window;
    DesktopServices *m_desktop;
    std::function<void(const QStringList &)> m_retry;
    QPointer<frmSummary> m_summary;
};
