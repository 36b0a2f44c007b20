#include "ProcessTable.h"
#include "RecordingHost.h"
#include "RecordingMessageSink.h"
#include "TestLocations.h"
#include "TestMedia.h"
#include "convert/BatchHost.h"
#include "convert/BatchScheduler.h"
#include "convert/FailureReason.h"
#include "convert/FileConversion.h"
#include "convert/FileListModel.h"
#include "convert/Formats.h"
#include "tools/ToolContract.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <sys/stat.h>

// The engine without any window: one file's conversion and the batch scheduler over a stand-in
// for the three tools, with a front end that only records what it is told.
namespace {

// Copies its input to its output and prints progress the way each tool does; the input's
// text says how long to take, and whether a given tool fails or hangs.
const char StandIn[] = R"sh(#!/bin/sh
tool=$(basename "$0")
input= output= previous=
for argument; do
    case "$previous" in -i) input=$argument ;; -o) output=$argument ;; esac
    previous=$argument
done
if [ "$tool" = conv ]; then input=$1; else output=$previous; fi
content=$(cat "$input" 2>/dev/null)
case "$content" in *"fail-$tool"*) echo "Error: encoding failed: told to"; exit 1 ;; esac
case "$content" in *"hang-$tool"*) exec sleep 1000 ;; esac
delay=$(printf '%s\n' "$content" | sed -n 's/^delay=//p' | head -n 1)
printf '%s\n' "$content" | sed -n 's/^note=/Note: /p'
case "$content" in *probe-memo*)
    # Stands for a hardware test kept in the run's memo: how many tests the memo holds now.
    tests=$(flock "$VIDMORPH_HARDWARE_PROBE_FILE" sh -c 'echo tested >> "$0"; wc -l < "$0"' \
        "$VIDMORPH_HARDWARE_PROBE_FILE")
    content="$content
memo=$tests" ;;
esac
case "$content" in *"slow-$tool"*)
    # Slow, but on the move: each line a little further.
    for beat in $(seq 10 25); do printf 'Pos: 0.%ss (  5%%)\rtime=0.%s \r' $beat $beat
        sleep 0.25; done ;;
esac
case "$content" in *"spin-$tool"*)
    # Busy on one spot for good: the same line again and again, the processor at work.
    while :; do printf 'Pos: 0.0s (  0%%)\rtime=0.00 \r'; i=0
        while [ $i -lt 3000 ]; do i=$((i + 1)); done; done ;;
esac
case "$content" in *"leave-$tool"*)
    # Killed while writing: its hidden file stays, beside a link another user planted.
    folder=$(dirname "$output")
    echo partial > "$folder/.vidmorph-$$-Xq3v9Tz-$(basename "$output")"
    ln -s "$input" "$folder/.vidmorph-$$-planted"
    kill -9 $$ ;;
esac
if [ "$tool" = conv ]; then
    printf 'Pos: 0.1s ( 50%%)\r'; sleep "${delay:-0}"; printf 'Pos: 0.2s (100%%)\r\n'
else
    printf '  Duration: 00:00:02.00, \n'; printf 'time=1.00 \r'; sleep "${delay:-0}"
    printf 'time=2.00 \r\n'
fi
{ printf '%s\n' "$content"; echo "via $input"; echo "folder=$VIDMORPH_OUTPUT_FOLDER_IDENTITY"; \
} > "$output"
)sh";

} // namespace

class TestScheduler : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void oneFileReportsValuesAndEndsOnce_data();
    void oneFileReportsValuesAndEndsOnce();
    void failedRunsLeaveNothing_data();
    void failedRunsLeaveNothing();
    void warnsOfWhatTheToolsNote_data();
    void warnsOfWhatTheToolsNote();
    void stopEndsTheToolAndLeavesNothing();
    void missingToolIsNotStarted();
    void stallWatchGoesByProgress_data();
    void stallWatchGoesByProgress();
    void runsUpToJobsFilesAtOnce();
    void keepsTheFilesOrderHoweverTheyFinish();
    void stopEndsEveryJob();
    void missingToolEndsTheWholeBatch();
    void eachBatchKeepsOneHardwareMemo();
    void toolsLearnHowManyFilesShareTheCores_data();
    void toolsLearnHowManyFilesShareTheCores();
    void existingOutputsAreSkipped_data();
    void existingOutputsAreSkipped();

private:
    QString input(const QString &name, const QByteArray &content);
    QString standInApp(const QStringList &tools = {"conv", "coder", "coder2"});
    std::unique_ptr<FileConversion> conversion(const QString &inputPath, int format,
                                               const QString &app);
    std::unique_ptr<BatchScheduler> scheduler(int format, int jobs, const QString &app);
    QStringList outputNames() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    RecordingHost m_host;
    RecordingMessageSink m_messages;
    FileListModel m_queue;
};

void TestScheduler::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_host.folder = m_dir->filePath(QStringLiteral("out"));
    m_host.names = OutputNaming::Names::Timed;
    m_host.skip = false;
    m_messages.messages.clear();
    m_queue.clear();
}

QString TestScheduler::input(const QString &name, const QByteArray &content)
{
    const QString path = m_dir->filePath(QStringLiteral("in/") + name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content + "\n");
    return path;
}

QString TestScheduler::standInApp(const QStringList &tools)
{
    const QString app = m_dir->filePath(QStringLiteral("app"));
    QDir().mkpath(app + QStringLiteral("/data"));
    for (const QString &tool : tools) {
        QFile script(app + QStringLiteral("/data/") + tool);
        if (script.open(QIODevice::WriteOnly))
            script.write(StandIn);
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    return app;
}

std::unique_ptr<FileConversion> TestScheduler::conversion(const QString &inputPath, int format,
                                                          const QString &app)
{
    m_host.parameters = Formats::defaultParameters(format);
    const Locations places = testLocations(m_dir->path(), app);
    places.makeScratchFolder();
    QDir().mkpath(m_host.folder);
    return std::make_unique<FileConversion>(inputPath, m_host, places, &m_messages);
}

std::unique_ptr<BatchScheduler> TestScheduler::scheduler(int format, int jobs, const QString &app)
{
    m_host.parameters = Formats::defaultParameters(format);
    auto made = std::make_unique<BatchScheduler>(m_queue, m_host, testLocations(m_dir->path(), app),
                                                 &m_messages);
    made->setJobs(jobs);
    made->setProbeLengths(false);
    return made;
}

QStringList TestScheduler::outputNames() const
{
    QStringList names = QDir(m_dir->filePath(QStringLiteral("out")))
                            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

void TestScheduler::oneFileReportsValuesAndEndsOnce_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QStringList>("tools");
    QTest::newRow("MPG: conv alone") << int(Formats::MPG) << QStringList{"conv@0"};
    QTest::newRow("MP3: coder alone") << int(Formats::MP3) << QStringList{"coder@0"};
    QTest::newRow("RMVB: conv, then coder")
        << int(Formats::RMVB) << QStringList{"conv@0", "coder@1"};
    QTest::newRow("3GP: conv, then coder2")
        << int(Formats::ThreeGP) << QStringList{"conv@0", "coder2@1"};
}

void TestScheduler::oneFileReportsValuesAndEndsOnce()
{
    QFETCH(int, format);
    QFETCH(QStringList, tools);
    const QString in = input(QStringLiteral("a clip.avi"), "marker=a\ndelay=0.2");
    auto file = conversion(in, format, standInApp());
    QStringList started;
    connect(file.get(), &FileConversion::toolStarted, this,
            [&](const QString &tool, CommandBuilder::Runner, int stage) {
                started.append(tool + QLatin1Char('@') + QString::number(stage));
            });
    QList<double> fractions;
    connect(file.get(), &FileConversion::progressChanged, this,
            [&](const FileConversion::Progress &progress) {
                QCOMPARE(progress.stages, tools.size());
                fractions.append(progress.fileFraction());
            });
    QSignalSpy runs(file.get(), &FileConversion::runEnded);
    QSignalSpy finished(file.get(), &FileConversion::finished);
    file->start();
    QCOMPARE(finished.count(), 0); // never inside start()
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
    QTest::qWait(50);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(started, tools);
    QCOMPARE(runs.count(), tools.size());
    QVERIFY(fractions.size() >= 2 * tools.size());
    for (int i = 1; i < fractions.size(); ++i)
        QVERIFY(fractions[i] >= fractions[i - 1]);
    QCOMPARE(fractions.last(), 1.0);

    const auto result = finished.at(0).at(0).value<FileConversion::Result>();
    QVERIFY(result.outcome == FileConversion::Outcome::Converted);
    QCOMPARE(result.inputPath, in);
    QVERIFY2(result.outputPath.endsWith(Formats::extension(format)), qPrintable(result.outputPath));
    QCOMPARE(outputNames(), QStringList{QFileInfo(result.outputPath).fileName()});
    QFile output(result.outputPath);
    QVERIFY(output.open(QIODevice::ReadOnly));
    const QByteArray written = output.readAll();
    QVERIFY(written.startsWith("marker=a\n"));
    // The run that writes the result learns the folder its name was taken in; the first of two
    // writes the intermediate file, which has no such name.
    struct stat folder = {};
    QCOMPARE(::stat(QFile::encodeName(m_host.folder).constData(), &folder), 0);
    QByteArrayList told;
    for (const QByteArray &line : written.split('\n'))
        if (line.startsWith("folder="))
            told.append(line.mid(7));
    QByteArrayList expected(tools.size() - 1);
    expected.append(
        QByteArray::fromStdString(ToolContract::identity(folder.st_dev, folder.st_ino)));
    QCOMPARE(told, expected);
}

void TestScheduler::warnsOfWhatTheToolsNote_data()
{
    QTest::addColumn<QByteArray>("notes");
    QTest::addColumn<QString>("warning"); // empty: the file converted without one
    const QByteArray shortOutput = "note=the output is shorter than the input: 27.0 s of 60.0 s";
    const QByteArray leap = "note=the input's timestamps leap, closed up: video 3600.0 s at 2.0 s";
    const QString shortWarning =
        QStringLiteral("输出只有 27.0 秒，输入文件标明有 60.0 秒：输入文件可能不完整");
    const QString leapWarning =
        QStringLiteral("输入文件的画面时间戳在 2.0 秒处向前跳了 3600.0 秒（中间没有内容），已接上");
    QTest::newRow("a file cut short") << shortOutput << shortWarning;
    QTest::newRow("a leap closed up") << leap << leapWarning;
    QTest::newRow("a leap of the sound, then one of the picture")
        << QByteArray("note=the input's timestamps leap, closed up: audio 10.5 s at 0.5 s\n") + leap
        << QStringLiteral("输入文件的声音时间戳在 0.5 秒处向前跳了 10.5 秒（中间没有内容），"
                          "已接上；") +
               leapWarning;
    QTest::newRow("both") << leap + "\n" + shortOutput << leapWarning + "；" + shortWarning;
    QTest::newRow("a note of another kind")
        << QByteArray("note=MP3 audio has no sample rate of 12050 Hz, it is written at 16000 Hz")
        << QString();
}

// What a tool notes of a file that converted becomes its warning, in Chinese.
void TestScheduler::warnsOfWhatTheToolsNote()
{
    QFETCH(QByteArray, notes);
    QFETCH(QString, warning);
    auto file = conversion(input(QStringLiteral("noted.avi"), notes), Formats::RMVB, standInApp());
    QSignalSpy finished(file.get(), &FileConversion::finished);
    file->start();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
    const auto result = finished.at(0).at(0).value<FileConversion::Result>();
    QVERIFY(result.outcome == FileConversion::Outcome::Converted);
    QCOMPARE(result.warning, warning);
}

void TestScheduler::failedRunsLeaveNothing_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("runs");
    QTest::addColumn<QString>("reason");
    QTest::newRow("one-stage tool fails")
        << int(Formats::AVI) << QByteArray("fail-conv") << 1 << "编码失败";
    QTest::newRow("stage one fails: no stage two")
        << int(Formats::RM) << QByteArray("fail-conv") << 1 << "编码失败";
    QTest::newRow("stage two fails")
        << int(Formats::MOV) << QByteArray("fail-coder") << 2 << "编码失败";
    QTest::newRow("killed while writing")
        << int(Formats::MP3) << QByteArray("leave-coder") << 1 << "转换程序意外终止";
}

void TestScheduler::failedRunsLeaveNothing()
{
    QFETCH(int, format);
    QFETCH(QByteArray, content);
    QFETCH(int, runs);
    QFETCH(QString, reason);
    const QString in = input(QStringLiteral("bad.avi"), content);
    auto file = conversion(in, format, standInApp());
    QSignalSpy ended(file.get(), &FileConversion::runEnded);
    QSignalSpy finished(file.get(), &FileConversion::finished);
    file->start();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
    const auto result = finished.at(0).at(0).value<FileConversion::Result>();
    QVERIFY(result.outcome == FileConversion::Outcome::Failed);
    QCOMPARE(result.reason, reason);
    QVERIFY(result.outputPath.isEmpty());
    QCOMPARE(ended.count(), runs);
    QCOMPARE(outputNames(), QStringList());
    // A link is removed as a link: what it names stays.
    QVERIFY(QFile::exists(in));
}

void TestScheduler::stopEndsTheToolAndLeavesNothing()
{
    auto file =
        conversion(input(QStringLiteral("long.avi"), "hang-conv"), Formats::MPG, standInApp());
    QSignalSpy finished(file.get(), &FileConversion::finished);
    connect(file.get(), &FileConversion::toolStarted, file.get(), &FileConversion::stop,
            Qt::QueuedConnection);
    file->start();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
    const auto result = finished.at(0).at(0).value<FileConversion::Result>();
    QVERIFY(result.outcome == FileConversion::Outcome::Stopped);
    QCOMPARE(FailureReason::code(result.reason), QStringLiteral("stopped"));
    QCOMPARE(outputNames(), QStringList());
    QTRY_VERIFY(processesMentioning({m_dir->path()}).isEmpty());
}

void TestScheduler::missingToolIsNotStarted()
{
    auto file =
        conversion(input(QStringLiteral("a.avi"), "marker"), Formats::MP3, standInApp({"conv"}));
    QSignalSpy finished(file.get(), &FileConversion::finished);
    file->start();
    QTRY_COMPARE(finished.count(), 1);
    const auto result = finished.at(0).at(0).value<FileConversion::Result>();
    QVERIFY(result.outcome == FileConversion::Outcome::NotStarted);
    QCOMPARE(FailureReason::code(result.reason), QStringLiteral("tool-missing"));
    QCOMPARE(m_messages.messages.size(), 1);
    QCOMPARE(m_messages.messages[0].text, QStringLiteral("File or command not found"));
}

void TestScheduler::stallWatchGoesByProgress_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("realCoder"); // the real coder over a stand-in ffmpeg that spins
    QTest::addColumn<int>("stallMs");
    QTest::addColumn<bool>("ended");
    QTest::newRow("a silent tool")
        << int(Formats::RMVB) << QByteArray("hang-coder") << false << 300 << true;
    QTest::newRow("a tool repeating one spot")
        << int(Formats::MPG) << QByteArray("spin-conv") << false << 1500 << true;
    QTest::newRow("coder over an ffmpeg that spins")
        << int(Formats::MP3) << QByteArray() << true << 3000 << true;
    QTest::newRow("slow, but on the move")
        << int(Formats::MPG) << QByteArray("slow-conv") << false << 3000 << false;
}

// A tool whose position stands still for the stall period is ended, however much it prints
// and however busy its encoder is; a slow one that moves on is left to finish.
void TestScheduler::stallWatchGoesByProgress()
{
    QFETCH(int, format);
    QFETCH(QByteArray, content);
    QFETCH(bool, realCoder);
    QFETCH(int, stallMs);
    QFETCH(bool, ended);
    QString app = standInApp();
    QString in = input(QStringLiteral("a.avi"), content);
    const QByteArray path = qgetenv("PATH");
    const auto restorePath = qScopeGuard([&path] { qputenv("PATH", path); });
    if (realCoder) {
        app = m_dir->filePath(QStringLiteral("real"));
        QVERIFY(QDir().mkpath(app + QStringLiteral("/data")));
        QVERIFY(QFile::link(TestMedia::toolPath(QStringLiteral("coder")),
                            app + QStringLiteral("/data/coder")));
        in = m_dir->filePath(QStringLiteral("in/clip.mp4"));
        QCOMPARE(TestMedia::make(in, QSize(64, 48), 1, 1), QString());
        const QString standIn = m_dir->filePath(QStringLiteral("spinning"));
        QVERIFY(QDir().mkpath(standIn));
        QFile ffmpeg(standIn + QStringLiteral("/ffmpeg"));
        QVERIFY(ffmpeg.open(QIODevice::WriteOnly));
        ffmpeg.write("#!/bin/sh\nwhile :; do echo out_time_us=0; echo 'time=0.00' >&2; i=0\n"
                     "    while [ $i -lt 3000 ]; do i=$((i + 1)); done; done\n");
        ffmpeg.close();
        QVERIFY(ffmpeg.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("PATH", QFile::encodeName(standIn) + ':' + path);
    }
    auto file = conversion(in, format, app);
    file->setStallTimeout(stallMs);
    QSignalSpy finished(file.get(), &FileConversion::finished);
    file->start();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
    const auto result = finished.at(0).at(0).value<FileConversion::Result>();
    if (!ended) {
        QVERIFY2(result.outcome == FileConversion::Outcome::Converted, qPrintable(result.reason));
        return;
    }
    QVERIFY(result.outcome == FileConversion::Outcome::Failed);
    QCOMPARE(result.reason, QStringLiteral("编码程序停止响应"));
    QCOMPARE(FailureReason::code(result.reason), QStringLiteral("stalled"));
    QCOMPARE(outputNames(), QStringList());
    QTRY_VERIFY(processesMentioning({m_dir->path()}).isEmpty());
}

void TestScheduler::runsUpToJobsFilesAtOnce()
{
    // Seven two-stage files on three jobs; each file takes a different time.
    QVector<FileListModel::Entry> entries;
    for (int i = 0; i < 7; ++i)
        entries.append({input(QStringLiteral("clip%1.avi").arg(i),
                              QStringLiteral("marker=%1\ndelay=0.%2").arg(i).arg(i % 3).toUtf8()),
                        QString()});
    m_queue.append(entries);
    auto batch = scheduler(Formats::RMVB, 3, standInApp());
    int running = 0, most = 0;
    connect(batch.get(), &BatchScheduler::fileStarted, this, [&] { most = qMax(most, ++running); });
    QStringList finished;
    connect(batch.get(), &BatchScheduler::fileFinished, this,
            [&](int, const FileConversion::Result &result) {
                --running;
                QVERIFY(result.outcome == FileConversion::Outcome::Converted);
                // Each output holds its own input, made through its own intermediate file.
                QFile output(result.outputPath);
                QVERIFY(output.open(QIODevice::ReadOnly));
                const QString content = QString::fromUtf8(output.readAll());
                const QString number = QFileInfo(result.inputPath).completeBaseName().mid(4);
                QVERIFY(content.startsWith(QStringLiteral("marker=") + number + '\n'));
                QVERIFY2(content.contains(QStringLiteral("/job-")), qPrintable(content));
                finished.append(result.inputPath);
            });
    QSignalSpy completed(batch.get(), &BatchScheduler::completed);
    QVERIFY(batch->begin());
    batch->ConvertNextFile();
    QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 60000);
    QCOMPARE(most, 3);
    QCOMPARE(finished.size(), 7);
    QCOMPARE(m_queue.count(), 0);
    QCOMPARE(batch->filesConverted(), 7);
    QCOMPARE(outputNames().size(), 7);
    QVERIFY(!batch->isBusy());
}

void TestScheduler::keepsTheFilesOrderHoweverTheyFinish()
{
    // The first file is slow and fails; the ones after it finish first, one failing too.
    m_queue.append({{input(QStringLiteral("slow.avi"), "delay=1\nfail-coder"), QString()},
                    {input(QStringLiteral("quick.avi"), "marker=q"), QString()},
                    {input(QStringLiteral("bad.avi"), "fail-conv"), QString()}});
    auto batch = scheduler(Formats::RMVB, 3, standInApp());
    QSignalSpy completed(batch.get(), &BatchScheduler::completed);
    QVERIFY(batch->begin());
    batch->ConvertNextFile();
    QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 30000);
    const QVector<BatchScheduler::Failure> failures = batch->failures();
    QCOMPARE(failures.size(), 2);
    QVERIFY(failures[0].inputPath.endsWith(QStringLiteral("slow.avi")));
    QVERIFY(failures[1].inputPath.endsWith(QStringLiteral("bad.avi")));
    QFile log(batch->logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    const qsizetype slow = text.indexOf(QStringLiteral("--- [1/3]"));
    const qsizetype quick = text.indexOf(QStringLiteral("--- [2/3]"));
    const qsizetype bad = text.indexOf(QStringLiteral("--- [3/3]"));
    QVERIFY2(slow >= 0 && slow < quick && quick < bad, qPrintable(text));
    // Each file's commands and failure stay under its own heading.
    QVERIFY(text.indexOf(QStringLiteral("/data/coder -i"), slow) < quick);
    QVERIFY(text.indexOf(QStringLiteral("失败：编码失败"), bad) > bad);
}

void TestScheduler::stopEndsEveryJob()
{
    for (int i = 0; i < 4; ++i)
        m_queue.append({{input(QStringLiteral("hang%1.avi").arg(i), "hang-conv"), QString()}});
    auto batch = scheduler(Formats::MPG, 3, standInApp());
    QSignalSpy stopped(batch.get(), &BatchScheduler::stopped);
    QSignalSpy finished(batch.get(), &BatchScheduler::fileFinished);
    int started = 0;
    connect(batch.get(), &BatchScheduler::toolStarted, this, [&] {
        if (++started == 3)
            QTimer::singleShot(100, batch.get(), &BatchScheduler::stop);
    });
    QVERIFY(batch->begin());
    batch->ConvertNextFile();
    QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 20000);
    QTest::qWait(100);
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(started, 3);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(m_queue.count(), 4);
    QVERIFY(!batch->isBusy());
    QCOMPARE(outputNames(), QStringList());
    QTRY_VERIFY(processesMentioning({m_dir->path()}).isEmpty());
}

void TestScheduler::missingToolEndsTheWholeBatch()
{
    m_queue.append({{input(QStringLiteral("a.avi"), "marker"), QString()},
                    {input(QStringLiteral("b.avi"), "hang-conv"), QString()},
                    {input(QStringLiteral("c.avi"), "marker"), QString()}});
    // conv is there, coder is not: the first stage two cannot start.
    auto batch = scheduler(Formats::RMVB, 2, standInApp({"conv"}));
    QSignalSpy stopped(batch.get(), &BatchScheduler::stopped);
    QVERIFY(batch->begin());
    batch->ConvertNextFile();
    QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 20000);
    QCOMPARE(stopped.at(0).at(0).toString(), QStringLiteral("无法启动转换工具 coder"));
    QCOMPARE(m_queue.count(), 3);
    QVERIFY(!batch->isBusy());
    QTRY_VERIFY(processesMentioning({m_dir->path()}).isEmpty());
}

// The tools of one batch, on every job, share one memo of what the hardware can do, which
// the next batch begins without and which does not outlive its batch.
void TestScheduler::eachBatchKeepsOneHardwareMemo()
{
    const QString app = standInApp();
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 3; ++i)
            m_queue.append({{input(QStringLiteral("clip%1-%2.avi").arg(round).arg(i), "probe-memo"),
                             QString()}});
        auto batch = scheduler(Formats::MP3, 2, app);
        QStringList counts;
        connect(batch.get(), &BatchScheduler::fileFinished, this,
                [&](int, const FileConversion::Result &result) {
                    QFile output(result.outputPath);
                    QVERIFY(output.open(QIODevice::ReadOnly));
                    const QString content = QString::fromUtf8(output.readAll());
                    counts.append(content.section(QStringLiteral("memo="), 1).section('\n', 0, 0));
                });
        QSignalSpy completed(batch.get(), &BatchScheduler::completed);
        QVERIFY(batch->begin());
        batch->ConvertNextFile();
        QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 60000);
        counts.sort();
        QCOMPARE(counts, (QStringList{"1", "2", "3"}));
        const QString memo = qEnvironmentVariable(ToolContract::HardwareProbeFileVariable);
        QVERIFY(memo.startsWith(testLocations(m_dir->path(), app).scratchFolder + '/'));
        QVERIFY(!QFile::exists(memo));
    }
}

void TestScheduler::toolsLearnHowManyFilesShareTheCores_data()
{
    QTest::addColumn<int>("jobs");
    QTest::addColumn<int>("files");
    QTest::addColumn<QByteArray>("atOnce"); // empty: not set
    QTest::newRow("one at a time") << 1 << 3 << QByteArray();
    QTest::newRow("fewer files than jobs") << 3 << 2 << QByteArray("2");
    QTest::newRow("more files than jobs") << 2 << 5 << QByteArray("2");
    QTest::newRow("a single file") << 4 << 1 << QByteArray();
}

void TestScheduler::toolsLearnHowManyFilesShareTheCores()
{
    QFETCH(int, jobs);
    QFETCH(int, files);
    QFETCH(QByteArray, atOnce);
    qputenv(ToolContract::FilesAtOnceVariable, "9"); // left by an earlier batch
    for (int i = 0; i < files; ++i)
        m_queue.append({{input(QStringLiteral("clip%1.avi").arg(i), "marker"), QString()}});
    auto batch = scheduler(Formats::MP3, jobs, standInApp());
    QVERIFY(batch->begin());
    QCOMPARE(qgetenv(ToolContract::FilesAtOnceVariable), atOnce);
    batch->stop();
    QVERIFY(!batch->isBusy());
}

void TestScheduler::existingOutputsAreSkipped_data()
{
    QTest::addColumn<QStringList>("there"); // outputs there before the batch
    QTest::newRow("none") << QStringList{};
    QTest::newRow("one of three") << QStringList{"b.mp3"};
    QTest::newRow("all three") << QStringList{"a.mp3", "b.mp3", "c.mp3"};
}

void TestScheduler::existingOutputsAreSkipped()
{
    QFETCH(QStringList, there);
    QDir().mkpath(m_host.folder);
    for (const QString &name : there) {
        QFile earlier(m_host.folder + QLatin1Char('/') + name);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("converted before");
    }
    for (const char *name : {"a", "b", "c"})
        m_queue.append({{input(QLatin1String(name) + QStringLiteral(".avi"), name), QString()}});
    m_host.names = OutputNaming::Names::Plain;
    m_host.skip = true;
    auto batch = scheduler(Formats::MP3, 2, standInApp());
    QStringList skipped;
    connect(batch.get(), &BatchScheduler::fileSkipped, this,
            [&](int, const QString &, const QString &output) {
                skipped.append(QFileInfo(output).fileName());
            });
    QSignalSpy completed(batch.get(), &BatchScheduler::completed);
    QVERIFY(batch->begin());
    batch->ConvertNextFile();
    QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 30000);
    skipped.sort();
    QCOMPARE(skipped, there);
    QCOMPARE(batch->filesSkipped(), int(there.size()));
    QCOMPARE(batch->filesConverted(), 3 - int(there.size()));
    QCOMPARE(batch->progress().fileCount(), 3);
    QCOMPARE(m_queue.count(), 0);
    // Plain names, none with a counter, and what was there is as it was.
    QCOMPARE(outputNames(), QStringList({"a.mp3", "b.mp3", "c.mp3"}));
    for (const QString &name : there) {
        QFile earlier(m_host.folder + QLatin1Char('/') + name);
        QVERIFY(earlier.open(QIODevice::ReadOnly));
        QCOMPARE(earlier.readAll(), QByteArray("converted before"));
    }
}

QTEST_GUILESS_MAIN(TestScheduler)
#include "test_scheduler.moc"
