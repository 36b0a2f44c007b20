#pragma once

#include "headless/ConsoleMessageSink.h"
#include "convert/BatchHost.h"
#include "convert/BatchScheduler.h"
#include "convert/FileListModel.h"
#include "convert/Locations.h"
#include "convert/ParameterSet.h"

#include <QObject>
#include <QStringList>

// The window's batch without the window: the same driver over two runners of its own, with
// the parameters fixed for the whole run. Progress, messages and the summary go to the
// console; finished() tells the exit status once the batch is over.
class HeadlessConverter : public QObject, public BatchHost
{
    Q_OBJECT
public:
    HeadlessConverter(const Locations &locations, const ParameterSet &parameters,
                      const QString &outputFolder, QObject *parent = nullptr);
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
    // by signal n.
    void finished(int exitCode);

private:
    void toolStarted(int number, const QString &toolName, CommandBuilder::Runner runner, int stage);
    void showProgress(int number, const FileConversion::Progress &progress);
    void fileFinished(int number, const FileConversion::Result &result);
    void batchCompleted();
    void batchStopped(const QString &why);
    void printLine(const QString &status, bool last);
    void printSummary();
    void finish(int exitCode);

    ConsoleMessageSink m_messages;
    FileListModel m_queue;
    BatchScheduler m_driver;
    ParameterSet m_parameters;
    QString m_outputFolder;

    int m_filesDone = 0;
    QString m_current;
    QString m_stage;
    int m_percent = -1;
    int m_lineLength = 0;
    int m_stopSignal = 0;
    bool m_finished = false;
};
