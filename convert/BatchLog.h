#pragma once

#include <QFile>
#include <QString>

// One log file per batch in the per-user data folder: every command, everything its tool
// printed and how it ended, so a failure can be looked into after the window is gone.
class BatchLog
{
public:
    // Opens a new file named after the batch's start time; logging is skipped when the
    // folder cannot be written. The folder keeps the newest KeptLogs logs, none older than
    // KeptDays days.
    void open(const QString &logFolder);
    static constexpr int KeptLogs = 100;
    static constexpr int KeptDays = 90;
    void close();
    QString path() const { return m_file.fileName(); }

    // A file's heading: "--- [2/5] /path".
    static QString fileHeading(int number, int total, const QString &inputPath);
    // A command, everything its tool printed and how it ended.
    static QString runText(const QString &commandText, const QString &output,
                           const QString &ending);

    void write(const QString &text);
    void note(const QString &text);

private:
    void prune(const QString &logFolder);

    QFile m_file;
};
