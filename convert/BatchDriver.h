#pragma once

#include "convert/BatchLog.h"
#include "convert/BatchProgress.h"
#include "convert/CommandBuilder.h"
#include "convert/Locations.h"
#include "convert/ParameterSet.h"

#include <QObject>
#include <QTime>
#include <QTimer>
#include <QVector>
#include <functional>

class BatchHost;
class DOSOutputs;
class DurationProbe;
class FileListModel;

// Converts the files of the queue one after another: stage one on objDOS (or the MP3 encoder
// on objffmpeg), stage two on objffmpeg, then the next file, and the completion when the queue
// is empty. Each next step starts after the current run has returned, so a batch of any size
// keeps a flat stack. The window and the headless mode drive the same object.
class BatchDriver : public QObject
{
    Q_OBJECT
public:
    enum class State {
        Idle,
        Starting,
        StageOneRunning,
        Mp3Running,
        StageTwoRunning,
        FileFinished,
        Completion
    };
    Q_ENUM(State)

    struct Failure
    {
        QString inputPath;
        QString reason;    // in plain Chinese
        QString toolLines; // the tool's last lines, as it printed them
    };

    BatchDriver(DOSOutputs &objDOS, DOSOutputs &objffmpeg, FileListModel &queue, BatchHost &host,
                const Locations &locations, QObject *parent = nullptr);
    ~BatchDriver() override;

    // The clock that names output files.
    void setClock(std::function<QTime()> clock) { m_clock = std::move(clock); }
    // The clock that times the batch for its estimate of the time left.
    void setProgressClock(BatchProgress::Clock clock) { m_progress.setClock(std::move(clock)); }

    State state() const { return m_state; }
    bool isBusy() const { return m_state != State::Idle; }
    // The tool about to run or running: "conv", "coder" or "coder2".
    QString ToolImageName() const { return m_toolImageName; }
    const QVector<Failure> &failures() const { return m_failures; }
    QString logPath() const { return m_log.path(); }
    int filesConverted() const { return m_converted; }
    // Which file of how many, the share done and the time left, for the whole batch.
    const BatchProgress &progress() const { return m_progress; }

    // Idle -> Starting. False, and nothing changes, when the queue is empty or a batch runs;
    // also when a file of the queue must not be converted, and then `refusal` tells why.
    bool begin(QString *refusal = nullptr);
    // The per-file routine: the next file's first command, or the completion.
    void ConvertNextFile();
    void objDOS_CommandOver();
    void objffmpeg_CommandOver();
    // Ends the batch where it is: the running tool is ended, its partial output removed, and
    // the current file stays at the head of the queue.
    void stop();
    // How far the running tool is, 0 to 1, as its progress lines say.
    void runProgress(double fraction);

    // Whether input lengths are probed for the time-left estimate. A front end that shows no
    // estimate turns it off and saves an ffprobe per file.
    void setEstimateTimeLeft(bool estimate) { m_estimate = estimate; }

    // A tool that prints nothing for this long has hung: it is ended and its file reported.
    void setStallTimeout(int milliseconds);
    static constexpr int DefaultStallTimeoutMs = 10 * 60 * 1000;

signals:
    void toolStarted(const QString &toolName, CommandBuilder::Runner runner);
    void fileFinished(const QString &inputPath, bool converted);
    // The queue is empty: the front end runs its completion steps.
    void completed();
    // The batch ended early (stopped, or a tool could not be started); the head file stays.
    void stopped(const QString &why);
    // The whole-batch progress has changed.
    void progressChanged();

private:
    struct Run
    {
        QString inputPath;
        int format = -1;
        QString expectedOutput; // the file this run must leave behind
        bool writesFinalOutput = false;
        QString commandText;
    };

    void toolStalled();
    bool startRun(const CommandBuilder::Command &command, State running);
    void runEnded(DOSOutputs &runner, State expected, bool lastStage);
    void startStageTwo();
    void finishFile(bool converted);
    void failFile(const QString &reason, const QString &toolLines);
    void discardRun(bool keepIntermediate);
    void endStopped(const QString &why);
    QString conflictOf(const QString &inputPath, int format) const;
    void queueRowsInserted(int first, int last);
    void queueRowsRemoved(int first, int last);
    QString outputFolder() const;
    QString outputPathFor(const QString &extension) const;
    DOSOutputs &runnerFor(CommandBuilder::Runner runner);

    DOSOutputs &m_objDOS;
    DOSOutputs &m_objffmpeg;
    FileListModel &m_queue;
    BatchHost &m_host;
    Locations m_locations;
    std::function<QTime()> m_clock;
    State m_state = State::Idle;
    QString m_toolImageName;
    Run m_run;
    QVector<Failure> m_failures;
    int m_converted = 0;
    int m_number = 0;
    bool m_stopRequested = false;
    // Tells a queued next step which batch it belongs to, so a step left over from a stopped
    // batch cannot run in the next one.
    quint64 m_batch = 0;
    BatchLog m_log;
    QTimer m_stallTimer;
    bool m_stalled = false;
    bool m_estimate = true;
    BatchProgress m_progress;
    DurationProbe *m_probe;
};
