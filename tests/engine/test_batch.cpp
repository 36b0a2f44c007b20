#include "RecordingDesktopServices.h"
#include "RecordingMessageSink.h"
#include "TestLocations.h"
#include "TestMedia.h"
#include "app/SettingsFiles.h"
#include "app/frmMain.h"
#include "convert/BatchDriver.h"
#include "convert/Formats.h"
#include "process/DOSOutputs.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <memory>

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
    void failedFileInTheMiddle();
    void missingToolEndsTheBatch();
    void droppedDuringBatchIsConvertedLast();
    void stopDuringEachKindOfRun_data();
    void stopDuringEachKindOfRun();

private:
    std::unique_ptr<frmMain> window(const QString &appFolder = QStringLiteral(VIDMORPH_APP_DIR));
    void start(frmMain &w);
    QStringList outputs() const;

    QTemporaryDir m_media;
    std::unique_ptr<QTemporaryDir> m_dir;
    RecordingMessageSink m_messages;
    RecordingDesktopServices m_desktop;
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
    m_dir = std::make_unique<QTemporaryDir>();
    m_messages.messages.clear();
    m_desktop.opened.clear();
    m_desktop.sounds.clear();
}

std::unique_ptr<frmMain> TestBatch::window(const QString &appFolder)
{
    auto w =
        std::make_unique<frmMain>(testLocations(m_dir->path(), appFolder), &m_messages, &m_desktop);
    w->Form_Load();
    w->txtPath->setText(m_dir->filePath(QStringLiteral("out/deeper")));
    return w;
}

void TestBatch::start(frmMain &w)
{
    QSignalSpy completed(w.driver(), &BatchDriver::completed);
    QSignalSpy stopped(w.driver(), &BatchDriver::stopped);
    w.Command3->click();
    QTRY_VERIFY_WITH_TIMEOUT(completed.count() + stopped.count() > 0, 240000);
}

QStringList TestBatch::outputs() const
{
    QStringList names = QDir(m_dir->filePath(QStringLiteral("out/deeper"))).entryList(QDir::Files);
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
    QSignalSpy finished(w->driver(), &BatchDriver::fileFinished);
    start(*w);

    QCOMPARE(m_messages.messages.size(), 0);
    QCOMPARE(w->files()->count(), 0);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(1).toBool(), true);
    QCOMPARE(w->lblPB->text(), QStringLiteral("Done."));
    QCOMPARE(w->imgPBWidth(), 0.0);
    // The folder was created with its missing parent and gained its separator.
    QCOMPARE(w->txtPath->text(), m_dir->filePath(QStringLiteral("out/deeper/")));
    QCOMPARE(m_desktop.opened, QStringList{w->txtPath->text()});
    QCOMPARE(m_desktop.sounds, QStringList{QStringLiteral(VIDMORPH_APP_DIR "/sound.wav")});
    QVERIFY(w->cmbOF->isEnabled());
    QVERIFY(w->CmdToolsBar[0]->isEnabled());

    const QStringList names = outputs();
    QCOMPARE(names.size(), 1);
    QVERIFY2(names.first().startsWith(QStringLiteral("clip one-")), qPrintable(names.first()));
    QVERIFY(names.first().endsWith(Formats::extension(format)));
    const QString out = m_dir->filePath(QStringLiteral("out/deeper/")) + names.first();
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
    connect(w->driver(), &BatchDriver::toolStarted, this,
            [&](const QString &tool, CommandBuilder::Runner runner) {
                order.append(tool +
                             (runner == CommandBuilder::Runner::DOS ? "@objDOS" : "@objffmpeg"));
            });
    QList<int> rowsLeft;
    connect(w->driver(), &BatchDriver::fileFinished, this,
            [&] { rowsLeft.append(w->files()->count()); });
    start(*w);
    QCOMPARE(order,
             QStringList({"conv@objDOS", "coder@objffmpeg", "conv@objDOS", "coder@objffmpeg"}));
    QCOMPARE(rowsLeft, QList<int>({1, 0}));
    const QStringList names = outputs();
    QCOMPARE(names.size(), 2);
    // Each output holds its own input: the frame sizes differ.
    QSet<int> widths;
    for (const QString &name : names)
        widths.insert(TestMedia::probe(m_dir->filePath("out/deeper/" + name)).size.width());
    QCOMPARE(widths, QSet<int>({160, 320}));
}

void TestBatch::soundPromptOffPlaysNoSound()
{
    QVERIFY(SettingsFiles::writeFile(m_dir->filePath(QStringLiteral("settings/options.ini")),
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
    QCOMPARE(w->driver()->state(), BatchDriver::State::Idle);
}

void TestBatch::failedFileInTheMiddle()
{
    const QString text = m_dir->filePath(QStringLiteral("notes.avi"));
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("This is not a video, only some words in a text file.\n");
    file.close();

    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::RMVB);
    w->appendFiles({m_clip, text, m_wide});
    QStringList order;
    connect(w->driver(), &BatchDriver::toolStarted, this,
            [&](const QString &tool) { order.append(tool); });
    start(*w);
    // The bad file's stage one fails, so no stage two runs on a stale intermediate file.
    QCOMPARE(order, QStringList({"conv", "coder", "conv", "conv", "coder"}));
    QCOMPARE(outputs().size(), 2);
    QCOMPARE(w->files()->count(), 0);
    QCOMPARE(w->lblPB->text(), QStringLiteral("Done."));
    const QVector<BatchDriver::Failure> failures = w->driver()->failures();
    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures[0].inputPath, text);
    QVERIFY2(failures[0].reason.contains(QStringLiteral("无法读取输入文件")),
             qPrintable(failures[0].reason));
    QVERIFY(failures[0].toolLines.contains(QStringLiteral("Error:")));
    // The user is told which file failed and why, without reading a console.
    QCOMPARE(m_messages.messages.size(), 1);
    QVERIFY(m_messages.messages[0].text.contains(text));
    QVERIFY(m_messages.messages[0].text.contains(failures[0].reason));
    QFile log(w->driver()->logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString logged = QString::fromUtf8(log.readAll());
    QVERIFY(logged.contains(text));
    QVERIFY(logged.contains(QStringLiteral("/data/coder -i ")));
    QCOMPARE(logged.count(QStringLiteral("=> 退出代码 0")), 4);
}

void TestBatch::missingToolEndsTheBatch()
{
    // An application folder whose data folder lacks coder.
    const QString app = m_dir->filePath(QStringLiteral("app"));
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

void TestBatch::droppedDuringBatchIsConvertedLast()
{
    auto w = window();
    w->cmbOF->setCurrentIndex(Formats::MP3);
    w->appendFiles({m_clip, m_clip});
    QStringList finishedOrder;
    connect(w->driver(), &BatchDriver::fileFinished, this,
            [&](const QString &input) { finishedOrder.append(input); });
    bool dropped = false;
    connect(w->driver(), &BatchDriver::toolStarted, this, [&] {
        if (!dropped) {
            dropped = true;
            w->appendFiles({m_wide});
        }
    });
    start(*w);
    QCOMPARE(finishedOrder, QStringList({m_clip, m_clip, m_wide}));
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
    const QString longer = m_media.filePath(QStringLiteral("long.mkv"));
    if (!QFile::exists(longer))
        QCOMPARE(TestMedia::make(longer, QSize(640, 360), 30.0, 2), QString());
    auto w = window();
    w->cmbOF->setCurrentIndex(format);
    w->appendFiles({longer, m_clip});
    QSignalSpy stopped(w->driver(), &BatchDriver::stopped);
    connect(w->driver(), &BatchDriver::toolStarted, this, [&](const QString &started) {
        if (started == tool)
            QTimer::singleShot(300, w->Command3, &QPushButton::click);
    });
    QCOMPARE(w->Command3->text(), QStringLiteral("立刻开始转换！"));
    w->Command3->click();
    QCOMPARE(w->Command3->text(), QStringLiteral("停止转换"));
    QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 60000);
    QCOMPARE(w->driver()->state(), BatchDriver::State::Idle);
    QVERIFY(!w->objDOS->isRunning());
    QVERIFY(!w->objffmpeg->isRunning());
    QCOMPARE(w->files()->count(), 2);
    QCOMPARE(w->files()->pathAt(0), longer);
    QCOMPARE(w->Command3->text(), QStringLiteral("立刻开始转换！"));
    QVERIFY(w->cmbOF->isEnabled());
    QVERIFY(m_desktop.opened.isEmpty());
    QVERIFY(m_desktop.sounds.isEmpty());
    // No partial output, no temporary file and no intermediate file stay behind.
    QCOMPARE(outputs(), QStringList());
    QCOMPARE(QDir(m_dir->filePath(QStringLiteral("out/deeper")))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("scratch/tmp.mp4"))));
}

QTEST_MAIN(TestBatch)
#include "test_batch.moc"
