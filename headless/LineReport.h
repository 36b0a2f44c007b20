#pragma once

#include "headless/BatchReport.h"

// One line per event, for a log file or a pipe: a file started, converted, skipped or failed.
class LineReport : public BatchReport
{
public:
    using BatchReport::BatchReport;

    void started(const File &file) override;
    void progressed(const File &, const FileConversion::Progress &, const Batch &) override {}
    void finished(const File &file, const FileConversion::Result &result) override;
    void skipped(const File &file, const QString &existingOutput,
                 const QString &failedReason) override;
    void stopped(const QString &why, const QVector<File> &running) override;
    void summary(const Summary &summary) override;
    void planned(const File &file, const DryRun::Plan &plan) override;
    void planSummary(const PlanSummary &summary) override;
};
