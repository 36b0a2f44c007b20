#pragma once

#include "convert/CommandBuilder.h"
#include "convert/Locations.h"
#include "convert/OutputReservation.h"
#include "convert/ProgressParser.h"
#include "convert/StallWatch.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTime>
#include <functional>

class BatchHost;
class DOSOutputs;
class MessageSink;

// One file's whole conversion: its first run (conv, or coder for MP3), the second run of the
// formats that go through the intermediate file, the progress each tool reports, and every
// file the runs write that is not the result. It reports progress as values and its end once,
// with the result; the front ends never see tool output.
class FileConversion : public QObject
{
    Q_OBJECT
public:
    enum class Outcome {
        Converted,
        Failed,     // the file could not be converted; the batch goes on
        Stopped,    // ended by stop(); the file was not converted
        NotStarted, // a tool could not be started at all; the batch cannot go on
    };

    struct Result
    {
        QString inputPath;
        Outcome outcome = Outcome::Failed;
        QString outputPath;  // the file written, when converted
        QString reason;      // why not, in plain Chinese
        QString toolLines;   // the tool's last lines, as it printed them
        QString warning;     // converted, but the user should know this (plain Chinese)
        QStringList dropped; // the input's streams the output could not carry: "audio#2(eng)"
    };

    // What the running tool has reported so far.
    struct Progress
    {
        CommandBuilder::Runner runner = CommandBuilder::Runner::DOS;
        int stage = 0;           // 0: the first run; 1: the second
        int stages = 1;          // runs this file takes
        double percent = 0;      // of this run, 0 to 100
        ProgressDisplay display; // what the window's progress controls show for it
        // Share of the whole file done, 0 to 1.
        double fileFraction() const { return (stage + percent / 100.0) / stages; }
    };

    // `locations.scratchFolder` holds this conversion's intermediate file.
    FileConversion(const QString &inputPath, BatchHost &host, const Locations &locations,
                   MessageSink *messages, QObject *parent = nullptr);
    ~FileConversion() override;

    // The clock that names output files.
    void setClock(std::function<QTime()> clock) { m_clock = std::move(clock); }
    // A tool whose position has not moved on for this long has hung, whatever it prints: it is
    // ended and the file fails.
    void setStallTimeout(int milliseconds) { m_stallWatch.setTimeout(milliseconds); }
    static constexpr int DefaultStallTimeoutMs = 10 * 60 * 1000;
    // Where the output names this conversion takes are noted, so that a later run can give
    // them back should this one be killed.
    void setReservationJournal(const QString &journal) { m_journal = journal; }
    // The output name, taken already by whoever starts the conversion (to learn whether the
    // file is done already); the conversion writes there, and gives it back should it fail.
    void setTakenOutput(const OutputReservation &taken) { m_reservation = taken; }
    // The activity spinner carries on from one file to the next.
    void setSpinner(QChar spinner) { SpinnerChar = spinner; }
    QChar spinner() const { return SpinnerChar; }

    // Starts the first run. `finished` follows exactly once, never inside this call.
    void start();
    // Ends the running tool; `finished` follows with Stopped unless the file got done first.
    void stop();

    const QString &inputPath() const { return m_result.inputPath; }
    int format() const { return m_format; }
    // The tool running or about to run: "conv", "coder" or "coder2".
    QString ToolImageName() const { return m_toolImageName; }
    const Progress &progress() const { return m_progress; }
    // The input is the intermediate file of a two-stage format, which stage one would
    // overwrite; the text says so, empty when the input is fine.
    static QString conflictOf(const QString &inputPath, int format, const Locations &locations);

signals:
    void toolStarted(const QString &toolName, CommandBuilder::Runner runner, int stage);
    void progressChanged(const FileConversion::Progress &progress);
    // The input's length, as the first tool to tell it said it.
    void inputLength(double seconds);
    // A run has ended; the next one, or `finished`, follows.
    void runEnded(CommandBuilder::Runner runner);
    // A piece of this file's log: a command with everything its tool printed and how it ended.
    void logged(const QString &text);
    void finished(const FileConversion::Result &result);

private:
    enum class Stage { Idle, StageOne, Mp3, StageTwo, Done };

    bool startRun(const CommandBuilder::Command &command, Stage stage);
    void receive(CommandBuilder::Runner runner, const QString &chunk);
    void runOver(DOSOutputs &runner, Stage expected);
    void startStageTwo();
    void toolStalled();
    void discardRun(qint64 toolPid, bool keepIntermediate);
    void end(Outcome outcome, const QString &reason = {}, const QString &toolLines = {});
    QString outputPathFor(const QString &extension);

    BatchHost &m_host;
    Locations m_locations;
    DOSOutputs *objDOS;
    DOSOutputs *objffmpeg;
    std::function<QTime()> m_clock;
    StallWatch m_stallWatch;

    int m_format = -1;
    Stage m_stage = Stage::Idle;
    QString m_toolImageName;
    QString m_commandText;
    QString m_expectedOutput; // the file the current run must leave behind
    OutputReservation m_reservation;
    QString m_journal;
    bool m_writesFinalOutput = false;
    bool m_stopRequested = false;
    bool m_stalled = false;
    bool m_lengthTold = false;
    Result m_result;
    Progress m_progress;

    QChar SpinnerChar = QLatin1Char('-');
    qint32 DurationSeconds = 0;
};

Q_DECLARE_METATYPE(FileConversion::Progress)
Q_DECLARE_METATYPE(FileConversion::Result)
