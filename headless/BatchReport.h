#pragma once

#include "convert/BatchScheduler.h"
#include "convert/FileConversion.h"

#include <QString>
#include <QVector>
#include <optional>

class ConsoleOutput;

// How a headless batch tells the user, or another program, what happens: one call per event,
// each with values the engine computed. A report writes them in its own form: lines updated in
// place on a terminal, one line per event for a log or a pipe, or JSON for programs.
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
        QVector<BatchScheduler::Failure> failures;
        QVector<BatchScheduler::Warning> warnings;
        int notConverted = 0;
        QString outputFolder;
        QString logPath;
    };

    explicit BatchReport(ConsoleOutput &out) : m_out(out) {}
    virtual ~BatchReport() = default;

    virtual void started(const File &file) = 0;
    virtual void progressed(const File &file, const FileConversion::Progress &progress,
                            const Batch &batch) = 0;
    virtual void finished(const File &file, const FileConversion::Result &result) = 0;
    // The batch ended early; `running` are the files that were converting.
    virtual void stopped(const QString &why, const QVector<File> &running) = 0;
    virtual void summary(const Summary &summary) = 0;

protected:
    // The summary as people read it: counts, the failed files with their reasons, the output
    // folder and the log.
    static QString summaryText(const Summary &summary);
    // "[2/5] clip.avi"
    static QString fileLabel(const File &file);
    // "，注意 (warning): …" for a file that converted with a warning, else nothing.
    static QString warningText(const FileConversion::Result &result);

    ConsoleOutput &m_out;
};
