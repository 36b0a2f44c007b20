#pragma once

#include "headless/BatchReport.h"

// One line per event, for a log file or a pipe: a file started, converted or failed. Quiet,
// only the failures and the summary.
class LineReport : public BatchReport
{
public:
    LineReport(ConsoleOutput &out, bool quiet) : BatchReport(out), m_quiet(quiet) {}

    void started(const File &file) override;
    void progressed(const File &, const FileConversion::Progress &, const Batch &) override {}
    void finished(const File &file, const FileConversion::Result &result) override;
    void stopped(const QString &why, const QVector<File> &running) override;
    void summary(const Summary &summary) override;

private:
    bool m_quiet;
};
