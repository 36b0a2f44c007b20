#pragma once

#include "process/CommandLine.h"
#include "process/OutputChunker.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QProcess>
#include <QString>

class MessageSink;
class QEventLoop;
class QTimer;

// How the latest run ended.
struct RunResult
{
    bool started = false; // false: it never started (start failures)
    int exitCode = 0;     // the child's exit code when it exited normally
    bool crashed = false; // killed by a signal it did not expect (abort, segfault, outside kill)
    bool stopped = false; // ended by Stop()
    qint64 pid = 0;       // the child's process id, once started
    QString startError;   // the system's words for why it did not start
};

// Runs one console tool at a time, hands its merged output over as it arrives and tells when
// the tool has ended. The tool runs in a process group of its own, so stopping a run (or
// destroying the runner) also ends whatever the tool started, ffmpeg included.
class DOSOutputs : public QObject
{
    Q_OBJECT
public:
    explicit DOSOutputs(MessageSink *messages, QObject *parent = nullptr);
    ~DOSOutputs() override;

    ::CommandLine CommandLine() const { return m_commandLine; }
    void setCommandLine(const ::CommandLine &DOSCommand) { m_commandLine = DOSCommand; }
    // Variables the next runs get beside this program's environment, name and value; an empty
    // value leaves the variable out of their environment.
    void setVariables(const QList<QPair<QByteArray, QByteArray>> &variables)
    {
        m_variables = variables;
    }
    // All decoded output of the latest started run; emptied when the next child has started.
    QString Outputs() const { return m_outputs; }

    // Runs the command (the argument replaces the stored one when not empty) and returns the
    // output once the child has ended and the CommandOver handlers have run. Events keep being
    // handled meanwhile. Returns empty text when the run does not start.
    QString ExecuteCommand(const ::CommandLine &CommandLine = {});
    // Starts the command and returns at once; false (after the message box) when it did not
    // start, in which case no event follows.
    bool Start(const ::CommandLine &CommandLine = {});
    bool isRunning() const { return m_running; }
    // Ends the running child and everything it started. CommandOver follows once the child
    // is gone.
    void Stop();
    RunResult lastResult() const { return m_result; }

signals:
    void ReceiveOutputs(const QString &CommandOutputs);
    void CommandOver();

private:
    bool refuse(const QString &text);
    bool pipesAvailable();
    void readOutput();
    void deliver();
    void childFinished(int exitCode, QProcess::ExitStatus status);
    void finishRun();
    void signalGroup(int signal) const;

    MessageSink *m_messages;
    ::CommandLine m_commandLine;
    QList<QPair<QByteArray, QByteArray>> m_variables;
    QString m_outputs;
    RunResult m_result;

    QProcess *m_process = nullptr;
    qint64 m_group = 0;
    QTimer *m_graceTimer;
    OutputChunker m_chunker;
    bool m_running = false;
    bool m_delivering = false;
    bool m_childEnded = false;
    bool m_inProcessSignal = false; // inside a signal of m_process
    QEventLoop *m_waitLoop = nullptr;
};
