#pragma once

#include "headless/BatchReport.h"

#include <QMap>

class QJsonObject;

// One JSON object per line and event, for other programs: every object has the file, its
// index and the count, the stage, the whole file's percent (both stages together) and the
// state ("started", "running", "done", "failed", "skipped", "stopped"), the seconds left for
// the batch when known, the output path once done, and the reason with its stable code on
// failure. A name that is not UTF-8 also comes as its exact bytes, base64 ("file_bytes"). The
// last line has the state "summary".
class JsonReport : public BatchReport
{
public:
    using BatchReport::BatchReport;

    void started(const File &file) override;
    void progressed(const File &file, const FileConversion::Progress &progress,
                    const Batch &batch) override;
    void finished(const File &file, const FileConversion::Result &result) override;
    void skipped(const File &file, const QString &existingOutput,
                 const QString &failedReason) override;
    void stopped(const QString &why, const QVector<File> &running) override;
    void summary(const Summary &summary) override;
    void planned(const File &file, const DryRun::Plan &plan) override;
    void planSummary(const PlanSummary &summary) override;

private:
    void emitLine(const QJsonObject &object);
    static QJsonObject fileObject(const File &file, const QString &state);
    // `key` with the path as people read it, and `key`_bytes with its exact bytes when they
    // are not UTF-8.
    static void insertPath(QJsonObject &object, const QString &key, const QString &path);
    static void insertReason(QJsonObject &object, const QString &reason);

    QMap<int, int> m_percent; // last whole percent written per file, so lines stay few
};
