#pragma once

#include "convert/BatchLog.h"
#include "convert/BatchProgress.h"
#include "convert/FileConversion.h"
#include "convert/Locations.h"
#include "convert/RunLock.h"

#include <QObject>
#include <QSet>
#include <QTime>
#include <QVector>
#include <functional>
#include <map>
#include <memory>

class BatchHost;
class DurationProbe;
class FileListModel;
class MessageSink;

// Runs a batch: the files of the queue from its head, up to `jobs` of them at once, each as a
// FileConversion; a converted or failed file leaves the queue, and the completion comes when
// the queue is empty. It reports each file's progress and end, and the whole batch's share done
// and time left, as values. Each next step starts after the current one has returned, so a
// batch of any size keeps a flat stack. The window (one file at a time) and the headless mode
// (one per core) run the same object.
class BatchScheduler : public QObject
{
    Q_OBJECT
public:
    enum class State {
        Idle,
        Starting,     // begun; the first ConvertNextFile has not come yet
        Running,      // files are converting
        FileFinished, // a file has ended; the next ConvertNextFile is on its way
        Completion,
    };
    Q_ENUM(State)

    struct Failure
    {
        QString inputPath;
        QString reason;    // in plain Chinese
        QString toolLines; // the tool's last lines, as it printed them
    };

    // A file that converted with something the user should know.
    struct Warning
    {
        QString inputPath;
        QString outputPath;
        QString text; // in plain Chinese
    };

    BatchScheduler(FileListModel &queue, BatchHost &host, const Locations &locations,
                   MessageSink *messages, QObject *parent = nullptr);
    ~BatchScheduler() override;

    // How many files convert at once; each has its own intermediate file.
    void setJobs(int jobs) { m_jobs = qMax(1, jobs); }
    int jobs() const { return m_jobs; }
    // The clock that names output files.
    void setClock(std::function<QTime()> clock) { m_clock = std::move(clock); }
    // The clock that times the batch for its estimate of the time left.
    void setProgressClock(BatchProgress::Clock clock) { m_progress.setClock(std::move(clock)); }
    void setStallTimeout(int milliseconds) { m_stallTimeoutMs = milliseconds; }
    // Whether every input's length is probed ahead for the time-left estimate. Without, the
    // lengths come from the tools as each file starts, and a file not started yet counts by
    // its size.
    void setProbeLengths(bool probe) { m_probeLengths = probe; }
    // The one file each batch's log is appended to, instead of a new file in the log folder.
    void setLogFile(const QString &path) { m_logFile = path; }

    State state() const { return m_state; }
    bool isBusy() const { return m_state != State::Idle; }
    // The tool that was started last: "conv", "coder" or "coder2".
    QString ToolImageName() const { return m_toolImageName; }
    // The files that failed in this batch, in the batch's order.
    QVector<Failure> failures() const;
    // The files that converted with a warning, in the batch's order.
    QVector<Warning> warnings() const;
    QString logPath() const { return m_log.path(); }
    int filesConverted() const { return m_converted; }
    int filesSkipped() const { return m_skipped; }
    // Which file of how many, the share done and the time left, for the whole batch.
    const BatchProgress &progress() const { return m_progress; }

    // Idle -> Starting. False, and nothing changes, when the queue is empty or a batch runs;
    // also when the batch must not start, and then `refusal` tells why.
    bool begin(QString *refusal = nullptr);
    // Starts the next files while there is room; the completion when nothing is left.
    void ConvertNextFile();
    // Ends the batch where it is: the running tools are ended, their partial outputs removed,
    // and the files that were converting stay in the queue.
    void stop();

signals:
    // `number` counts the files of the batch from 1, in the order they start.
    void fileStarted(int number, const QString &inputPath);
    void toolStarted(int number, const QString &toolName, CommandBuilder::Runner runner, int stage);
    void fileProgress(int number, const FileConversion::Progress &progress);
    // One of the file's runs has ended (its tool's CommandOver).
    void runEnded(int number, CommandBuilder::Runner runner);
    // A file converted or failed; it has left the queue.
    void fileFinished(int number, const FileConversion::Result &result);
    // A file was not converted because its output is there already (the host skips existing
    // outputs), or else because it failed before with `failedReason`; it has left the queue.
    void fileSkipped(int number, const QString &inputPath, const QString &existingOutput,
                     const QString &failedReason);
    // The whole-batch progress has changed.
    void progressChanged();
    // The queue is empty: the front end runs its completion steps.
    void completed();
    // The batch ended early (stopped, or a tool could not be started); the files that were
    // converting stay in the queue.
    void stopped(const QString &why);

private:
    struct Job
    {
        int number = 0;
        int slot = 0;
        FileConversion *conversion = nullptr;
    };

    void startFile(const OutputReservation &taken);
    bool skipFile(OutputReservation &taken);
    void fileEnded(Job *job, const FileConversion::Result &result);
    void endStopped(const QString &why);
    void complete();
    void queueRowsInserted(int first, int last);
    void queueRowsRemoved(int first, int last);
    Locations slotLocations(int slot) const;
    void openJournal();
    void closeJournal();
    QString hardwareProbeFile() const;
    void noteSizes(const QStringList &paths);
    void log(int number, const QString &text);
    void logDone(int number);

    FileListModel &m_queue;
    BatchHost &m_host;
    Locations m_locations;
    MessageSink *m_messages;
    std::function<QTime()> m_clock;
    int m_jobs = 1;
    int m_stallTimeoutMs = FileConversion::DefaultStallTimeoutMs;
    bool m_probeLengths = true;

    State m_state = State::Idle;
    QString m_toolImageName;
    QChar m_spinner = QLatin1Char('-');
    QList<Job *> m_running; // in the order they started
    QList<int> m_rows;      // the running files (by number) whose rows are the queue's first
    QSet<int> m_busySlots;
    std::map<int, Failure> m_failures;
    std::map<int, Warning> m_warnings;
    int m_converted = 0;
    int m_skipped = 0;
    int m_number = 0;
    // With skipping: the plain output name of each input the batch converts, so that a
    // second input of that name, from another folder, converts under a name of its own
    // instead of being skipped as the first one's output.
    QSet<QString> m_ownNames;
    bool m_stopRequested = false;
    QString m_stopReason;
    // Tells a queued next step which batch it belongs to, so a step left over from a stopped
    // batch cannot run in the next one.
    quint64 m_batch = 0;

    // The log keeps the files' order however they finish: text of a later file waits until
    // every earlier file has ended.
    BatchLog m_log;
    QString m_logFile;
    int m_logNext = 1;
    std::map<int, QString> m_logWaiting;
    QSet<int> m_logEnded;

    BatchProgress m_progress;
    DurationProbe *m_probe;
    // The names the batch takes are noted in a journal whose lock tells other runs that this
    // one is alive; a later run gives back what a killed run had taken.
    RunLock m_journal;
};
