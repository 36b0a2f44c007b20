#pragma once

#include "convert/ParameterSet.h"

#include <QHash>
#include <QString>

// The files that failed in earlier batches into one output folder, so that a re-run with
// --skip-existing (a cron job, a job array run again) does not fail them over and over: each
// failed file's path, size, time stamp and the settings it failed with, and the reason. A file
// counts as failed before only while all of these are the same. The record lives in the user's
// own data folder, one file per output folder, made readable by its owner only: an output
// folder may be shared with other users or nodes, and a record there would tell them the names
// of the user's files and let them make the user skip files.
class FailureRecord
{
public:
    // The record of batches with `parameters` into `outputFolder`, kept in `recordFolder`
    // (made, mode 0700). A record that cannot be read is taken as empty.
    FailureRecord(const QString &recordFolder, const QString &outputFolder,
                  const ParameterSet &parameters);
    QString path() const { return m_path; }
    // The reason the file failed with before, when it is the same file and the same settings;
    // empty otherwise.
    QString reasonFor(const QString &inputPath) const;
    // Notes a failure (a reason) or a conversion (no reason: the file counts as failed no more).
    // Only a failure of the file itself is kept: one of the machine (a full disk, no memory, a
    // tool missing, a crash) may well pass by the next run. Each note is one line written at
    // once, so runs at once append without mixing lines.
    void note(const QString &inputPath, const QString &reason);

private:
    struct Entry
    {
        QByteArray version; // size, time stamp and settings
        QString reason;
    };
    QByteArray versionOf(const QString &inputPath) const;

    QString m_path;
    QByteArray m_settings;
    QHash<QByteArray, Entry> m_entries; // by the input's path, as bytes
};
