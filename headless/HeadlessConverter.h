#pragma once

#include "convert/BatchHost.h"
#include "convert/BatchScheduler.h"
#include "convert/FileListModel.h"
#include "convert/Locations.h"
#include "convert/ParameterSet.h"
#include "headless/ConsoleMessageSink.h"
#include "headless/FailureRecord.h"
#include "headless/SleepInhibitor.h"

#include <QMap>
#include <QObject>
#include <QStringList>
#include <memory>

class BatchReport;
class ConsoleOutput;
class HeadlessOptions;

// The window's batch without the window: the same scheduler, with the parameters, the output
// names and the existing-output policy fixed for the whole run, and up to `jobs` files at
// once. Every event goes to a report in the chosen form; finished() tells the exit status once
// the run is over. A watch keeps adding files, each batch of them run as it comes, until it is
// stopped.
class HeadlessConverter : public QObject, public BatchHost
{
    Q_OBJECT
public:
    HeadlessConverter(const Locations &locations, const HeadlessOptions &options,
                      std::unique_ptr<BatchReport> report, ConsoleOutput &out,
                      QObject *parent = nullptr);
    ~HeadlessConverter() override;

    // Queues the files and starts the batch on the next turn of the event loop; finished()
    // follows at its end. False when it cannot start (and then it said why).
    bool start(const QStringList &files);
    // For a watch: the files join the batch that runs, or begin the next one. The run ends
    // only when it is stopped.
    void add(const QStringList &files);
    // Ends the run as the Stop button does; finished() follows with 128 + signalNumber.
    void requestStop(int signalNumber);
    // The watched folder is lost: the files under way end as they will, then the run ends as
    // one that failed.
    void endWatch();

    ParameterSet currentParameters() const override { return m_parameters; }
    QString outputFolderText() const override { return m_outputFolder; }
    void setOutputFolderText(const QString &text) override { m_outputFolder = text; }
    OutputNaming outputNaming() const override { return m_naming; }
    bool skipsExisting() const override { return m_skipExisting; }
    bool datesOutputsNow() const override { return m_conversionTime; }
    QString failedBefore(const QString &inputPath) const override;

signals:
    // An exit status of ExitStatus: 0 every file converted or skipped; 1 a file failed or the
    // batch could not go on; 4 to 6 a file failed for want of memory, processes or file
    // descriptors; 128 + n stopped by signal n (141 when standard output was closed).
    void finished(int exitCode);
    // A file converted, failed or was skipped: "done", "failed" or "skipped".
    void fileEnded(const QString &inputPath, const QString &how);

private:
    bool begin();
    void fileStarted(int number, const QString &inputPath);
    void fileProgress(int number, const FileConversion::Progress &progress);
    void fileFinished(int number, const FileConversion::Result &result);
    void fileSkipped(int number, const QString &inputPath, const QString &existingOutput,
                     const QString &failedReason);
    void batchCompleted();
    void batchStopped(const QString &why);
    void printSummary();
    void finish(int exitCode);

    ConsoleMessageSink m_messages;
    SleepInhibitor m_awake; // held while a batch runs
    FileListModel m_queue;
    BatchScheduler m_scheduler;
    ParameterSet m_parameters;
    QString m_outputFolder;
    OutputNaming m_naming;
    bool m_skipExisting;
    bool m_conversionTime;
    bool m_watching;
    bool m_watchLost = false;
    // A batch notes its failures for later runs; a watch has its own state.
    std::optional<FailureRecord> m_failedBefore;
    bool m_retryFailed;
    std::unique_ptr<BatchReport> m_report;
    ConsoleOutput &m_out;
    QMap<int, QString> m_running; // files converting, by number
    // What the whole run did, over every batch a watch runs.
    int m_converted = 0;
    int m_skipped = 0;
    QVector<BatchScheduler::Failure> m_failures;
    QVector<BatchScheduler::Warning> m_warnings;
    int m_stopSignal = 0;
    bool m_finished = false;
};
