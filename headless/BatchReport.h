#pragma once

#include "convert/BatchScheduler.h"
#include "convert/FileConversion.h"
#include "headless/DryRun.h"

#include <QString>
#include <QVector>
#include <optional>

class ConsoleOutput;

// How a headless batch tells the user, or another program, what happens: one call per event,
// each with values the engine computed. A report writes them in its own form: lines updated in
// place on a terminal, one line per event for a log or a pipe, or JSON for programs. Quiet, a
// report says nothing of what went well: only the failed files, and no summary.
class BatchReport
{
public:
    struct File
    {
        int index = 0; // the file's number in the batch, from 1
        int count = 0; // files in the batch
        QString path;
    };
    struct Batch
    {
        double fraction = 0; // share of the whole batch done
        std::optional<qint64> secondsLeft;
    };
    struct Summary
    {
        int converted = 0;
        int skipped = 0;
        QVector<BatchScheduler::Failure> failures;
        QVector<BatchScheduler::Warning> warnings;
        int notConverted = 0;
        QString outputFolder;
        QString logPath; // empty when no log was written
    };
    struct PlanSummary
    {
        int convert = 0;
        int skip = 0;
        int refuse = 0;
        QString outputFolder;
    };

    BatchReport(ConsoleOutput &out, bool quiet) : m_out(out), m_quiet(quiet) {}
    virtual ~BatchReport() = default;

    virtual void started(const File &file) = 0;
    virtual void progressed(const File &file, const FileConversion::Progress &progress,
                            const Batch &batch) = 0;
    virtual void finished(const File &file, const FileConversion::Result &result) = 0;
    // The file's output is there already, so it was not converted again; or else it failed
    // before with `failedReason` and would only fail again.
    virtual void skipped(const File &file, const QString &existingOutput,
                         const QString &failedReason) = 0;
    // The batch ended early; `running` are the files that were converting.
    virtual void stopped(const QString &why, const QVector<File> &running) = 0;
    virtual void summary(const Summary &summary) = 0;
    // A dry run: what would happen to the file, and at the end the counts.
    virtual void planned(const File &file, const DryRun::Plan &plan) = 0;
    virtual void planSummary(const PlanSummary &summary) = 0;

protected:
    // The summary as people read it: counts, the failed files with their reasons, the output
    // folder and the log.
    static QString summaryText(const Summary &summary);
    static QString planSummaryText(const PlanSummary &summary);
    // "[2/5] clip.avi"
    static QString fileLabel(const File &file);
    // "，注意 (warning): …" for a file that converted with a warning, else nothing.
    static QString warningText(const FileConversion::Result &result);
    // The reason with its stable code for scripts: "无法读取输入文件… [unreadable]".
    static QString reasonText(const QString &reason);
    // One line of each kind for the events every text form shows alike.
    static QString failedLine(const File &file, const QString &reason);
    static QString skippedLine(const File &file, const QString &existingOutput,
                               const QString &failedReason);
    static QString planLine(const File &file, const DryRun::Plan &plan);

    ConsoleOutput &m_out;
    bool m_quiet;
};
