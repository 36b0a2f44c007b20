#pragma once

#include "headless/BatchReport.h"

#include <QMap>

class QJsonObject;

// One JSON object per line and event, for other programs: every object has the file, its
// index and the count, the stage, the percent and the state ("started", "running", "done",
// "failed", "stopped"), the seconds left for the batch when known, the output path once done
// and the reason on failure. The last line has the state "summary". Quiet, only the failures
// and the summary.
class JsonReport : public BatchReport
{
public:
    JsonReport(ConsoleOutput &out, bool quiet) : BatchReport(out), m_quiet(quiet) {}

    void started(const File &file) override;
    void progressed(const File &file, const FileConversion::Progress &progress,
                    const Batch &batch) override;
    void finished(const File &file, const FileConversion::Result &result) override;
    void stopped(const QString &why, const QVector<File> &running) override;
    void summary(const Summary &summary) override;

private:
    void emitLine(const QJsonObject &object);
    static QJsonObject fileObject(const File &file, const QString &state);

    bool m_quiet;
    QMap<int, int> m_percent; // last whole percent written per file, so lines stay few
};
