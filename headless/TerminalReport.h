#pragma once

#include "headless/LineReport.h"

#include <QMap>

// Progress on a terminal, updated in place: one line per running file ("[2/5] clip.avi  1/2
// 45%") and, with several files at once, a line for the whole batch beneath them. Finished
// files leave one line each above.
class TerminalReport : public LineReport
{
public:
    TerminalReport(ConsoleOutput &out, int jobs, bool quiet)
        : LineReport(out, quiet), m_severalAtOnce(jobs > 1)
    {
    }

    void started(const File &file) override;
    void progressed(const File &file, const FileConversion::Progress &progress,
                    const Batch &batch) override;
    void finished(const File &file, const FileConversion::Result &result) override;
    void skipped(const File &file, const QString &existingOutput,
                 const QString &failedReason) override;
    void stopped(const QString &why, const QVector<File> &running) override;
    void summary(const Summary &summary) override;

private:
    void show(int index, const QString &line);
    void settle(int index, const QString &line);
    void redraw(const QString &settled);

    bool m_severalAtOnce;
    QMap<int, QString> m_live; // the running files' lines, by index
    QString m_batchLine;
    int m_drawn = 0; // lines of the live block on the screen
};
