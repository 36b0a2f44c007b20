#pragma once

#include <QFile>
#include <QString>

// One log file per batch in the per-user data folder: every command, everything its tool
// printed and how it ended, so a failure can be looked into after the window is gone. Logs and
// their folder are readable by their owner only: they name every file converted.
class BatchLog
{
public:
    // Opens a new file named after the batch's start time; logging is skipped when the
    // folder cannot be written. Of the logs there, one younger than AlwaysKeptDays days is
    // never removed (a run's summary may still name it); the others go when they are older
    // than KeptDays days or not among the newest KeptLogs.
    void open(const QString &logFolder);
    static constexpr int KeptLogs = 100;
    static constexpr int KeptDays = 90;
    static constexpr int AlwaysKeptDays = 7;
    // Appends to the file a script named instead, made private when new. False, and nothing
    // is logged, when it cannot be opened; errorString() tells why.
    bool openFile(const QString &path);
    void close();
    // The file this batch writes, empty when there is none.
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

    // A file's heading: "--- [2/5] /path".
    static QString fileHeading(int number, int total, const QString &inputPath);
    // A command, everything its tool printed and how it ended.
    static QString runText(const QString &commandText, const QString &output,
                           const QString &ending);

    void write(const QString &text);
    void note(const QString &text);

private:
    bool openDescriptor(int fd, const QString &path);
    void prune(const QString &logFolder);

    QFile m_file;
    QString m_path;
    QString m_error;
};
