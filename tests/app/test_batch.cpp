#include "ProcessTable.h"
#include "TestMedia.h"
#include "WindowFixture.h"
#include "app/frmSummary.h"
#include "convert/BatchProgress.h"
#include "convert/BatchScheduler.h"
#include "convert/Formats.h"
#include "dialogs/FileDialogs.h"
#include "process/NativePath.h"
#include "process/SettingsFiles.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <memory>
#include <unistd.h>

namespace {

FileConversion::Result resultOf(const QSignalSpy &finished, int index)
{
    return finished.at(index).at(1).value<FileConversion::Result>();
}

} // namespace

// Whole batches through the real window, the real tools and the system's ffmpeg.
class TestBatch : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void everyFormat_data();
    void everyFormat();
    void twoRmvbFilesAlternateRunners();
    void soundPromptOffPlaysNoSound();
    void emptyListIsRefused();
    void listsLockForABatchOnly_data();
    void listsLockForABatchOnly();
    void failedFileInTheMiddle();
    void missingToolEndsTheBatch();
    void noFormatSelectedIsNamed();
    void droppedDuringBatchIsConvertedLast();
    void stopDuringEachKindOfRun_data();
    void stopDuringEachKindOfRun();
    void stopWhileStarting();
    void doubleClickOnStartConverts();
    void stopBetweenFiles();
    void stopOfAToolThatIgnoresIt();
    void failureSummaryAndRetry();
    void runningBatchShowsFileAndTimeLeft();
    void longBatchNotifies();
    void inputThatIsTheIntermediateFileIsRefused();
    void sizeTheSecondStageRefusesIsSaidAtStart();
    void fileCutShortIsReportedWithAWarning();
    void namesThatAreNotUtf8Convert();

private:
    std::unique_ptr<frmMain> window(const QString &appFolder = QStringLiteral(VIDMORPH_APP_DIR));
    void start(frmMain &w);
    QStringList outputs() const;
    QString longClip();
    QString writeFile(const QString &name, const QByteArray &content) const;
    // Processes whose command line mentions any of the texts.

    QTemporaryDir m_media;
    WindowFixture m_fixture;
    RecordingMessageSink &m_messages = m_fixture.messages;
    RecordingDesktopServices &m_desktop = m_fixture.desktop;
    QString m_clip;
    QString m_wide;
};

void TestBatch::initTestCase()
{
    m_clip = m_media.filePath(QStringLiteral("clip one.mp4"));
    m_wide = m_media.filePath(QStringLiteral("宽 clip.mp4"));
    QCOMPARE(TestMedia::make(m_clip, QSize(160, 120), 1.0, 2), QString());
    QCOMPARE(TestMedia::make(m_wide, QSize(320, 180), 1.5, 1), QString());
}

void TestBatch::init()
{
    m_fixture.reset();
}

QString TestBatch::longClip()
{
    // Long enough that a stop always finds its tool at work.
    const QString path = m_media.filePath(QStringLiteral("long.mkv"));
    if (!QFile::exists(path) && !TestMedia::make(path, QSize(640, 360), 30.0, 2).isEmpty())
        return QString();
    return path;
}

QString TestBatch::writeFile(const QString &name, const QByteArray &content) const
{
    const QString path = m_fixture.path(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return path;
}

std::unique_ptr<frmMain> TestBatch::window(const QString &appFolder)
{
    m_fixture.places.appFolder = appFolder;
    return m_fixture.loadForBatch(QStringLiteral("out/deeper"));
}

void TestBatch::start(frmMain &w)
{
    QSignalSpy completed(w.scheduler(), &BatchScheduler::completed);
    QSignalSpy stopped(w.scheduler(), &BatchScheduler::stopped);
    w.Command3->click();
    QTRY_VERIFY_WITH_TIMEOUT(completed.count() + stopped.count() > 0, 240000);
}

QStringList TestBatch::outputs() const
{
    QStringList names = QDir(m_fixture.path(QStringLiteral("out/deeper"))).entryList(QDir::Files);
    names.sort();
    return names;
}

void TestBatch::everyFormat_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("videoCodec");
    QTest::addColumn<QString>("audioCodec");
    QTest::newRow("RMVB") << 0 << "rm"
                          << "rv10"
                          << "ac3";
    QTest::newRow("RM") << 1 << "rm"
                        << "rv10"
                        << "ac3";
    QTest::newRow("MPG") << 2 << "mpeg"
                         << "mpeg2video"
                         << "mp2";
    QTest::newRow("AVI") << 3 << "avi"
                         << "mpeg2video"
                         << "mp2";
    QTest::newRow("MPEG4") << 4 << "avi"
                           << "mpeg4"
                           << "mp3";
    QTest::newRow("MOV") << 5 << "mov,mp4,m4a,3gp,3g2,mj2"
                         << ""
                         << "";
    QTest::newRow("mobile MP4") << 6 << "mov,mp4,m4a,3gp,3g2,mj2"
                                << "mpeg4"
                                << "amr_nb";
    QTest::newRow("3GP") << 7 << "mov,mp4,m4a,3gp,3g2,mj2"
                         << "mpeg4"
                         << "amr_nb";
    QTest::newRow("MP3") << 8 << "mp3"
                         << ""
                         << "mp3";
}

void TestBatch::everyFormat()
{
    QFETCH(int, format);
    QFETCH(QString, container);
    QFETCH(QString, videoCodec);
    QFETCH(QString, audioCodec);
    auto w = window();
    w->cmbOF->setCurrentIndex(format);
    w->appendFiles({m_clip});
    QSignalSpy finished(w->scheduler(), &BatchScheduler::fileFinished);
    start(*w);

    QCOMPARE(m_messages.messages.size(), 0);
    QCOMPARE(w->files()->count(), 0);
    QCOMPARE(finished.count(), 1);
    QVERIFY(resultOf(finished, 0).outcome == FileConversion::Outcome::Converted);
    QCOMPARE(w->lblPB->text(), QStringLiteral("Done."));
    QCOMPARE(w->imgPBWidth(), 0.0);
    // The folder was created with its missing parent and gained its separator.
    QCOMPARE(w->txtPath->text(), m_fixture.path(QStringLiteral("out/deeper/")));
    QCOMPARE(m_desktop.opened, QStringList{w->txtPath->text()});
    QCOMPARE(m_desktop.told, QStringList()); // the output folder opens quietly
    QCOMPARE(m_desktop.sounds, QStringList{QStringLiteral(VIDMORPH_APP_DIR "/sound.wav")});
    QVERIFY(w->cmbOF->isEnabled());
    QVERIFY(w->CmdToolsBar[0]->isEnabled());

    const QStringList names = outputs();
    QCOMPARE(names.size(), 1);
    QVERIFY2(names.first().startsWith(QStringLiteral("clip one-")), qPrintable(names.first()));
    QVERIFY(names.first().endsWith(Formats::extension(format)));
    const QString out = m_fixture.path(QStringLiteral("out/deeper/")) + names.first();
    const TestMedia::Info info = TestMedia::probe(out);
    QCOMPARE(info.container, container);
    if (!videoCodec.isEmpty())
        QCOMPARE(info.videoCodec, videoCodec);
    if (format == Formats::MP3)
        QVERIFY(info.videoCodec.isEmpty());
    else
        QVERIFY(!info.videoCodec.isEmpty());
    if (!audioCodec.isEmpty())
        QCOMPARE(info.audioCodec, audioCodec);
    QVERIFY(qAbs(info.duration - 1.0) < 0.25);
    QCOMPARE(TestMedia::decodeErrors(out), QString());
}

void TestBatch::twoRmvbFilesAlternateRunners()
{
    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::RMVB);
    w->appendFiles({m_clip, m_wide});
    QStringList order;
    connect(w->scheduler(), &BatchScheduler::toolStarted, this,
            [&](int, const QString &tool, CommandBuilder::Runner runner) {
                order.append(tool +
                             (runner == CommandBuilder::Runner::DOS ? "@objDOS" : "@objffmpeg"));
            });
    QList<int> rowsLeft;
    connect(w->scheduler(), &BatchScheduler::fileFinished, this,
            [&] { rowsLeft.append(w->files()->count()); });
    start(*w);
    QCOMPARE(order,
             QStringList({"conv@objDOS", "coder@objffmpeg", "conv@objDOS", "coder@objffmpeg"}));
    QCOMPARE(rowsLeft, QList<int>({1, 0}));
    const QStringList names = outputs();
    QCOMPARE(names.size(), 2);
    // Each output holds its own input: the frame sizes differ (RealMedia frames them in whole
    // macroblocks of their own shape, so not the inputs' sizes themselves).
    QSet<int> widths;
    for (const QString &name : names)
        widths.insert(TestMedia::probe(m_fixture.path("out/deeper/" + name)).size.width());
    QCOMPARE(widths.size(), 2);
}

void TestBatch::soundPromptOffPlaysNoSound()
{
    QVERIFY(SettingsFiles::writeFile(m_fixture.path(QStringLiteral("settings/options.ini")),
                                     "1\r\n0\r\n0\r\n0\r\n"));
    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::MP3);
    w->appendFiles({m_clip});
    start(*w);
    QCOMPARE(w->lblPB->text(), QStringLiteral("Done."));
    QCOMPARE(m_desktop.opened.size(), 1);
    QVERIFY(m_desktop.sounds.isEmpty());
}

void TestBatch::emptyListIsRefused()
{
    auto w = window();
    w->Command3->click();
    QCOMPARE(m_messages.messages.size(), 1);
    QCOMPARE(m_messages.messages[0].text, QStringLiteral("请先添加一个文件"));
    QCOMPARE(m_messages.messages[0].caption, QStringLiteral("添加"));
    QVERIFY(m_messages.messages[0].icon == MessageSink::Icon::Exclamation);
    QVERIFY(!w->Timer1->isActive());
    QVERIFY(w->cmbOF->isEnabled());
    QCOMPARE(w->scheduler()->state(), BatchScheduler::State::Idle);
}

void TestBatch::listsLockForABatchOnly_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("size"); // "" keeps the format's default
    QTest::newRow("MPG") << int(Formats::MPG) << "";
    QTest::newRow("RMVB with a size") << int(Formats::RMVB) << "320x240";
}

void TestBatch::listsLockForABatchOnly()
{
    QFETCH(int, format);
    QFETCH(QString, size);
    auto w = window();
    w->cmbOF->setCurrentIndex(format);
    if (!size.isEmpty())
        w->cmbS->setEditText(size);
    w->appendFiles({m_clip});
    auto enabledLists = [&] {
        QStringList names;
        for (const QComboBox *list :
             {w->cmbOF, w->cmbR, w->cmbBR, w->cmbS, w->cmbVB, w->cmbF, w->cmbChannel})
            if (list->isEnabled())
                names.append(list->objectName());
        return names;
    };
    const QStringList all = enabledLists();
    QCOMPARE(all.size(), 7);
    QStringList enabledDuring{"not seen"};
    bool feedbackDuring = true;
    connect(w->scheduler(), &BatchScheduler::toolStarted, this, [&] {
        enabledDuring = enabledLists();
        feedbackDuring = w->lblFeed->isEnabled();
    });
    start(*w);
    QCOMPARE(outputs().size(), 1);
    QCOMPARE(enabledDuring, QStringList());
    QVERIFY(!feedbackDuring);
    QCOMPARE(enabledLists(), all);
    QVERIFY(w->lblFeed->isEnabled());
}

void TestBatch::failedFileInTheMiddle()
{
    const QString text = m_fixture.path(QStringLiteral("notes.avi"));
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("This is not a video, only some words in a text file.\n");
    file.close();

    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::RMVB);
    w->appendFiles({m_clip, text, m_wide});
    QStringList order;
    connect(w->scheduler(), &BatchScheduler::toolStarted, this,
            [&](int, const QString &tool) { order.append(tool); });
    start(*w);
    // The bad file's stage one fails, so no stage two runs on a stale intermediate file.
    QCOMPARE(order, QStringList({"conv", "coder", "conv", "conv", "coder"}));
    QCOMPARE(outputs().size(), 2);
    QCOMPARE(w->files()->count(), 0);
    QCOMPARE(w->lblPB->text(), QStringLiteral("Done."));
    const QVector<BatchScheduler::Failure> failures = w->scheduler()->failures();
    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures[0].inputPath, text);
    QVERIFY2(failures[0].reason.contains(QStringLiteral("无法读取输入文件")),
             qPrintable(failures[0].reason));
    QVERIFY(failures[0].toolLines.contains(QStringLiteral("Error:")));
    // The user is told which file failed and why, without reading a console.
    QVERIFY(m_messages.messages.isEmpty());
    QVERIFY(w->summary());
    QVERIFY(w->summary()->isVisible());
    QCOMPARE(w->summary()->lstFailed->rowCount(), 1);
    QCOMPARE(w->summary()->lstFailed->item(0, 0)->toolTip(), text);
    QCOMPARE(w->summary()->lstFailed->item(0, 1)->text(), failures[0].reason);
    QFile log(w->scheduler()->logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString logged = QString::fromUtf8(log.readAll());
    QVERIFY(logged.contains(text));
    QVERIFY(logged.contains(QStringLiteral("/data/coder -i ")));
    QCOMPARE(logged.count(QStringLiteral("=> 退出代码 0")), 4);
}

void TestBatch::missingToolEndsTheBatch()
{
    // An application folder whose data folder lacks coder.
    const QString app = m_fixture.path(QStringLiteral("app"));
    QVERIFY(QDir().mkpath(app + QStringLiteral("/data")));
    QVERIFY(QFile::link(QStringLiteral(VIDMORPH_APP_DIR "/data/conv"), app + "/data/conv"));
    auto w = window(app);
    w->cmbOF->setCurrentIndex(Formats::RMVB);
    w->appendFiles({m_clip, m_wide});
    start(*w);
    QCOMPARE(m_messages.messages.size(), 1);
    QCOMPARE(m_messages.messages[0].text, QStringLiteral("File or command not found"));
    QCOMPARE(m_messages.messages[0].caption, QStringLiteral("Vidmorph"));
    QCOMPARE(w->files()->count(), 2);
    QCOMPARE(w->files()->pathAt(0), m_clip);
    QVERIFY(w->cmbOF->isEnabled());
    QVERIFY(w->lblFeed->isEnabled());
    QVERIFY(w->CmdToolsBar[5]->isEnabled());
    QCOMPARE(w->Command3->text(), QStringLiteral("立刻开始转换！"));
    QVERIFY(m_desktop.opened.isEmpty());
    QVERIFY(m_desktop.sounds.isEmpty());
}

void TestBatch::noFormatSelectedIsNamed()
{
    // A setup.ini whose format record is -1 leaves the format list without a selection.
    auto w = window();
    w->cmbOF->setCurrentIndex(-1);
    w->appendFiles({m_clip});
    QSignalSpy stopped(w->scheduler(), &BatchScheduler::stopped);
    w->Command3->click();
    QVERIFY(stopped.wait(60000));
    QCOMPARE(m_messages.messages.size(), 1);
    QCOMPARE(m_messages.messages.at(0).text, QStringLiteral("Command Line empty"));
    QCOMPARE(w->lblPB->text(), QStringLiteral("没有选择输出格式：请先在“输出格式”中选择一个格式"));
    QCOMPARE(w->files()->paths(), QStringList{m_clip});
    QVERIFY(w->cmbOF->isEnabled());
    QCOMPARE(outputs(), QStringList());
}

void TestBatch::droppedDuringBatchIsConvertedLast()
{
    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::MP3);
    w->appendFiles({m_clip, m_clip});
    QStringList finishedOrder;
    connect(
        w->scheduler(), &BatchScheduler::fileFinished, this,
        [&](int, const FileConversion::Result &result) { finishedOrder.append(result.inputPath); });
    bool dropped = false;
    QString countAfterDrop;
    connect(w->scheduler(), &BatchScheduler::toolStarted, this, [&] {
        if (!dropped) {
            dropped = true;
            w->appendFiles({m_wide});
            countAfterDrop = w->lblBatch->text();
        }
    });
    QStringList numbers;
    connect(w->scheduler(), &BatchScheduler::toolStarted, this,
            [&] { numbers.append(w->lblBatch->text().section(QLatin1Char(' '), 0, 1)); });
    start(*w);
    QCOMPARE(finishedOrder, QStringList({m_clip, m_clip, m_wide}));
    // The batch counts the dropped file in.
    QCOMPARE(countAfterDrop, QStringLiteral("第 1/3 个文件"));
    QCOMPARE(numbers, QStringList({"第 1/3", "第 2/3", "第 3/3"}));
    QCOMPARE(outputs().size(), 3);
}

void TestBatch::stopDuringEachKindOfRun_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("tool");
    QTest::newRow("stage one") << int(Formats::MPG) << "conv";
    QTest::newRow("stage two") << int(Formats::ThreeGP) << "coder2";
    QTest::newRow("MP3") << int(Formats::MP3) << "coder";
}

void TestBatch::stopDuringEachKindOfRun()
{
    QFETCH(int, format);
    QFETCH(QString, tool);
    const QString longer = longClip();
    QVERIFY(!longer.isEmpty());
    auto w = window();
    w->cmbOF->setCurrentIndex(format);
    w->appendFiles({longer, m_clip});
    QSignalSpy stopped(w->scheduler(), &BatchScheduler::stopped);
    QSignalSpy completed(w->scheduler(), &BatchScheduler::completed);
    // Stopped at the tool's first progress report: its ffmpeg is then surely at work.
    bool stopSent = false;
    connect(w->scheduler(), &BatchScheduler::fileProgress, this, [&] {
        if (stopSent || w->scheduler()->ToolImageName() != tool)
            return;
        stopSent = true;
        QTimer::singleShot(0, w->Command3, &QPushButton::click);
    });
    QCOMPARE(w->Command3->text(), QStringLiteral("立刻开始转换！"));
    w->Command3->click();
    QCOMPARE(w->Command3->text(), QStringLiteral("停止转换"));
    QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 60000);
    QCOMPARE(w->scheduler()->state(), BatchScheduler::State::Idle);
    // The stopped file's progress does not carry over to the next start.
    QCOMPARE(w->pb->value(), 0);
    QCOMPARE(w->imgPBWidth(), 0.0);
    // Neither the tool nor its ffmpeg (nor a length probe) outlives the stop.
    const QStringList paths = {m_fixture.path(), longer};
    QTRY_VERIFY2_WITH_TIMEOUT(processesMentioning(paths).isEmpty(),
                              qPrintable(processesMentioning(paths).join('\n')), 1000);
    QCOMPARE(w->files()->count(), 2);
    QCOMPARE(w->files()->pathAt(0), longer);
    QCOMPARE(w->Command3->text(), QStringLiteral("立刻开始转换！"));
    QVERIFY(w->cmbOF->isEnabled());
    QVERIFY(w->CmdToolsBar[0]->isEnabled());
    QVERIFY(w->lblFeed->isEnabled());
    QCOMPARE(w->lblPB->text(), QStringLiteral("转换已停止"));
    QVERIFY(m_desktop.opened.isEmpty());
    QVERIFY(m_desktop.sounds.isEmpty());
    QCOMPARE(completed.count(), 0);
    // No partial output, no temporary file and no intermediate file stay behind.
    QCOMPARE(outputs(), QStringList());
    QCOMPARE(QDir(m_fixture.path(QStringLiteral("out/deeper")))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
    QCOMPARE(QDir(m_fixture.path(QStringLiteral("scratch")))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());

    // Start again goes on with the file that was stopped, and converts the whole list.
    QSignalSpy finished(w->scheduler(), &BatchScheduler::fileFinished);
    w->Command3->click();
    QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 240000);
    QCOMPARE(stopped.count(), 1);
    QCOMPARE(finished.count(), 2);
    QCOMPARE(resultOf(finished, 0).inputPath, longer);
    QVERIFY(resultOf(finished, 0).outcome == FileConversion::Outcome::Converted);
    QVERIFY(resultOf(finished, 1).outcome == FileConversion::Outcome::Converted);
    QCOMPARE(w->files()->count(), 0);
    QCOMPARE(outputs().size(), 2);
    QCOMPARE(w->lblPB->text(), QStringLiteral("Done."));
}

void TestBatch::stopWhileStarting()
{
    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::MP3);
    w->appendFiles({m_clip});
    QSignalSpy stopped(w->scheduler(), &BatchScheduler::stopped);
    QSignalSpy started(w->scheduler(), &BatchScheduler::toolStarted);
    w->Command3->click();
    QVERIFY(w->Timer1->isActive());
    QCOMPARE(w->scheduler()->state(), BatchScheduler::State::Starting);
    // Stopped inside the 100 ms before the first tool.
    w->Command3->click();
    QCOMPARE(stopped.count(), 1);
    QVERIFY(!w->Timer1->isActive());
    QCOMPARE(w->scheduler()->state(), BatchScheduler::State::Idle);
    QVERIFY(w->cmbOF->isEnabled());
    QCOMPARE(w->Command3->text(), QStringLiteral("立刻开始转换！"));
    QTest::qWait(300);
    QCOMPARE(started.count(), 0);
    QCOMPARE(w->files()->count(), 1);
    start(*w);
    QCOMPARE(w->lblPB->text(), QStringLiteral("Done."));
    QCOMPARE(outputs().size(), 1);
}

void TestBatch::doubleClickOnStartConverts()
{
    auto w = window();
    w->setStartGuardMs(frmMain::DefaultStartGuardMs);
    w->cmbOF->setCurrentIndex(Formats::MP3);
    w->appendFiles({m_clip});
    QSignalSpy stopped(w->scheduler(), &BatchScheduler::stopped);
    QSignalSpy completed(w->scheduler(), &BatchScheduler::completed);
    // The two clicks of a double click.
    QTest::mouseClick(w->Command3, Qt::LeftButton);
    QTest::mouseClick(w->Command3, Qt::LeftButton);
    QCOMPARE(w->Command3->text(), QStringLiteral("停止转换"));
    QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 60000);
    QCOMPARE(stopped.count(), 0);
    QCOMPARE(outputs().size(), 1);
}

void TestBatch::stopBetweenFiles()
{
    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::MP3);
    w->appendFiles({m_clip, m_wide, m_clip});
    QSignalSpy stopped(w->scheduler(), &BatchScheduler::stopped);
    QSignalSpy started(w->scheduler(), &BatchScheduler::toolStarted);
    // Timer1 stops itself before the first tool of a batch starts.
    bool startedEarly = false;
    connect(w->scheduler(), &BatchScheduler::toolStarted, this,
            [&] { startedEarly = startedEarly || w->Timer1->isActive(); });
    bool once = false;
    connect(w->scheduler(), &BatchScheduler::fileFinished, this, [&] {
        if (once)
            return;
        once = true;
        // Stop after the first file's end, before the next one starts; then start again at
        // once. The step the stopped batch had queued must not start the new batch early.
        QCOMPARE(w->scheduler()->state(), BatchScheduler::State::FileFinished);
        w->Command3->click();
        QCOMPARE(w->scheduler()->state(), BatchScheduler::State::Idle);
        QVERIFY(w->cmbOF->isEnabled());
        w->Command3->click();
        QCOMPARE(w->scheduler()->state(), BatchScheduler::State::Starting);
    });
    QSignalSpy completed(w->scheduler(), &BatchScheduler::completed);
    w->Command3->click();
    QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 240000);
    QCOMPARE(stopped.count(), 1);
    QVERIFY(!startedEarly);
    QCOMPARE(started.count(), 3);
    QCOMPARE(w->files()->count(), 0);
    QCOMPARE(outputs().size(), 3);
}

void TestBatch::stopOfAToolThatIgnoresIt()
{
    // A stand-in for conv that writes under the tools' temporary name, as the real one does,
    // and ignores the polite stop, so only the kill ends it and it cannot tidy up.
    const QString app = m_fixture.path(QStringLiteral("app"));
    QVERIFY(QDir().mkpath(app + QStringLiteral("/data")));
    const QString conv = app + QStringLiteral("/data/conv");
    QFile script(conv);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n"
                 "trap '' TERM\n"
                 "for argument; do output=$argument; done\n"
                 "echo partial > \"$(dirname \"$output\")/.vidmorph-$$-$(basename \"$output\")\"\n"
                 "echo 'Pos: 0.1s (  1%)'\n"
                 "exec sleep 120\n");
    script.close();
    QVERIFY(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));
    auto w = window(app);
    w->cmbOF->setCurrentIndex(Formats::MPG);
    w->appendFiles({m_clip});
    QSignalSpy stopped(w->scheduler(), &BatchScheduler::stopped);
    const QString outFolder = m_fixture.path(QStringLiteral("out/deeper"));
    connect(w->scheduler(), &BatchScheduler::toolStarted, this,
            [&] { QTimer::singleShot(300, w->Command3, &QPushButton::click); });
    bool temporarySeen = false;
    connect(w->scheduler(), &BatchScheduler::fileProgress, this, [&] {
        temporarySeen =
            !QDir(outFolder).entryList({".vidmorph-*"}, QDir::Files | QDir::Hidden).isEmpty();
    });
    w->Command3->click();
    QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 20000);
    QVERIFY(temporarySeen);
    QCOMPARE(QDir(outFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
    // A killed process may linger in the process table for a moment on a loaded machine.
    QTRY_VERIFY2_WITH_TIMEOUT(
        processesMentioning({m_fixture.path(), QStringLiteral("sleep 120")}).isEmpty(),
        qPrintable(processesMentioning({m_fixture.path()}).join('\n')), 10000);
    QCOMPARE(w->files()->count(), 1);
    QVERIFY(w->cmbOF->isEnabled());
}

void TestBatch::failureSummaryAndRetry()
{
    const QString text =
        writeFile(QStringLiteral("notes.avi"), "Only some words in a text file, no video.\n");
    const QString empty = writeFile(QStringLiteral("zero.avi"), QByteArray());
    const QString mute = m_fixture.path(QStringLiteral("mute.mp4"));
    QCOMPARE(TestMedia::make(mute, QSize(160, 120), 1.0, 0), QString());

    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::MP3);
    w->appendFiles({text, m_clip, mute, empty});
    start(*w);
    QCOMPARE(w->lblPB->text(), QStringLiteral("Done."));
    QCOMPARE(outputs().size(), 1);
    // The completion runs as for a clean batch, then the summary tells what went wrong.
    QCOMPARE(m_desktop.opened, QStringList{w->txtPath->text()});
    QCOMPARE(m_desktop.sounds.size(), 1);
    QVERIFY(m_messages.messages.isEmpty());
    QCOMPARE(w->lblBatch->text(), QStringLiteral("1 个文件转换成功，3 个文件转换失败"));
    frmSummary *summary = w->summary();
    QVERIFY(summary);
    QVERIFY(summary->isVisible());
    QVERIFY(summary->isModal());
    QCOMPARE(summary->windowTitle(), QStringLiteral("转换结果"));
    QCOMPARE(summary->lblResult->text(), QStringLiteral("1 个文件转换成功，3 个文件转换失败："));
    QCOMPARE(summary->lstFailed->rowCount(), 3);
    QStringList listed, reasons;
    for (int row = 0; row < 3; ++row) {
        listed.append(summary->lstFailed->item(row, 0)->toolTip());
        reasons.append(summary->lstFailed->item(row, 1)->text());
    }
    QCOMPARE(listed, QStringList({text, mute, empty}));
    QCOMPARE(reasons,
             QStringList({QStringLiteral("无法读取输入文件（文件已损坏或不是视频、音频文件）"),
                          QStringLiteral("输入文件没有声音，无法转换为纯音频格式"),
                          QStringLiteral("输入文件是空的（0 字节）")}));
    QCOMPARE(summary->lstFailed->item(0, 0)->text(), QStringLiteral("notes.avi"));

    // The log holds what each tool printed.
    QFile log(w->scheduler()->logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString logged = QString::fromUtf8(log.readAll());
    QVERIFY(logged.contains(QStringLiteral("Error: cannot read input file ") + text));
    QVERIFY(logged.contains(QStringLiteral("Error: the input has no audio stream")));
    QVERIFY(logged.contains(QStringLiteral("Error: input file is empty: ") + empty));
    QVERIFY(logged.contains(QStringLiteral("time=")));

    QDir().mkpath(QStringLiteral(VIDMORPH_SCREENSHOT_DIR));
    QVERIFY(summary->grab().save(QStringLiteral(VIDMORPH_SCREENSHOT_DIR "/summary.png")));

    summary->cmdLog->click();
    QCOMPARE(m_desktop.opened.last(), w->scheduler()->logPath());
    // The log is ours and asked for: only its failure to open is told.
    QCOMPARE(m_desktop.told, QStringList{w->scheduler()->logPath()});
    QVERIFY(summary->isVisible());
    summary->cmdRetry->click();
    // Exactly the failed files are back, at the end of the list.
    QCOMPARE(w->files()->paths(), QStringList({text, mute, empty}));
    QTRY_VERIFY(!w->summary());
}

void TestBatch::runningBatchShowsFileAndTimeLeft()
{
    const QString longer = longClip();
    QVERIFY(!longer.isEmpty());
    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::MPG);
    w->appendFiles({longer, m_clip});
    // The batch's clock runs twenty times fast, so these few seconds of work are enough to
    // trust the speed measured.
    QElapsedTimer clock;
    clock.start();
    w->scheduler()->setProgressClock([&clock] { return clock.elapsed() * 20; });
    w->show();
    QSignalSpy stopped(w->scheduler(), &BatchScheduler::stopped);
    w->Command3->click();
    QCOMPARE(w->lblBatch->text(), QStringLiteral("第 1/2 个文件"));
    QTRY_VERIFY_WITH_TIMEOUT(w->lblBatch->text().contains(QStringLiteral("剩余约")), 60000);
    QVERIFY2(w->lblBatch->text().startsWith(QStringLiteral("第 1/2 个文件  剩余约 ")),
             qPrintable(w->lblBatch->text()));
    QVERIFY(w->scheduler()->progress().secondsLeft().has_value());
    QDir().mkpath(QStringLiteral(VIDMORPH_SCREENSHOT_DIR));
    QVERIFY(w->grab().save(QStringLiteral(VIDMORPH_SCREENSHOT_DIR "/running.png")));
    QCOMPARE(w->windowTitle(), QStringLiteral("Vidmorph"));
    // Minimised, the title carries the batch's progress.
    w->showMinimized();
    QTRY_VERIFY(w->isMinimized());
    QTRY_VERIFY2(w->windowTitle().startsWith(QStringLiteral("Vidmorph - ")) &&
                     w->windowTitle().contains(QStringLiteral("% 剩余约 ")),
                 qPrintable(w->windowTitle()));
    w->Command3->click();
    QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 20000);
    QCOMPARE(w->windowTitle(), QStringLiteral("Vidmorph"));
    QCOMPARE(w->lblBatch->text(), QStringLiteral("已停止，列表中还有 2 个文件"));
}

void TestBatch::longBatchNotifies()
{
    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::MP3);
    w->appendFiles({m_clip});
    // The batch's own clock says the tool took seventy seconds.
    qint64 now = 0;
    w->scheduler()->setProgressClock([&now] { return now; });
    connect(w->scheduler(), &BatchScheduler::toolStarted, this, [&now] { now += 70000; });
    start(*w);
    QCOMPARE(
        m_desktop.notifications,
        QStringList{QStringLiteral("Vidmorph 转换完成\n1 个文件转换成功\n") + w->txtPath->text()});

    // A short batch goes without. Minimised, the title shows the progress while the batch
    // runs, and only the name once it is done.
    m_desktop.notifications.clear();
    w->appendFiles({m_clip});
    now = 0;
    QObject::disconnect(w->scheduler(), &BatchScheduler::toolStarted, this, nullptr);
    w->showMinimized();
    QTRY_VERIFY(w->isMinimized());
    QString titleWhileRunning;
    connect(w->scheduler(), &BatchScheduler::fileFinished, this,
            [&] { titleWhileRunning = w->windowTitle(); });
    start(*w);
    QCOMPARE(w->lblPB->text(), QStringLiteral("Done."));
    QVERIFY(m_desktop.notifications.isEmpty());
    QCOMPARE(titleWhileRunning, QStringLiteral("Vidmorph - 100%"));
    QCOMPARE(w->windowTitle(), QStringLiteral("Vidmorph"));
}

void TestBatch::inputThatIsTheIntermediateFileIsRefused()
{
    auto w = window();
    const QString scratch = m_fixture.path(QStringLiteral("scratch"));
    QVERIFY(QDir().mkpath(scratch));
    const QString intermediate = scratch + QStringLiteral("/tmp.mp4");
    QVERIFY(QFile::copy(m_clip, intermediate));
    // Under another name too: a hard link is the same file.
    const QString linked = m_fixture.path(QStringLiteral("linked.mp4"));
    QVERIFY(::link(QFile::encodeName(intermediate).constData(),
                   QFile::encodeName(linked).constData()) == 0);
    const qint64 size = QFileInfo(intermediate).size();
    for (const QString &input : {intermediate, linked}) {
        m_messages.messages.clear();
        w->files()->clear();
        w->cmbOF->setCurrentIndex(Formats::RMVB);
        w->appendFiles({m_clip, input});
        w->Command3->click();
        QCOMPARE(m_messages.messages.size(), 1);
        QCOMPARE(m_messages.messages[0].caption, QStringLiteral("转换"));
        QVERIFY2(m_messages.messages[0].text.contains(input),
                 qPrintable(m_messages.messages[0].text));
        QCOMPARE(w->scheduler()->state(), BatchScheduler::State::Idle);
        QVERIFY(!w->Timer1->isActive());
        QVERIFY(w->cmbOF->isEnabled());
        QCOMPARE(QFileInfo(intermediate).size(), size);
    }
    // Formats that do not use the intermediate file convert it like any other file.
    w->cmbOF->setCurrentIndex(Formats::MP3);
    start(*w);
    QCOMPARE(w->lblPB->text(), QStringLiteral("Done."));
    QCOMPARE(outputs().size(), 2);
}

void TestBatch::sizeTheSecondStageRefusesIsSaidAtStart()
{
    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::MOV);
    w->cmbS->setEditText(QStringLiteral("0x480"));
    w->appendFiles({m_clip});
    QSignalSpy started(w->scheduler(), &BatchScheduler::toolStarted);
    w->Command3->click();
    QCOMPARE(m_messages.messages.size(), 1);
    QCOMPARE(m_messages.messages[0].caption, QStringLiteral("转换"));
    QVERIFY2(m_messages.messages[0].text.startsWith(QStringLiteral("视频尺寸“0x480”无法使用")),
             qPrintable(m_messages.messages[0].text));
    QVERIFY(!w->Timer1->isActive());
    QVERIFY(w->cmbOF->isEnabled());
    QTest::qWait(200);
    QCOMPARE(started.count(), 0);
    // A size the tools can take, odd as it is, converts.
    w->cmbS->setEditText(QStringLiteral("161x121"));
    start(*w);
    QCOMPARE(w->lblPB->text(), QStringLiteral("Done."));
    QCOMPARE(outputs().size(), 1);
    QCOMPARE(
        TestMedia::decodeErrors(m_fixture.path(QStringLiteral("out/deeper/")) + outputs().first()),
        QString());
}

void TestBatch::fileCutShortIsReportedWithAWarning()
{
    const QString cut = m_fixture.path(QStringLiteral("download.mp4"));
    QCOMPARE(TestMedia::makeCutShort(cut, QSize(96, 64), 5.0, 0.4), QString());
    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::MP3);
    w->appendFiles({m_clip, cut});
    start(*w);
    QCOMPARE(w->lblPB->text(), QStringLiteral("Done."));
    QCOMPARE(w->lblBatch->text(), QStringLiteral("2 个文件转换成功（1 个需要注意）"));
    QCOMPARE(outputs().size(), 2);
    QVERIFY(w->summary());
    QCOMPARE(w->summary()->lstFailed->rowCount(), 1);
    QCOMPARE(w->summary()->lstFailed->item(0, 0)->toolTip(), cut);
    const QString reason = w->summary()->lstFailed->item(0, 1)->text();
    QVERIFY2(reason.contains(QStringLiteral("输入文件标明有 5.0 秒")), qPrintable(reason));
    // Nothing failed, so there is nothing to put back on the list.
    QVERIFY(!w->summary()->cmdRetry->isEnabled());
    QFile log(w->scheduler()->logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(log.readAll()).contains(QStringLiteral("注意：输出只有")));
}

void TestBatch::namesThatAreNotUtf8Convert()
{
    // GBK names, as an archive made on Chinese Windows leaves them: 视频 and 假期.
    const QByteArray folder = QFile::encodeName(m_fixture.path(QStringLiteral("unzipped")));
    QVERIFY(QDir().mkpath(QFile::decodeName(folder)));
    const QByteArray video = folder + "/\xca\xd3\xc6\xb5.mp4";
    const QByteArray holiday = folder + "/\xbc\xd9\xc6\xda.mp4";
    for (const QByteArray &name : {video, holiday})
        QVERIFY(::link(QFile::encodeName(m_clip).constData(), name.constData()) == 0);
    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::MP3);
    // Dropped (the address carries the bytes percent-encoded), then added through the file
    // dialog, which answers with Qt's lossy reading of the name.
    QMimeData drop;
    drop.setData(QStringLiteral("text/uri-list"),
                 "file://" + video.toPercentEncoding("/") + "\r\n");
    w->LV_OLEDragDrop(&drop);
    FileDialogs::queueAnswers({QString::fromUtf8(holiday)});
    w->imgAdd_Click();
    QCOMPARE(w->files()->count(), 2);
    QCOMPARE(NativePath::encode(w->files()->pathAt(0)), video);
    QCOMPARE(NativePath::encode(w->files()->pathAt(1)), holiday);
    // The list shows them as people read them.
    QCOMPARE(w->files()->index(0, 0).data().toString(),
             QFile::decodeName(folder) + QStringLiteral("/视频.mp4"));
    start(*w);
    QCOMPARE(w->lblPB->text(), QStringLiteral("Done."));
    QCOMPARE(w->scheduler()->failures().size(), 0);
    const QStringList names = outputs();
    QCOMPARE(names.size(), 2);
    QVERIFY2(names[0].startsWith(QStringLiteral("假期-")) &&
                 names[1].startsWith(QStringLiteral("视频-")),
             qPrintable(names.join(' ')));
    for (const QByteArray &name : {video, holiday})
        ::unlink(name.constData());
}

QTEST_MAIN(TestBatch)
#include "test_batch.moc"
