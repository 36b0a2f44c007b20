#pragma once

#include "convert/BatchHost.h"
#include "convert/BatchScheduler.h"
#include "convert/FileListModel.h"
#include "convert/Locations.h"
#include "convert/ParameterSet.h"
#include "headless/ConsoleMessageSink.h"

#include <QMap>
#include <QObject>
#include <QStringList>
#include <memory>

class BatchReport;
class ConsoleOutput;

// The window's batch without the window: the same scheduler, with the parameters fixed for the
// whole run and up to `jobs` files at once. Every event goes to a report in the chosen form;
// finished() tells the exit status once the batch is over.
class HeadlessConverter : public QObject, public BatchHost
{
    Q_OBJECT
public:
    HeadlessConverter(const Locations &locations, const ParameterSet &parameters,
                      const QString &outputFolder, int jobs, std::unique_ptr<BatchReport> report,
                      ConsoleOutput &out, QObject *parent = nullptr);
    ~HeadlessConverter() override;

    // Queues the files and starts the batch on the next turn of the event loop. False when
    // there is nothing to convert.
    bool start(const QStringList &files);
    // Ends the batch as the Stop button does; finished() follows with 128 + signalNumber.
    void requestStop(int signalNumber);

    ParameterSet currentParameters() const override { return m_parameters; }
    QString outputFolderText() const override { return m_outputFolder; }
    void setOutputFolderText(const QString &text) override { m_outputFolder = text; }

signals:
    // 0: every file converted; 1: a file failed or the batch could not go on; 128 + n: stopped
    // by signal n (141 when standard output was closed).
    void finished(int exitCode);

private:
    void fileStarted(int number, const QString &inputPath);
    void fileProgress(int number, const FileConversion::Progress &progress);
    void fileFinished(int number, const FileConversion::Result &result);
    void batchCompleted();
    void batchStopped(const QString &why);
    void printSummary();
    void finish(int exitCode);

    ConsoleMessageSink m_messages;
    FileListModel m_queue;
    BatchScheduler m_scheduler;
    ParameterSet m_parameters;
    QString m_outputFolder;
    std::unique_ptr<BatchReport> m_report;
    ConsoleOutput &m_out;
    QMap<int, QString> m_running; // files converting, by number
    int m_stopSignal = 0;
    bool m_finished = false;
};
