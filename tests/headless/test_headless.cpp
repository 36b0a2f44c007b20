#include "ProcessTable.h"
#include "TestMedia.h"
#include "convert/FailureReason.h"
#include "convert/Formats.h"
#include "headless/ExitStatus.h"
#include "headless/FailureRecord.h"
#include "headless/HeadlessOptions.h"
#include "headless/MediaFilter.h"
#include "headless/Shard.h"
#include "process/NativePath.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

// `vidmorph --convert`: the option reader on its own, then the real executable with the real
// tools over the system's ffmpeg.
class TestHeadless : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void optionsTakeFormatDefaults_data();
    void optionsTakeFormatDefaults();
    void qualityLevels_data();
    void qualityLevels();
    void optionsRefused_data();
    void optionsRefused();
    void shellHabits_data();
    void shellHabits();
    void runOptions();
    void helpNeedsNoDisplay();
    void badArgumentsExitTwo_data();
    void badArgumentsExitTwo();
    void brokenFileAmongGoodOnes_data();
    void brokenFileAmongGoodOnes();
    void missingToolEndsTheRun();
    void signalStopsTheBatch_data();
    void signalStopsTheBatch();
    void twoRunsAtOnceKeepTheirOwnContent();
    void jsonProgressForPrograms();
    void quietSaysOnlyWhatFailed_data();
    void quietSaysOnlyWhatFailed();
    void terminalLinesAreUpdatedInPlace_data();
    void terminalLinesAreUpdatedInPlace();
    void controlCharactersInNamesAreShownEscaped();
    void closedOutputStopsTheBatchCleanly();
    void eightRunsAtOnceEachGetAnOutput();
    void failingTwinLeavesTheOtherOutput();
    void killedRunIsClearedByTheNext();
    void killedWhileStoppingLeavesNoEmptyOutput();
    void fileCutShortConvertsWithAWarning();
    void namesThatAreNotUtf8Convert();
    void namesInLists_data();
    void namesInLists();
    void sharesDealEachFileOnce_data();
    void sharesDealEachFileOnce();
    void failuresAreRememberedPerVersion_data();
    void failuresAreRememberedPerVersion();
    void reRunsSkipWhatFailedBefore();
    void exitStatusOfFailures_data();
    void exitStatusOfFailures();
    void reRunsSkipWhatIsDone();
    void runsAtOnceConvertEachFileOnce();
    void fileListsKeepEveryByte_data();
    void fileListsKeepEveryByte();
    void dryRunConvertsNothing();
    void watchTakesMediaOnly_data();
    void watchTakesMediaOnly();
    void dryRunTellsWhatTheRunDoes_data();
    void dryRunTellsWhatTheRunDoes();
    void worksWithoutAUsableHome_data();
    void worksWithoutAUsableHome();
    void watchConvertsEachFileOnce();
    void watchStopsCleanlyMidFile();
    void watchConvertsAFileReplacedMeanwhile();
    void watchRefusesNestedFolders_data();
    void watchRefusesNestedFolders();

private:
    struct Run
    {
        int exitCode = -1;
        QString out;
        QString err;
    };
    Run convert(const QStringList &arguments,
                const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    // A shell command line run in the test's folder, with the program as "$0".
    Run shell(const QString &command);
    // Waits for a started program and keeps what it printed.
    static Run finished(QProcess &process);
    // `vidmorph --watch …` started, its standard output gathered into `out`.
    std::unique_ptr<QProcess> startWatch(const QStringList &arguments, QString &out);
    static int events(const QString &out, const QString &file, const QString &state);
    QStringList logs() const;
    QStringList outputFiles() const;
    QStringList leftoverRunFolders() const;
    // Whether JSON progress shows the first file's run of that stage at work.
    static bool underWay(const QString &out, int stage);

    QTemporaryDir m_media;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_clip;
    QString m_wide;
    QString m_broken;
    QString m_long; // long enough to be stopped in the middle
};

static const QString executable = QStringLiteral(VIDMORPH_APP_DIR "/vidmorph");

void TestHeadless::initTestCase()
{
    // No platform plugin at all, for every run: a QApplication would abort at once.
    qputenv("QT_QPA_PLATFORM", "none");
    m_clip = m_media.filePath(QStringLiteral("clip one.mp4"));
    m_wide = m_media.filePath(QStringLiteral("宽 clip.mp4"));
    QCOMPARE(TestMedia::make(m_clip, QSize(160, 120), 1.0, 2), QString());
    QCOMPARE(TestMedia::make(m_wide, QSize(320, 176), 2.0, 1), QString());
    m_long = m_media.filePath(QStringLiteral("long.mkv"));
    QCOMPARE(TestMedia::make(m_long, QSize(640, 360), 30.0, 2), QString());
    m_broken = m_media.filePath(QStringLiteral("notes.avi"));
    QFile text(m_broken);
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("Not a video, only a few words in a text file.\n");
}

void TestHeadless::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    // A settings folder with a setup.ini of its own, which no headless run may change.
    const QString settings = m_dir->filePath(QStringLiteral("settings"));
    QVERIFY(QDir().mkpath(settings));
    QFile setup(settings + QStringLiteral("/setup.ini"));
    QVERIFY(setup.open(QIODevice::WriteOnly));
    setup.write("\"7\"\r\n\"1\"\r\n\"1\"\r\n\"/nowhere/\"\r\n\"2\"\r\n");
    setup.close();
    qputenv("VIDMORPH_SETTINGS_DIR", settings.toUtf8());
}

TestHeadless::Run TestHeadless::convert(const QStringList &arguments,
                                        const QProcessEnvironment &environment)
{
    QProcess process;
    process.setWorkingDirectory(m_dir->path());
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(executable, arguments);
    return finished(process);
}

TestHeadless::Run TestHeadless::finished(QProcess &process)
{
    Run run;
    if (!process.waitForFinished(300000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QStringList TestHeadless::outputFiles() const
{
    QStringList names = QDir(m_dir->filePath(QStringLiteral("out")))
                            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

QStringList TestHeadless::leftoverRunFolders() const
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                QStringLiteral("/vidmorph/tmp"))
        .entryList({QStringLiteral("run-*")}, QDir::AllEntries | QDir::Hidden);
}

bool TestHeadless::underWay(const QString &out, int stage)
{
    for (const QString &line : out.split(QLatin1Char('\n'))) {
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
        const int percent = event.value(QStringLiteral("percent")).toInt();
        if (event.value(QStringLiteral("index")).toInt() == 1 &&
            event.value(QStringLiteral("stage")).toInt() == stage &&
            event.value(QStringLiteral("state")).toString() == QStringLiteral("running") &&
            percent > 0 && percent < 100)
            return true;
    }
    return false;
}

void TestHeadless::optionsTakeFormatDefaults_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("format");
    QTest::addColumn<QStringList>("values"); // rate, audio bitrate, size, video bitrate, fps
    QTest::addColumn<int>("channels");
    QTest::addColumn<QString>("output");
    const QString keep = Formats::keepSourceSize();
    QTest::newRow("no format: RMVB")
        << QStringList() << 0 << QStringList({"44100", "320", keep, "1200", "29"}) << 2 << "output";
    QTest::newRow("mp3 by name, video lists keep RMVB's")
        << QStringList({"--format", "mp3"}) << 8
        << QStringList({"48000", "320", keep, "1200", "29"}) << 2 << "output";
    QTest::newRow("index 7 is 3GP")
        << QStringList({"-f", "7"}) << 7 << QStringList({"8000", "12.2", "320x240", "128", "29"})
        << 1 << "output";
    QTest::newRow("MP4 is the mobile format")
        << QStringList({"--format=Mp4"}) << 6
        << QStringList({"8000", "12.2", "320x240", "128", "29"}) << 1 << "output";
    QTest::newRow("MPEG4 is the HD format")
        << QStringList({"--format", "MPEG4", "--size", "keep"}) << 4
        << QStringList({"48000", "320", keep, "1200", "29"}) << 2 << "output";
    QTest::newRow("every value given")
        << QStringList({"--format", "avi", "--sample-rate", "22050", "--audio-bitrate", "128",
                        "--channels", "1", "--size", "640x360", "--video-bitrate", "800",
                        "--frame-rate", "25", "--output", "sub/dir"})
        << 3 << QStringList({"22050", "128", "640x360", "800", "25"}) << 1 << "sub/dir";
    QTest::newRow("size back to keep")
        << QStringList({"--format", "3GP", "--size", "原始大小", "-o", "/abs/out"}) << 7
        << QStringList({"8000", "12.2", keep, "128", "29"}) << 1 << "/abs/out";
    const QString keepRate = Formats::keepSourceFrameRate();
    const QString quality = Formats::qualityItem();
    QTest::newRow("h264 by name keeps size and frame rate")
        << QStringList({"--format", "h264"}) << 9
        << QStringList({"48000", "128", keep, quality, keepRate}) << 2 << "output";
    QTest::newRow("index 10 is H265")
        << QStringList({"-f", "10"}) << 10 << QStringList({"48000", "128", keep, quality, keepRate})
        << 2 << "output";
    QTest::newRow("Av1 at 25 fps")
        << QStringList({"-f", "Av1", "--frame-rate", "25"}) << 11
        << QStringList({"48000", "96", keep, quality, "25"}) << 2 << "output";
    QTest::newRow("H265 sized, frame rate KEEP")
        << QStringList({"-f", "H265", "--size", "640x360", "--frame-rate", "KEEP"}) << 10
        << QStringList({"48000", "128", "640x360", quality, keepRate}) << 2 << "output";
    QTest::newRow("AV1 frame rate 原始帧率")
        << QStringList({"-f", "11", "--frame-rate", "原始帧率", "--channels", "1"}) << 11
        << QStringList({"48000", "96", keep, quality, keepRate}) << 1 << "output";
    QTest::newRow("m4a: video lists keep RMVB's")
        << QStringList({"--format", "m4a"}) << 12
        << QStringList({"48000", "192", keep, "1200", "29"}) << 2 << "output";
    QTest::newRow("index 13 is FLAC, bitrate list as start-up left it")
        << QStringList({"-f", "13", "--sample-rate", "44100"}) << 13
        << QStringList({"44100", "320", keep, "1200", "29"}) << 2 << "output";
    QTest::newRow("Flac by name") << QStringList({"-f", "Flac"}) << 13
                                  << QStringList({"48000", "320", keep, "1200", "29"}) << 2
                                  << "output";
}

void TestHeadless::optionsTakeFormatDefaults()
{
    QFETCH(QStringList, options);
    QFETCH(int, format);
    QFETCH(QStringList, values);
    QFETCH(int, channels);
    QFETCH(QString, output);
    QTemporaryDir working;
    QFile input(working.filePath(QStringLiteral("in.avi")));
    QVERIFY(input.open(QIODevice::WriteOnly));
    input.close();
    const QStringList arguments =
        QStringList({"vidmorph", "--convert"}) + options + QStringList({"in.avi"});
    QVERIFY(HeadlessOptions::wanted(arguments));
    const HeadlessOptions parsed = HeadlessOptions::parse(arguments, working.path());
    QCOMPARE(parsed.error(), QString());
    QCOMPARE(parsed.action(), HeadlessOptions::Action::Convert);
    const ParameterSet set = parsed.parameters();
    QCOMPARE(set.format, format);
    QCOMPARE(QStringList({set.sampleRate, set.audioBitrate, set.frameSize, set.videoBitrate,
                          set.frameRate}),
             values);
    QCOMPARE(set.channelCount, channels);
    QCOMPARE(parsed.outputFolder(), QDir::cleanPath(QDir(working.path()).absoluteFilePath(output)));
    QCOMPARE(parsed.inputs(), QStringList{input.fileName()});
}

void TestHeadless::qualityLevels_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("level"); // -1: the format's own
    QTest::newRow("the format's own") << QStringList({"-f", "H264"}) << -1;
    QTest::newRow("auto") << QStringList({"-f", "H265", "--quality", "auto"}) << -1;
    QTest::newRow("a level") << QStringList({"-f", "H264", "--quality", "18"}) << 18;
    QTest::newRow("lossless") << QStringList({"-f", "H265", "--quality", "0"}) << 0;
    QTest::newRow("SVT-AV1's last") << QStringList({"-f", "AV1", "--quality", "63"}) << 63;
}

// --quality asks the encoder for a level instead of a bitrate.
void TestHeadless::qualityLevels()
{
    QFETCH(QStringList, options);
    QFETCH(int, level);
    QTemporaryDir working;
    QFile input(working.filePath(QStringLiteral("in.avi")));
    QVERIFY(input.open(QIODevice::WriteOnly));
    input.close();
    const HeadlessOptions parsed = HeadlessOptions::parse(
        QStringList({"vidmorph", "--convert"}) + options + QStringList({"in.avi"}), working.path());
    QCOMPARE(parsed.error(), QString());
    QCOMPARE(parsed.parameters().videoBitrate, Formats::qualityItem());
    QCOMPARE(parsed.parameters().quality, level);
}

void TestHeadless::optionsRefused_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown format") << QStringList({"--format", "FLV", "in.avi"}) << "FLV";
    const QString pastTheEnd = QString::number(Formats::Count);
    QTest::newRow("index past the end")
        << QStringList({"--format", pastTheEnd, "in.avi"}) << pastTheEnd;
    QStringList names;
    for (int format = 0; format < Formats::Count; ++format)
        names.append(Formats::shortName(format));
    QTest::newRow("unknown format names every index")
        << QStringList({"--format", "webm", "in.avi"})
        << names.join(' ') + " 或 (or) 0-" + QString::number(Formats::Count - 1);
    QTest::newRow("frame rate keep for MPG")
        << QStringList({"-f", "MPG", "--frame-rate", "keep", "in.avi"}) << "--frame-rate keep";
    QTest::newRow("frame rate keep for the default RMVB")
        << QStringList({"--frame-rate", "原始帧率", "in.avi"}) << "--frame-rate keep";
    QTest::newRow("frame rate keeping, misspelt")
        << QStringList({"-f", "H264", "--frame-rate", "keeps", "in.avi"}) << "--frame-rate";
    QTest::newRow("three channels") << QStringList({"--channels", "3", "in.avi"}) << "--channels";
    QTest::newRow("no channels") << QStringList({"--channels", "0", "in.avi"}) << "--channels";
    QTest::newRow("half a size") << QStringList({"--size", "640x", "in.avi"}) << "--size";
    QTest::newRow("word for a rate")
        << QStringList({"--sample-rate", "fast", "in.avi"}) << "--sample-rate";
    QTest::newRow("zero bitrate") << QStringList({"--audio-bitrate", "0", "in.avi"})
                                  << "--audio-bitrate";
    QTest::newRow("negative video bitrate")
        << QStringList({"--video-bitrate=-5", "in.avi"}) << "--video-bitrate";
    QTest::newRow("frame rate text")
        << QStringList({"--frame-rate", "2x", "in.avi"}) << "--frame-rate";
    QTest::newRow("quality for MP3") << QStringList({"-f", "MP3", "--quality", "20", "in.avi"})
                                     << "--quality 只适用于 H264、H265、AV1";
    QTest::newRow("quality past x264's levels")
        << QStringList({"-f", "H264", "--quality", "52", "in.avi"}) << "0 到 51";
    QTest::newRow("quality past SVT-AV1's levels")
        << QStringList({"-f", "AV1", "--quality", "64", "in.avi"}) << "0 到 63";
    QTest::newRow("quality as a word")
        << QStringList({"-f", "H265", "--quality", "good", "in.avi"}) << "--quality";
    QTest::newRow("negative quality")
        << QStringList({"-f", "H265", "--quality=-1", "in.avi"}) << "--quality";
    QTest::newRow("quality beside a bitrate")
        << QStringList({"-f", "H264", "--video-bitrate", "900", "--quality", "20", "in.avi"})
        << "--video-bitrate";
    QTest::newRow("format twice") << QStringList({"-f", "MP3", "--format", "AVI", "in.avi"})
                                  << "twice";
    QTest::newRow("no inputs") << QStringList({"--format", "MP3"}) << "no input";
    QTest::newRow("unknown option") << QStringList({"--bogus", "in.avi"}) << "bogus";
    QTest::newRow("missing input") << QStringList({"gone.avi"}) << "gone.avi";
    QTest::newRow("no jobs") << QStringList({"-j", "0", "in.avi"}) << "--jobs";
    QTest::newRow("jobs as a word") << QStringList({"--jobs", "many", "in.avi"}) << "--jobs";
    QTest::newRow("absurd jobs") << QStringList({"--jobs", "100000", "in.avi"}) << "--jobs";
    QTest::newRow("jobs past any whole number")
        << QStringList({"--jobs", "99999999999", "in.avi"}) << "--jobs";
    QTest::newRow("unknown progress form")
        << QStringList({"--progress", "xml", "in.avi"}) << "--progress";
    QTest::newRow("unknown naming") << QStringList({"--name", "short", "in.avi"}) << "--name";
    QTest::newRow("NUL names without a list") << QStringList({"-0", "in.avi"}) << "--files-from";
    QTest::newRow("no such list") << QStringList({"--files-from", "gone.txt"}) << "gone.txt";
    QTest::newRow("a tree root that is no folder")
        << QStringList({"--keep-tree", "in.avi", "in.avi"}) << "--keep-tree";
    QTest::newRow("an input outside the tree")
        << QStringList({"--keep-tree", "sub", "in.avi"}) << "in.avi";
    QTest::newRow("watching a file") << QStringList({"--watch", "in.avi"}) << "--watch";
    QTest::newRow("watching no name") << QStringList({"--watch", ""}) << "--watch";
    QTest::newRow("a watch takes no files")
        << QStringList({"--watch", "sub", "in.avi"}) << "--watch";
    QTest::newRow("a watch into itself")
        << QStringList({"--watch", "sub", "-o", "sub"}) << "--output";
    QTest::newRow("a dry watch") << QStringList({"--watch", "sub", "--dry-run"}) << "--dry-run";
    QTest::newRow("settling for no time")
        << QStringList({"--watch", "sub", "--settle", "0"}) << "--settle";
    QTest::newRow("settle without a watch")
        << QStringList({"--settle", "5", "in.avi"}) << "--settle";
    QTest::newRow("empty log name") << QStringList({"--log=", "in.avi"}) << "--log";
    QTest::newRow("include without a watch")
        << QStringList({"--include", "*.mp4", "in.avi"}) << "--include 只用于 --watch";
    QTest::newRow("unknown short option in a cluster")
        << QStringList({"-qx", "in.avi"}) << "未知选项 (unknown option): -x";
    QTest::newRow("a value for a switch") << QStringList({"--quiet=yes", "in.avi"})
                                          << "选项 --quiet 不取值 (option --quiet takes no "
                                             "value): \"yes\"";
    QTest::newRow("a value missing at the end")
        << QStringList({"in.avi", "-j"}) << "选项 -j 缺少值 (option -j needs a value)";
    QTest::newRow("share zero") << QStringList({"--shard", "0/3", "in.avi"}) << "--shard";
    QTest::newRow("share past the count") << QStringList({"--shard", "4/3", "in.avi"}) << "--shard";
    QTest::newRow("share without a count") << QStringList({"--shard", "3", "in.avi"}) << "--shard";
    QTest::newRow("retrying without skipping")
        << QStringList({"--retry-failed", "in.avi"}) << "--skip-existing";
    QTest::newRow("a shared watch")
        << QStringList({"--watch", "sub", "--shard", "1/2"}) << "--watch";
}

void TestHeadless::shellHabits_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("input");
    QTest::newRow("spaced") << QStringList({"-j", "4", "-f", "MP3", "-o", "out", "in.avi"})
                            << "in.avi";
    QTest::newRow("attached short values")
        << QStringList({"-j4", "-fMP3", "-oout", "in.avi"}) << "in.avi";
    QTest::newRow("switches and a value in one word")
        << QStringList({"-qj4", "-fMP3", "--output=out", "in.avi"}) << "in.avi";
    QTest::newRow("long options with =")
        << QStringList({"in.avi", "--jobs=4", "--format=MP3", "-q", "--output=out"}) << "in.avi";
    QTest::newRow("single-dash long names")
        << QStringList({"-jobs=4", "-format", "MP3", "-output", "out", "in.avi"}) << "in.avi";
    QTest::newRow("a dashed name after --")
        << QStringList({"-j4", "-fMP3", "-oout", "--", "-in.avi"}) << "-in.avi";
}

// Each spelling reads as the same run.
void TestHeadless::shellHabits()
{
    QFETCH(QStringList, options);
    QFETCH(QString, input);
    QTemporaryDir working;
    for (const char *name : {"in.avi", "-in.avi"}) {
        QFile input(working.filePath(QLatin1String(name)));
        QVERIFY(input.open(QIODevice::WriteOnly));
    }
    const HeadlessOptions parsed =
        HeadlessOptions::parse(QStringList({"vidmorph", "--convert"}) + options, working.path());
    QCOMPARE(parsed.error(), QString());
    QCOMPARE(parsed.jobs(), 4);
    QCOMPARE(parsed.parameters().format, int(Formats::MP3));
    QCOMPARE(parsed.outputFolder(), working.filePath(QStringLiteral("out")));
    QCOMPARE(parsed.inputs(), QStringList{working.filePath(input)});
}

void TestHeadless::runOptions()
{
    QTemporaryDir working;
    QFile input(working.filePath(QStringLiteral("in.avi")));
    QVERIFY(input.open(QIODevice::WriteOnly));
    input.close();
    const auto parse = [&](const QStringList &options) {
        return HeadlessOptions::parse(QStringList({"vidmorph", "--convert"}) + options +
                                          QStringList{"in.avi"},
                                      working.path());
    };
    QVERIFY(QDir(working.path()).mkdir(QStringLiteral("sub")));
    const HeadlessOptions plain = parse({});
    QCOMPARE(plain.jobs(), QThread::idealThreadCount());
    QCOMPARE(plain.progress(), HeadlessOptions::Progress::Text);
    QVERIFY(!plain.quiet());
    const HeadlessOptions given = parse({"-j", "3", "--progress", "json", "--quiet"});
    QCOMPARE(given.error(), QString());
    QCOMPARE(given.jobs(), 3);
    QCOMPARE(given.progress(), HeadlessOptions::Progress::Json);
    QVERIFY(given.quiet());
    QCOMPARE(parse({"--jobs=1", "-q"}).jobs(), 1);
    QCOMPARE(plain.names(), OutputNaming::Names::Timed);
    QVERIFY(!plain.skipExisting() && !plain.dryRun() && !plain.nulSeparated());
    QCOMPARE(plain.treeRoots(), QStringList());
    QCOMPARE(plain.logFile(), QString());
    const HeadlessOptions scripted =
        parse({"--name", "plain", "--skip-existing", "--dry-run", "--log", "job.log",
               "--files-from", "-", "-0", "--keep-tree", "."});
    QCOMPARE(scripted.error(), QString());
    QCOMPARE(scripted.names(), OutputNaming::Names::Plain);
    QVERIFY(scripted.skipExisting() && scripted.dryRun() && scripted.nulSeparated());
    QCOMPARE(scripted.filesFrom(), QStringLiteral("-"));
    QCOMPARE(scripted.logFile(), working.filePath(QStringLiteral("job.log")));
    QCOMPARE(scripted.treeRoots(), QStringList{QDir::cleanPath(working.path())});
    QVERIFY(plain.shard().isWhole());
    const Shard shard = parse({"--shard", "2/5"}).shard();
    QCOMPARE(qMakePair(shard.index(), shard.count()), qMakePair(2, 5));
    // Alone, --keep-tree roots the folder every input shares; a folder alone is its own.
    const HeadlessOptions rooted = HeadlessOptions::parse(
        {"vidmorph", "--convert", "--keep-tree", "sub", "in.avi", "--files-from=-", "--keep-tree"},
        working.path());
    QCOMPARE(rooted.error(), QStringLiteral("选项 --keep-tree 只能给一次 (option --keep-tree "
                                            "given twice)"));
    const HeadlessOptions each = HeadlessOptions::parse(
        {"vidmorph", "--convert", "--keep-tree", "--files-from=-", "sub", "in.avi"},
        working.path());
    QCOMPARE(each.error(), QString());
    QCOMPARE(each.treeRoots(), QStringList{QDir::cleanPath(working.path())});
    HeadlessOptions folder = HeadlessOptions::parse(
        {"vidmorph", "--convert", "--keep-tree", "--", "sub"}, working.path());
    QCOMPARE(folder.treeRoots(), QStringList{working.filePath(QStringLiteral("sub"))});
    folder.addListed({working.filePath(QStringLiteral("sub/deep/x.avi")), "/elsewhere/y.avi"});
    QCOMPARE(folder.treeRoots(), QStringList{QStringLiteral("/")});
    const HeadlessOptions watch = HeadlessOptions::parse(
        {"vidmorph", "--watch", "sub", "-f", "MP3", "--keep-tree", "--settle", "2"},
        working.path());
    QCOMPARE(watch.error(), QString());
    QCOMPARE(watch.action(), HeadlessOptions::Action::Watch);
    QCOMPARE(watch.watchFolder(), working.filePath(QStringLiteral("sub")));
    QCOMPARE(watch.treeRoots(), QStringList{working.filePath(QStringLiteral("sub"))});
    QCOMPARE(watch.settleSeconds(), 2);
    QVERIFY(HeadlessOptions::wanted({"vidmorph", "--watch", "sub"}));
    QVERIFY(HeadlessOptions::wanted({"vidmorph", "--version"}));
    const Run version = convert({QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 0);
    QVERIFY2(version.out.contains(
                 QRegularExpression(QStringLiteral("^vidmorph [0-9]+\\.[0-9]+\\.[0-9]+\n$"))),
             qPrintable(version.out));
}

void TestHeadless::optionsRefused()
{
    QFETCH(QStringList, options);
    QFETCH(QString, message);
    QTemporaryDir working;
    QFile input(working.filePath(QStringLiteral("in.avi")));
    QVERIFY(input.open(QIODevice::WriteOnly));
    input.close();
    QVERIFY(QDir(working.path()).mkdir(QStringLiteral("sub")));
    const HeadlessOptions parsed =
        HeadlessOptions::parse(QStringList({"vidmorph", "--convert"}) + options, working.path());
    QCOMPARE(parsed.action(), HeadlessOptions::Action::Error);
    QVERIFY2(parsed.error().contains(message), qPrintable(parsed.error()));
}

void TestHeadless::helpNeedsNoDisplay()
{
    const Run run = convert({QStringLiteral("--help")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains(QStringLiteral("--convert")), qPrintable(run.out));
    QVERIFY(run.out.contains(QStringLiteral("--frame-rate")));
    QVERIFY(!HeadlessOptions::wanted({"vidmorph", "--", "--convert"}));
    QVERIFY(!HeadlessOptions::wanted({"vidmorph", "clip.avi"}));
}

void TestHeadless::badArgumentsExitTwo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown format") << QStringList({"--convert", "--format", "WEBM", m_clip})
                                    << "未知格式 (unknown format) \"WEBM\"";
    QTest::newRow("three channels")
        << QStringList({"--convert", "--format", "MP3", "--channels", "3", m_clip})
        << "--channels 只能是 1 或 2 (must be 1 or 2): \"3\"";
    QTest::newRow("no inputs") << QStringList({"--convert", "--format", "MP3"})
                               << "没有输入文件 (no input files or folders given)";
    QTest::newRow("unknown option")
        << QStringList({"--convert", "--speed", "9", m_clip})
        << "参数错误 (bad argument): 未知选项 (unknown option): --speed";
    QTest::newRow("a size no tool takes")
        << QStringList({"--convert", "-f", "MOV", "--size", "99999x99999", m_clip})
        << "视频尺寸“99999x99999”无法使用";
}

void TestHeadless::badArgumentsExitTwo()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const Run run = convert(arguments + QStringList({"--output", "out"}));
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(run.err.contains(QStringLiteral("vidmorph --help")));
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("out"))));
}

void TestHeadless::brokenFileAmongGoodOnes_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("audioCodec");
    QTest::addColumn<bool>("video");
    QTest::newRow("MP3") << "MP3"
                         << ".mp3"
                         << "mp3" << false;
    QTest::newRow("3GP") << "3gp"
                         << ".3gp"
                         << "amr_nb" << true;
}

void TestHeadless::brokenFileAmongGoodOnes()
{
    QFETCH(QString, format);
    QFETCH(QString, extension);
    QFETCH(QString, audioCodec);
    QFETCH(bool, video);
    // One input is a folder, searched like the window's Add folder.
    const QString folder = m_dir->filePath(QStringLiteral("inputs/nested"));
    QVERIFY(QDir().mkpath(folder));
    const QString copied = folder + QStringLiteral("/宽 clip.mp4");
    QVERIFY(QFile::copy(m_wide, copied));
    const QByteArray setupBefore = [&] {
        QFile f(m_dir->filePath(QStringLiteral("settings/setup.ini")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();

    const Run run = convert({"--convert", "--format", format, "--output", "out", m_clip, m_broken,
                             m_dir->filePath(QStringLiteral("inputs"))});
    QCOMPARE(run.exitCode, 1);
    // Into a pipe: one line per event, nothing rewritten in place.
    QVERIFY2(run.out.contains(QStringLiteral("[1/3] clip one.mp4  开始 (started)\n")),
             qPrintable(run.out));
    QVERIFY(run.out.contains(QRegularExpression(
        QStringLiteral("\\[1/3\\] clip one.mp4  完成 \\(done\\): .*/out/clip one-[0-9]+\\") +
        extension + QStringLiteral("\n"))));
    QVERIFY(run.out.contains(QStringLiteral("[2/3] notes.avi  失败 (failed): 无法读取输入文件")));
    QVERIFY(run.out.contains(QStringLiteral("[3/3] 宽 clip.mp4  完成 (done): ")));
    QVERIFY(!run.out.contains(QLatin1Char('\r')));
    QVERIFY(!run.out.contains(QLatin1Char('\x1b')));
    QVERIFY(run.out.contains(QStringLiteral("成功 (converted): 2   失败 (failed): 1\n")));
    QVERIFY(run.out.contains(QStringLiteral("失败 (failed): ") + m_broken +
                             QStringLiteral("\n    原因 (reason): 无法读取输入文件")));
    const QRegularExpressionMatch log =
        QRegularExpression(QStringLiteral("详细记录 \\(log\\): (.+)\n")).match(run.out);
    QVERIFY(log.hasMatch());
    QVERIFY(QFile::exists(log.captured(1)));

    const QStringList names = outputFiles();
    QCOMPARE(names.size(), 2);
    for (const QString &name : names) {
        QVERIFY2(name.endsWith(extension), qPrintable(name));
        const QString path = m_dir->filePath(QStringLiteral("out/") + name);
        const TestMedia::Info info = TestMedia::probe(path);
        QVERIFY(info.readable);
        QCOMPARE(info.audioCodec, audioCodec);
        QCOMPARE(info.videoCodec.isEmpty(), !video);
        const double expected = name.startsWith(QStringLiteral("clip one-")) ? 1.0 : 2.0;
        QVERIFY2(qAbs(info.duration - expected) < 0.3, qPrintable(name));
        QCOMPARE(TestMedia::decodeErrors(path), QString());
    }
    // Settings stay as they were; the run's scratch folder is gone.
    QFile setup(m_dir->filePath(QStringLiteral("settings/setup.ini")));
    QVERIFY(setup.open(QIODevice::ReadOnly));
    QCOMPARE(setup.readAll(), setupBefore);
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("settings/options.ini"))));
    QCOMPARE(leftoverRunFolders(), QStringList());
}

void TestHeadless::missingToolEndsTheRun()
{
    // A copy of the program whose data folder lacks coder: stage one runs, stage two cannot.
    const QString app = m_dir->filePath(QStringLiteral("app"));
    QVERIFY(QDir().mkpath(app + QStringLiteral("/data")));
    QVERIFY(QFile::copy(executable, app + QStringLiteral("/vidmorph")));
    QVERIFY(QFile::link(QStringLiteral(VIDMORPH_APP_DIR "/data/conv"), app + "/data/conv"));
    QProcess process;
    process.setWorkingDirectory(m_dir->path());
    process.start(app + QStringLiteral("/vidmorph"),
                  {"--convert", "--format", "RMVB", "-o", "out", m_clip, m_wide});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("File or command not found")), qPrintable(err));
    QVERIFY(err.contains(QStringLiteral("无法启动转换工具 coder")));
    QVERIFY2(out.contains(QStringLiteral("成功 (converted): 0   失败 (failed): 0   未转换 (not "
                                         "converted): 2")),
             qPrintable(out));
    QCOMPARE(outputFiles(), QStringList());
    QCOMPARE(leftoverRunFolders(), QStringList());
}

void TestHeadless::signalStopsTheBatch_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("stage"); // of the run under way when the signal comes
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT in conv") << "MPG" << 1 << int(SIGINT);
    QTest::newRow("SIGTERM in coder2") << "3GP" << 2 << int(SIGTERM);
    QTest::newRow("SIGUSR1 in coder") << "MP3" << 1 << int(SIGUSR1);
}

void TestHeadless::signalStopsTheBatch()
{
    QFETCH(QString, format);
    QFETCH(int, stage);
    QFETCH(int, signalNumber);
    const QString &longer = m_long;

    QProcess process;
    process.setWorkingDirectory(m_dir->path());
    process.start(executable, {"--convert", "--format", format, "-j", "1", "--progress", "json",
                               "-o", "out", longer, m_clip});
    QVERIFY(process.waitForStarted());
    QString out;
    connect(&process, &QProcess::readyReadStandardOutput, this,
            [&] { out += QString::fromUtf8(process.readAllStandardOutput()); });
    // The first file's run of that stage is surely at work once it has reported progress.
    QTRY_VERIFY2_WITH_TIMEOUT(underWay(out, stage), qPrintable(out), 120000);
    const QByteArray runFolder = "/run-" + QByteArray::number(process.processId()) + "-";
    ::kill(pid_t(process.processId()), signalNumber);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 128 + signalNumber);
    out += QString::fromUtf8(process.readAllStandardOutput());
    QVERIFY2(out.contains(QStringLiteral("\"not_converted\":2")), qPrintable(out));
    QVERIFY(out.contains(QStringLiteral("\"state\":\"stopped\"")));
    QVERIFY(
        QString::fromUtf8(process.readAllStandardError()).contains(QStringLiteral("转换已停止")));

    // Nothing of the run is left in the process table: neither the tool, which names the
    // input, nor an ffmpeg working in the run's scratch folder.
    const QStringList survivors = processesMentioning({longer, QString::fromUtf8(runFolder)});
    QCOMPARE(survivors, QStringList());
    QCOMPARE(outputFiles(), QStringList());
    QCOMPARE(leftoverRunFolders(), QStringList());
}

void TestHeadless::twoRunsAtOnceKeepTheirOwnContent()
{
    const QString small = m_media.filePath(QStringLiteral("small.mkv"));
    const QString large = m_media.filePath(QStringLiteral("large.mkv"));
    QCOMPARE(TestMedia::make(small, QSize(176, 144), 3.0, 1), QString());
    QCOMPARE(TestMedia::make(large, QSize(480, 272), 1.5, 2), QString());
    QProcess rmvb;
    QProcess threeGp;
    for (QProcess *process : {&rmvb, &threeGp})
        process->setWorkingDirectory(m_dir->path());
    rmvb.start(executable, {"--convert", "--format", "RMVB", "-o", "rmvb", large});
    threeGp.start(executable, {"--convert", "--format", "3GP", "-o", "3gp", small});
    QVERIFY(rmvb.waitForFinished(240000));
    QVERIFY(threeGp.waitForFinished(240000));
    QCOMPARE(rmvb.exitCode(), 0);
    QCOMPARE(threeGp.exitCode(), 0);

    struct Expected
    {
        QString folder;
        QSize size;
        double duration;
    };
    // RMVB keeps its input's size; 3GP makes 320x240 of anything. Had the runs shared an
    // intermediate file, the lengths (and the RMVB's size) would have crossed over.
    for (const Expected &expected :
         {Expected{"rmvb", QSize(480, 272), 1.5}, Expected{"3gp", QSize(320, 240), 3.0}}) {
        const QDir folder(m_dir->filePath(expected.folder));
        const QStringList names = folder.entryList(QDir::Files);
        QCOMPARE(names.size(), 1);
        const QString path = folder.filePath(names.first());
        const TestMedia::Info info = TestMedia::probe(path);
        QCOMPARE(info.size, expected.size);
        QVERIFY2(qAbs(info.duration - expected.duration) < 0.3,
                 qPrintable(QString::number(info.duration)));
        QCOMPARE(TestMedia::decodeErrors(path), QString());
    }
    QCOMPARE(leftoverRunFolders(), QStringList());
}

void TestHeadless::jsonProgressForPrograms()
{
    const Run run = convert({"--convert", "-f", "RMVB", "-j", "2", "--progress", "json", "-o",
                             "out", m_clip, m_broken, m_wide});
    QCOMPARE(run.exitCode, 1);
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(lines.size() > 6);
    QMap<int, QStringList> states;
    QMap<int, int> progress; // the whole file's percent, never going back
    for (const QString &line : lines.mid(0, lines.size() - 1)) {
        QJsonParseError error;
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8(), &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(line));
        const int index = event.value(QStringLiteral("index")).toInt();
        QVERIFY(index >= 1 && index <= 3);
        QCOMPARE(event.value(QStringLiteral("count")).toInt(), 3);
        QCOMPARE(event.value(QStringLiteral("file")).toString(),
                 (QStringList{m_clip, m_broken, m_wide}).at(index - 1));
        const QString state = event.value(QStringLiteral("state")).toString();
        states[index].append(state);
        if (state == QStringLiteral("running")) {
            // Both stages in one percentage: the second goes on from the first's half.
            const int now = event.value(QStringLiteral("percent")).toInt();
            QVERIFY2(now >= progress.value(index), qPrintable(line));
            if (event.value(QStringLiteral("stage")).toInt() == 2)
                QVERIFY2(now >= 50, qPrintable(line));
            progress[index] = now;
        } else if (state == QStringLiteral("done")) {
            QVERIFY(QFile::exists(event.value(QStringLiteral("output")).toString()));
        } else if (state == QStringLiteral("failed")) {
            QVERIFY(event.value(QStringLiteral("reason"))
                        .toString()
                        .startsWith(QStringLiteral("无法读取输入文件")));
            QCOMPARE(event.value(QStringLiteral("reason_code")).toString(),
                     QStringLiteral("unreadable"));
        }
    }
    for (int index : {1, 3}) {
        QCOMPARE(states[index].first(), QStringLiteral("started"));
        QCOMPARE(states[index].last(), QStringLiteral("done"));
        QVERIFY(states[index].contains(QStringLiteral("running")));
    }
    QCOMPARE(states[2].first(), QStringLiteral("started"));
    QCOMPARE(states[2].last(), QStringLiteral("failed"));
    const QJsonObject summary = QJsonDocument::fromJson(lines.last().toUtf8()).object();
    QCOMPARE(summary.value(QStringLiteral("state")).toString(), QStringLiteral("summary"));
    QCOMPARE(summary.value(QStringLiteral("converted")).toInt(), 2);
    QCOMPARE(summary.value(QStringLiteral("failed")).toArray().size(), 1);
    QVERIFY(QFile::exists(summary.value(QStringLiteral("log")).toString()));
}

void TestHeadless::quietSaysOnlyWhatFailed_data()
{
    QTest::addColumn<QString>("progress");
    QTest::addColumn<bool>("broken"); // a file that fails among the good ones
    QTest::newRow("text, all converted") << "text" << false;
    QTest::newRow("text, one failed") << "text" << true;
    QTest::newRow("json, all converted") << "json" << false;
    QTest::newRow("json, one failed") << "json" << true;
}

void TestHeadless::quietSaysOnlyWhatFailed()
{
    QFETCH(QString, progress);
    QFETCH(bool, broken);
    QStringList arguments = {"--convert", "-f", "MP3", "-q",  "--progress",
                             progress,    "-o", "out", m_clip};
    if (broken)
        arguments.append(m_broken);
    const Run run = convert(arguments);
    QCOMPARE(run.exitCode, broken ? 1 : 0);
    QCOMPARE(run.err, QString());
    QCOMPARE(outputFiles().size(), 1);
    if (!broken) {
        QCOMPARE(run.out, QString()); // cron mails nothing
        return;
    }
    // One line, the failure's, with its code.
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    if (progress == QStringLiteral("text")) {
        QVERIFY2(lines.first().startsWith(QStringLiteral("[2/2] notes.avi  失败 (failed): ")),
                 qPrintable(run.out));
        QVERIFY(lines.first().endsWith(QStringLiteral(" [unreadable]")));
    } else {
        const QJsonObject failed = QJsonDocument::fromJson(lines.first().toUtf8()).object();
        QCOMPARE(failed.value(QStringLiteral("state")).toString(), QStringLiteral("failed"));
        QCOMPARE(failed.value(QStringLiteral("reason_code")).toString(),
                 QStringLiteral("unreadable"));
    }
}

void TestHeadless::terminalLinesAreUpdatedInPlace_data()
{
    QTest::addColumn<QString>("jobs");
    QTest::newRow("one file at a time") << "1";
    QTest::newRow("two at once") << "2";
}

void TestHeadless::terminalLinesAreUpdatedInPlace()
{
    QFETCH(QString, jobs);
    const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
    if (script.isEmpty())
        QSKIP("script (bsdutils) is not installed: no terminal to run in");
    // script gives the run a terminal of its own and copies what it shows.
    const QString command = QStringLiteral("'%1' --convert -f MP3 -j %2 -o out '%3' '%4' '%5'")
                                .arg(executable, jobs, m_clip, m_broken, m_wide);
    QProcess process;
    process.setWorkingDirectory(m_dir->path());
    process.start(script, {"-qec", command, "/dev/null"});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 1);
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    QVERIFY2(out.contains(QStringLiteral("[1/3] clip one.mp4  完成 (done)")), qPrintable(out));
    QVERIFY(out.contains(QStringLiteral("[2/3] notes.avi  失败 (failed): 无法读取输入文件")));
    QVERIFY(out.contains(QStringLiteral("成功 (converted): 2   失败 (failed): 1")));
    // Percentages are rewritten where they stand instead of filling the screen.
    QVERIFY(out.contains(QRegularExpression(QStringLiteral("clip one.mp4 +[0-9]+%"))));
    if (jobs == QStringLiteral("1")) {
        QVERIFY(out.contains(QStringLiteral("\r[1/3] clip one.mp4")));
    } else {
        QVERIFY(out.contains(QStringLiteral("\x1b[2K[1/3] clip one.mp4")));
        QVERIFY(out.contains(QStringLiteral("共 (total)")));
    }
}

void TestHeadless::controlCharactersInNamesAreShownEscaped()
{
    // A name that would retitle the terminal and clear its screen if printed as it is.
    const QString hostile = m_dir->filePath(QStringLiteral("evil\x1b]0;owned\x07\x1b[2J\x9b.mp4"));
    QVERIFY(QFile::copy(m_clip, hostile));
    const Run run = convert({"--convert", "-f", "MP3", "-o", "out", hostile});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains(QStringLiteral("evil\\x1b]0;owned\\x07\\x1b[2J\\x9b.mp4")),
             qPrintable(run.out));
    for (const QChar c : run.out)
        QVERIFY2(c == QLatin1Char('\n') || (c.unicode() >= 0x20 && c.unicode() != 0x7f &&
                                            (c.unicode() < 0x80 || c.unicode() > 0x9f)),
                 qPrintable(QString::number(c.unicode(), 16)));
    const Run json =
        convert({"--convert", "-f", "MP3", "--progress", "json", "-o", "out", hostile});
    QCOMPARE(json.exitCode, 0);
    QVERIFY(!json.out.contains(QLatin1Char('\x1b')));
    const QJsonObject first =
        QJsonDocument::fromJson(json.out.section(QLatin1Char('\n'), 0, 0).toUtf8()).object();
    QCOMPARE(first.value(QStringLiteral("file")).toString(), hostile);
}

void TestHeadless::closedOutputStopsTheBatchCleanly()
{
    const QString &longer = m_long;
    // The reader takes the first 20 bytes and goes away while the first file converts.
    QProcess shell;
    shell.setWorkingDirectory(m_dir->path());
    shell.start(QStringLiteral("bash"),
                {"-c", QStringLiteral("'%1' --convert -f RMVB -o out '%2' '%3' | head -c 20; "
                                      "echo \" status=${PIPESTATUS[0]}\"")
                           .arg(executable, longer, m_clip)});
    QVERIFY(shell.waitForFinished(60000));
    const QString out = QString::fromUtf8(shell.readAllStandardOutput());
    QVERIFY2(out.endsWith(QStringLiteral(" status=141\n")), qPrintable(out));
    QTRY_VERIFY2_WITH_TIMEOUT(processesMentioning({longer, m_dir->path()}).isEmpty(),
                              qPrintable(processesMentioning({longer}).join('\n')), 3000);
    QCOMPARE(outputFiles(), QStringList());
    QCOMPARE(leftoverRunFolders(), QStringList());
}

void TestHeadless::eightRunsAtOnceEachGetAnOutput()
{
    // Eight folders, each with an IMG_0001.mp4 of its own length, all into one output folder
    // at the same moment: every run must end with a file of its own.
    QList<QProcess *> runs;
    QSet<int> lengths;
    for (int i = 1; i <= 8; ++i) {
        const QString folder = m_dir->filePath(QStringLiteral("camera%1").arg(i));
        QDir().mkpath(folder);
        const double seconds = 0.5 + 0.25 * i;
        QCOMPARE(
            TestMedia::make(folder + QStringLiteral("/IMG_0001.mp4"), QSize(96, 64), seconds, 1),
            QString());
        lengths.insert(qRound(seconds * 100));
    }
    for (int i = 1; i <= 8; ++i) {
        auto *run = new QProcess(this);
        run->setWorkingDirectory(m_dir->path());
        run->start(executable, {"--convert", "-f", "MP3", "-q", "-o", "out",
                                QStringLiteral("camera%1/IMG_0001.mp4").arg(i)});
        runs.append(run);
    }
    for (QProcess *run : std::as_const(runs)) {
        QVERIFY(run->waitForFinished(120000));
        QCOMPARE(run->exitCode(), 0);
    }
    qDeleteAll(runs);
    const QStringList names = outputFiles();
    QCOMPARE(names.size(), 8);
    QSet<int> found;
    for (const QString &name : names) {
        QVERIFY2(name.startsWith(QStringLiteral("IMG_0001-")) && name.endsWith(".mp3"),
                 qPrintable(name));
        const QString path = m_dir->filePath(QStringLiteral("out/") + name);
        QCOMPARE(TestMedia::decodeErrors(path), QString());
        found.insert(qRound(TestMedia::probe(path).duration * 4) * 25);
    }
    // Each input is in there once: no output was written over by another run's.
    QCOMPARE(found, lengths);
}

void TestHeadless::failingTwinLeavesTheOtherOutput()
{
    // A good and a broken file of one name, converted at once, three times over: the broken
    // one's clean-up must never take the good one's output with it.
    const QString good = m_dir->filePath(QStringLiteral("good/clip.avi"));
    const QString bad = m_dir->filePath(QStringLiteral("bad/clip.avi"));
    QDir().mkpath(QFileInfo(good).absolutePath());
    QDir().mkpath(QFileInfo(bad).absolutePath());
    QVERIFY(QFile::copy(m_clip, good));
    QVERIFY(QFile::copy(m_broken, bad));
    for (int round = 0; round < 3; ++round) {
        QProcess first, second;
        for (QProcess *run : {&first, &second})
            run->setWorkingDirectory(m_dir->path());
        first.start(executable, {"--convert", "-f", "MPG", "-q", "-o", "out", good});
        second.start(executable, {"--convert", "-f", "MPG", "-q", "-o", "out", bad});
        QVERIFY(first.waitForFinished(60000));
        QVERIFY(second.waitForFinished(60000));
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(second.exitCode(), 1);
    }
    const QStringList names = outputFiles();
    QCOMPARE(names.size(), 3);
    for (const QString &name : names)
        QCOMPARE(TestMedia::decodeErrors(m_dir->filePath(QStringLiteral("out/") + name)),
                 QString());
}

void TestHeadless::killedRunIsClearedByTheNext()
{
    const QString &longer = m_long;
    // Killed outright while coder writes its MP3: the run cannot tidy up after itself.
    QProcess process;
    process.setWorkingDirectory(m_dir->path());
    const QStringList again = {"--convert",       "-f", "MP3", "--name", "plain",
                               "--skip-existing", "-o", "out", longer};
    process.start(executable, again + QStringList({"--progress", "json"}));
    QVERIFY(process.waitForStarted());
    QString out;
    QTRY_VERIFY_WITH_TIMEOUT(underWay(out += QString::fromUtf8(process.readAllStandardOutput()), 1),
                             60000);
    const qint64 pid = process.processId();
    ::kill(pid_t(pid), SIGKILL);
    QVERIFY(process.waitForFinished(10000));
    // Its tool and the tool's ffmpeg go with it.
    QTRY_VERIFY2_WITH_TIMEOUT(processesMentioning({longer}).isEmpty(),
                              qPrintable(processesMentioning({longer}).join('\n')), 3000);
    const QString runFolderPrefix = QStringLiteral("run-%1-").arg(pid);
    QVERIFY(leftoverRunFolders().join(' ').contains(runFolderPrefix));
    // The name it had taken is still there, empty.
    QCOMPARE(outputFiles().size(), 1);
    QCOMPARE(QFileInfo(m_dir->filePath(QStringLiteral("out/") + outputFiles().first())).size(), 0);

    // That name is no output: the next run gives it back and converts the file again under
    // it, as its dry run says first.
    const QString output = m_dir->filePath(QStringLiteral("out/long.mp3"));
    const Run dry = convert(again + QStringList{"--dry-run"});
    QVERIFY2(dry.out.contains(QStringLiteral("将写入 (would write): ") + output),
             qPrintable(dry.out));
    const Run next = convert(again);
    QCOMPARE(next.exitCode, 0);
    QCOMPARE(leftoverRunFolders(), QStringList());
    QCOMPARE(outputFiles(), QStringList{QStringLiteral("long.mp3")});
    QVERIFY(QFileInfo(output).size() > 0);
}

void TestHeadless::killedWhileStoppingLeavesNoEmptyOutput()
{
    // As GNU parallel's wrapper on another host does: SIGTERM, and SIGKILL soon after, while
    // the tool still winds down (here a coder that takes its time over SIGTERM).
    const QString app = m_dir->filePath(QStringLiteral("app"));
    QVERIFY(QDir().mkpath(app + QStringLiteral("/data")));
    QVERIFY(QFile::copy(executable, app + QStringLiteral("/vidmorph")));
    QFile coder(app + QStringLiteral("/data/coder"));
    QVERIFY(coder.open(QIODevice::WriteOnly));
    coder.write("#!/bin/sh\ntrap 'sleep 2; exit 1' TERM\nwhile :; do sleep 0.1; done\n");
    coder.close();
    QVERIFY(coder.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QProcess process;
    process.setWorkingDirectory(m_dir->path());
    process.start(app + QStringLiteral("/vidmorph"),
                  {"--convert", "-f", "MP3", "-o", "out", m_clip});
    QVERIFY(process.waitForStarted());
    const qint64 pid = process.processId();
    // The name it has taken, empty until the tool's output would replace it.
    QTRY_COMPARE_WITH_TIMEOUT(outputFiles().size(), 1, 60000);
    ::kill(pid_t(pid), SIGTERM);
    QString err;
    QTRY_VERIFY_WITH_TIMEOUT(
        (err += QString::fromUtf8(process.readAllStandardError())).contains("正在停止"), 30000);
    if (process.state() != QProcess::NotRunning)
        ::kill(pid_t(pid), SIGKILL);
    QVERIFY(process.waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(processesMentioning({app}).isEmpty(), 10000);
    QCOMPARE(outputFiles(), QStringList());
}

void TestHeadless::fileCutShortConvertsWithAWarning()
{
    const QString cut = m_dir->filePath(QStringLiteral("download.mp4"));
    QCOMPARE(TestMedia::makeCutShort(cut, QSize(96, 64), 5.0, 0.4), QString());
    // Through a one-stage and a two-stage format: the warning comes from either run.
    for (const char *format : {"MP3", "RMVB"}) {
        const Run run = convert({"--convert", "-f", format, "-o", "out", m_clip, cut});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains(QRegularExpression(QStringLiteral(
                     "\\[2/2\\] download.mp4  完成 \\(done\\): .*，注意 \\(warning\\): "
                     "输出只有 [0-9.]+ 秒，输入文件标明有 5.0 秒"))),
                 qPrintable(run.out));
        QVERIFY(run.out.contains(QStringLiteral("需要注意 (warnings): 1")));
        QVERIFY(!run.out.contains(QStringLiteral("[1/2] clip one.mp4  完成 (done): ") +
                                  QStringLiteral("，注意")));
    }
    const Run json = convert({"--convert", "-f", "MP3", "--progress", "json", "-o", "out", cut});
    const QJsonObject summary =
        QJsonDocument::fromJson(json.out.trimmed().section(QLatin1Char('\n'), -1).toUtf8())
            .object();
    QCOMPARE(summary.value(QStringLiteral("warnings")).toArray().size(), 1);
    QVERIFY(summary.value(QStringLiteral("warnings"))
                .toArray()
                .at(0)
                .toObject()
                .value(QStringLiteral("warning"))
                .toString()
                .contains(QStringLiteral("5.0 秒")));
}

void TestHeadless::namesThatAreNotUtf8Convert()
{
    // 视频 in GBK, named on the command line and found in a folder; and a name that is
    // neither UTF-8 nor GB18030.
    const QByteArray folder = QFile::encodeName(m_dir->filePath(QStringLiteral("unzipped")));
    QVERIFY(QDir().mkpath(QFile::decodeName(folder)));
    const QByteArray video = folder + "/\xca\xd3\xc6\xb5.mp4";
    const QByteArray odd = folder + "/odd\xff.mp4";
    // Copies, not second names: a folder's search takes only files with a single name.
    QFile clip(m_clip);
    QVERIFY(clip.open(QIODevice::ReadOnly));
    const QByteArray media = clip.readAll();
    for (const QByteArray &name : {video, odd}) {
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, media.constData(), size_t(media.size())), media.size());
        ::close(fd);
    }
    QProcess process;
    process.setWorkingDirectory(m_dir->path());
    // QProcess would encode the argument as UTF-8; a shell hands the bytes on as they are.
    process.start(
        QStringLiteral("sh"),
        {QStringLiteral("-c"),
         QStringLiteral("exec \"$0\" --convert -f MP3 -o out \"$(printf '%1')\" '%2'")
             .arg(QStringLiteral("unzipped/\\312\\323\\306\\265.mp4"), QFile::decodeName(folder)),
         executable});
    QVERIFY(process.waitForFinished(60000));
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    QCOMPARE(process.exitCode(), 0);
    QVERIFY2(out.contains(QStringLiteral("[1/3] 视频.mp4  完成 (done): ")), qPrintable(out));
    QVERIFY(out.contains(QStringLiteral("odd\ufffd.mp4  完成 (done): ")));
    const QStringList names = outputFiles();
    QCOMPARE(names.size(), 3);
    for (const QString &name : names) {
        QVERIFY(!name.contains(QChar::ReplacementCharacter) || name.startsWith("odd"));
        QCOMPARE(TestMedia::decodeErrors(m_dir->filePath(QStringLiteral("out/") + name)),
                 QString());
    }
    QCOMPARE(names.filter(QStringLiteral("视频-")).size(), 2);
    for (const QByteArray &name : {video, odd})
        ::unlink(name.constData());
}

TestHeadless::Run TestHeadless::shell(const QString &command)
{
    QProcess process;
    process.setWorkingDirectory(m_dir->path());
    process.start(QStringLiteral("bash"), {QStringLiteral("-c"), command, executable});
    return finished(process);
}

std::unique_ptr<QProcess> TestHeadless::startWatch(const QStringList &arguments, QString &out)
{
    auto process = std::make_unique<QProcess>();
    process->setWorkingDirectory(m_dir->path());
    process->setStandardInputFile(QProcess::nullDevice());
    QProcess *watch = process.get();
    connect(watch, &QProcess::readyReadStandardOutput, this,
            [watch, &out] { out += QString::fromUtf8(watch->readAllStandardOutput()); });
    process->start(executable, QStringList{"--progress", "json"} + arguments);
    return process;
}

int TestHeadless::events(const QString &out, const QString &file, const QString &state)
{
    int count = 0;
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
        if (QFileInfo(event.value(QStringLiteral("file")).toString()).fileName() == file &&
            event.value(QStringLiteral("state")).toString() == state)
            ++count;
    }
    return count;
}

QStringList TestHeadless::logs() const
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                QStringLiteral("/vidmorph/logs"))
        .entryList({QStringLiteral("batch-*.log")}, QDir::Files);
}

void TestHeadless::namesInLists_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<bool>("nul");
    QTest::addColumn<QByteArrayList>("names"); // below the working folder, or absolute
    QTest::addColumn<QString>("error");        // how the error begins, empty for none
    QTest::newRow("one a line") << QByteArray("a.mp4\nsub/b c.mp4\n\n") << false
                                << QByteArrayList{"a.mp4", "sub/b c.mp4"} << "";
    QTest::newRow("no last line break")
        << QByteArray("./a.mp4") << false << QByteArrayList{"a.mp4"} << "";
    QTest::newRow("NUL, a line break inside a name")
        << QByteArray("new\nline.mp4\0/abs/c.mp4\0", 24) << true
        << QByteArrayList{"new\nline.mp4", "/abs/c.mp4"} << "";
    QTest::newRow("bytes that are not UTF-8") << QByteArray("\xca\xd3\xc6\xb5.mp4\n") << false
                                              << QByteArrayList{"\xca\xd3\xc6\xb5.mp4"} << "";
    QTest::newRow("a NUL byte in a line") << QByteArray("a.mp4\n/\0b.mp4\n", 14) << false
                                          << QByteArrayList{} << "文件清单第 2 行含有 NUL 字节";
}

void TestHeadless::namesInLists()
{
    QFETCH(QByteArray, list);
    QFETCH(bool, nul);
    QFETCH(QByteArrayList, names);
    QFETCH(QString, error);
    QByteArrayList found;
    QString said;
    for (const QString &name :
         HeadlessOptions::namesInList(list, nul, QStringLiteral("/work"), &said))
        found.append(NativePath::encode(name));
    for (QByteArray &name : names)
        if (!name.startsWith('/'))
            name.prepend("/work/");
    QCOMPARE(found, names);
    QVERIFY2(error.isEmpty() ? said.isEmpty() : said.startsWith(error), qPrintable(said));
}

void TestHeadless::sharesDealEachFileOnce_data()
{
    QTest::addColumn<QByteArrayList>("files");
    QTest::addColumn<QString>("shard");
    QTest::addColumn<QByteArrayList>("share"); // the files of `shard`, in order
    const QByteArrayList five{"/in/e.mp4", "/in/b.mp4", "/in/sub/a.mp4", "/in/a.mp4", "/in/c.mp4"};
    QTest::newRow("whole keeps the order and every name") << five << "1/1" << five;
    QTest::newRow("first of two, by path")
        << five << "1/2" << QByteArrayList{"/in/a.mp4", "/in/c.mp4", "/in/sub/a.mp4"};
    QTest::newRow("last of two") << five << "2/2" << QByteArrayList{"/in/b.mp4", "/in/e.mp4"};
    QTest::newRow("more shares than files") << five << "7/7" << QByteArrayList{};
    QTest::newRow("a name twice goes once")
        << QByteArrayList{"/x/b", "/x/a", "/x/b"} << "2/2" << QByteArrayList{"/x/b"};
    // By bytes, not by the letters a locale would sort: "Z" before "a", and GBK past ASCII.
    QTest::newRow("bytes, not letters") << QByteArrayList{"/x/\xca\xd3.mp4", "/x/a.mp4", "/x/Z.mp4"}
                                        << "3/3" << QByteArrayList{"/x/\xca\xd3.mp4"};
}

void TestHeadless::sharesDealEachFileOnce()
{
    QFETCH(QByteArrayList, files);
    QFETCH(QString, shard);
    QFETCH(QByteArrayList, share);
    QStringList paths;
    for (const QByteArray &file : files)
        paths.append(NativePath::decode(file));
    const auto bytesOf = [](const QStringList &names) {
        QByteArrayList bytes;
        for (const QString &name : names)
            bytes.append(NativePath::encode(name));
        return bytes;
    };
    const std::optional<Shard> chosen = Shard::fromText(shard);
    QVERIFY(chosen);
    QCOMPARE(bytesOf(chosen->of(paths)), share);
    // Every task, computing alone, takes its own files: together each file once.
    QByteArrayList dealt;
    qsizetype least = paths.size();
    qsizetype most = 0;
    for (int k = 1; k <= chosen->count(); ++k) {
        const QStringList part =
            Shard::fromText(QStringLiteral("%1/%2").arg(k).arg(chosen->count()))->of(paths);
        dealt += bytesOf(part);
        least = qMin(least, part.size());
        most = qMax(most, part.size());
    }
    QByteArrayList each = files;
    std::sort(each.begin(), each.end());
    if (!chosen->isWhole())
        each.erase(std::unique(each.begin(), each.end()), each.end());
    std::sort(dealt.begin(), dealt.end());
    QCOMPARE(dealt, each);
    QVERIFY(most - least <= 1);
}

void TestHeadless::failuresAreRememberedPerVersion_data()
{
    QTest::addColumn<QString>("code");   // of the failure noted
    QTest::addColumn<QString>("change"); // what happens after the failure is noted
    QTest::addColumn<bool>("remembered");
    QTest::newRow("nothing") << "unreadable"
                             << "" << true;
    QTest::newRow("the input grew") << "unreadable"
                                    << "grow" << false;
    QTest::newRow("the input touched") << "no-audio"
                                       << "touch" << false;
    QTest::newRow("other settings") << "no-audio"
                                    << "settings" << false;
    QTest::newRow("another output folder") << "not-media"
                                           << "output" << false;
    QTest::newRow("converted since") << "unreadable"
                                     << "converted" << false;
    QTest::newRow("a full disk may pass") << "disk-full"
                                          << "" << false;
    QTest::newRow("a missing tool may be installed") << "no-ffmpeg"
                                                     << "" << false;
}

void TestHeadless::failuresAreRememberedPerVersion()
{
    QFETCH(QString, code);
    QFETCH(QString, change);
    QFETCH(bool, remembered);
    const QString records = m_dir->filePath(QStringLiteral("data/failed"));
    const QString input = m_dir->filePath(QStringLiteral("in.avi"));
    QFile file(input);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a video");
    file.close();
    const ParameterSet mp3 = Formats::defaultParameters(Formats::MP3);
    const QString reason = FailureReason::reasonFor(code);
    QCOMPARE(FailureReason::code(reason), code);
    FailureRecord(records, QStringLiteral("/out"), mp3).note(input, reason);
    QCOMPARE(QFileInfo(records).permissions() & 0x0077, QFileDevice::Permissions());
    for (const QFileInfo &kept : QDir(records).entryInfoList(QDir::Files))
        QCOMPARE(kept.permissions() & 0x0077, QFileDevice::Permissions());
    ParameterSet parameters = mp3;
    QString output = QStringLiteral("/out/");
    if (change == QLatin1String("grow")) {
        QVERIFY(file.open(QIODevice::Append));
        file.write("!");
        file.close();
    } else if (change == QLatin1String("touch")) {
        QVERIFY(file.open(QIODevice::Append));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                 QFileDevice::FileModificationTime));
        file.close();
    } else if (change == QLatin1String("settings")) {
        parameters.audioBitrate = QStringLiteral("64");
    } else if (change == QLatin1String("output")) {
        output = QStringLiteral("/other");
    } else if (change == QLatin1String("converted")) {
        FailureRecord(records, output, parameters).note(input, QString());
    }
    QCOMPARE(FailureRecord(records, output, parameters).reasonFor(input),
             remembered ? reason : QString());
}

void TestHeadless::reRunsSkipWhatFailedBefore()
{
    const QStringList batch = {"--convert", "-f",  "MP3",  "--progress", "json",
                               "-o",        "out", m_clip, m_broken};
    QCOMPARE(convert(batch).exitCode, 1);
    const QStringList outputs = outputFiles();
    const auto eventFor = [](const Run &run, const QString &file) {
        for (const QString &line : run.out.split(QLatin1Char('\n'))) {
            const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
            if (event.value(QStringLiteral("file")).toString() == file &&
                event.value(QStringLiteral("state")).toString() != QLatin1String("started"))
                return event;
        }
        return QJsonObject();
    };
    // Skipped with the reason it failed with, and converted nothing twice.
    const Run again = convert(QStringList{"--skip-existing"} + batch);
    QCOMPARE(again.exitCode, 0);
    const QJsonObject skipped = eventFor(again, m_broken);
    QCOMPARE(skipped.value(QStringLiteral("state")).toString(), QStringLiteral("skipped"));
    QCOMPARE(skipped.value(QStringLiteral("reason_code")).toString(), QStringLiteral("unreadable"));
    QCOMPARE(eventFor(again, m_clip).value(QStringLiteral("state")).toString(),
             QStringLiteral("skipped"));
    QCOMPARE(outputFiles(), outputs);
    // Asked to, it tries again, and fails again.
    const Run retried = convert(QStringList{"--skip-existing", "--retry-failed"} + batch);
    QCOMPARE(retried.exitCode, 1);
    QCOMPARE(eventFor(retried, m_broken).value(QStringLiteral("reason_code")).toString(),
             QStringLiteral("unreadable"));
    QCOMPARE(eventFor(retried, m_broken).value(QStringLiteral("state")).toString(),
             QStringLiteral("failed"));
}

void TestHeadless::exitStatusOfFailures_data()
{
    QTest::addColumn<QStringList>("codes");
    QTest::addColumn<int>("status");
    QTest::newRow("none failed") << QStringList{} << 0;
    QTest::newRow("a file failed") << QStringList{"unreadable", "no-audio"} << 1;
    QTest::newRow("out of file descriptors") << QStringList{"unreadable", "out-of-files"} << 6;
    QTest::newRow("out of processes") << QStringList{"out-of-processes"} << 5;
    QTest::newRow("memory says most") << QStringList{"out-of-files", "out-of-memory"} << 4;
}

void TestHeadless::exitStatusOfFailures()
{
    QFETCH(QStringList, codes);
    QFETCH(int, status);
    QCOMPARE(int(ExitStatus::forFailures(codes)), status);
}

void TestHeadless::reRunsSkipWhatIsDone()
{
    const QStringList inputs = {m_clip, m_wide};
    const Run first =
        convert(QStringList{"--convert", "-f", "MP3", "--name", "plain", "-o", "out"} + inputs);
    QCOMPARE(first.exitCode, 0);
    const QStringList plain = {QStringLiteral("clip one.mp3"), QStringLiteral("宽 clip.mp3")};
    QCOMPARE(outputFiles(), plain);
    const QFileInfo before(m_dir->filePath(QStringLiteral("out/clip one.mp3")));
    const QStringList logsBefore = logs();

    // Again, skipping what is there, its log where the script wants it.
    const Run again = convert(QStringList{"--convert", "-f", "MP3", "--name", "plain",
                                          "--skip-existing", "--log", "job.log", "-o", "out"} +
                              inputs);
    QCOMPARE(again.exitCode, 0);
    QVERIFY2(again.out.contains(QStringLiteral("[1/2] clip one.mp4  跳过 (skipped): 已有输出 "
                                               "(output exists) ") +
                                before.absoluteFilePath()),
             qPrintable(again.out));
    QVERIFY(again.out.contains(QStringLiteral("跳过 (skipped): 2")));
    QVERIFY(!again.out.contains(QStringLiteral("开始 (started)")));
    const QString job = m_dir->filePath(QStringLiteral("job.log"));
    QVERIFY(again.out.contains(QStringLiteral("详细记录 (log): ") + job));
    QFile log(job);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(log.readAll()).contains(QStringLiteral("跳过：输出已存在")));
    QCOMPARE(logs(), logsBefore);
    QCOMPARE(outputFiles(), plain);
    const QFileInfo after(m_dir->filePath(QStringLiteral("out/clip one.mp3")));
    QCOMPARE(after.lastModified(), before.lastModified());

    // Without skipping, a name that is there is never written over.
    const Run third = convert({"--convert", "-f", "MP3", "--name", "plain", "-o", "out", m_clip});
    QCOMPARE(third.exitCode, 0);
    QCOMPARE(outputFiles(), QStringList({"clip one-2.mp3", "clip one.mp3", "宽 clip.mp3"}));
    QCOMPARE(QFileInfo(after.filePath()).lastModified(), before.lastModified());
}

void TestHeadless::runsAtOnceConvertEachFileOnce()
{
    // Four runs of one job at the same moment, as overlapping cron runs are: each file is
    // converted by one of them and skipped by the others.
    QList<QProcess *> runs;
    for (int i = 0; i < 4; ++i) {
        auto *run = new QProcess(this);
        run->setWorkingDirectory(m_dir->path());
        run->start(executable, {"--convert", "-f", "MP3", "--name", "plain", "--skip-existing",
                                "-o", "out", m_clip, m_wide});
        runs.append(run);
    }
    int done = 0;
    int skipped = 0;
    for (QProcess *run : std::as_const(runs)) {
        QVERIFY(run->waitForFinished(120000));
        QCOMPARE(run->exitCode(), 0);
        const QString out = QString::fromUtf8(run->readAllStandardOutput());
        done += int(out.count(QStringLiteral("完成 (done)")));
        skipped += int(out.count(QStringLiteral("跳过 (skipped): 已有输出")));
    }
    qDeleteAll(runs);
    QCOMPARE(done, 2);
    QCOMPARE(skipped, 6);
    QCOMPARE(outputFiles(), QStringList({"clip one.mp3", "宽 clip.mp3"}));
}

void TestHeadless::fileListsKeepEveryByte_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("lineBreakName"); // a name holding a line break, which only NUL keeps
    QTest::newRow("find -print0 into standard input")
        << "cd in && find . -type f -print0 | \"$0\" --convert -f MP3 --name plain --keep-tree "
           "-o ../out --progress json --files-from - -0"
        << true;
    QTest::newRow("a list file, one a line")
        << "cd in && find . -type f > ../list.txt && \"$0\" --convert -f MP3 --name plain "
           "--keep-tree -o ../out --progress json --files-from ../list.txt"
        << false;
}

void TestHeadless::fileListsKeepEveryByte()
{
    QFETCH(QString, command);
    QFETCH(bool, lineBreakName);
    // A plain name, one beginning with a dash, a folder and a file named in GBK, and perhaps a
    // name with a line break in it.
    const QByteArray in = QFile::encodeName(m_dir->filePath(QStringLiteral("in")));
    QByteArrayList names = {"clip one.mp4", "-dash.mp4", "\xca\xd3/clip.mp4",
                            "sub/\xca\xd3\xc6\xb5.mp4"};
    if (lineBreakName)
        names.append("new\nline.mp4");
    for (const QByteArray &name : std::as_const(names)) {
        const QByteArray path = in + '/' + name;
        for (qsizetype slash = in.size(); slash >= 0; slash = path.indexOf('/', slash + 1))
            ::mkdir(path.left(slash).constData(), 0777);
        QVERIFY2(::link(QFile::encodeName(m_clip).constData(), path.constData()) == 0,
                 path.constData());
    }
    const Run run = shell(command);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.count(QStringLiteral("\"state\":\"done\"")), int(names.size()));
    // The tree kept byte for byte; each output named as people read its input's name.
    const QByteArray out = QFile::encodeName(m_dir->filePath(QStringLiteral("out")));
    QByteArrayList outputs = {"clip one.mp3", "-dash.mp3", "\xca\xd3/clip.mp3",
                              "sub/" + QStringLiteral("视频.mp3").toUtf8()};
    if (lineBreakName)
        outputs.append("new\nline.mp3");
    for (const QByteArray &output : std::as_const(outputs))
        QVERIFY2(::access((out + '/' + output).constData(), F_OK) == 0, output.constData());
    // JSON gives the exact bytes of a name that is not UTF-8.
    bool exact = false;
    for (const QString &line : run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
        if (event.value(QStringLiteral("file")).toString().endsWith(QStringLiteral("视频.mp4")))
            exact = QByteArray::fromBase64(
                        event.value(QStringLiteral("file_bytes")).toString().toLatin1()) ==
                    in + "/sub/\xca\xd3\xc6\xb5.mp4";
    }
    QVERIFY2(exact, qPrintable(run.out));
}

void TestHeadless::dryRunConvertsNothing()
{
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("out")));
    QFile earlier(m_dir->filePath(QStringLiteral("out/clip one.mp3")));
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.close();
    QFile list(m_dir->filePath(QStringLiteral("list.txt")));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("gone.mp4\n");
    list.close();
    const QStringList logsBefore = logs();
    const Run run = convert({"--convert", "-f", "MP3", "--name", "plain", "--skip-existing",
                             "--dry-run", "-o", "out", "--files-from", "list.txt", m_clip, m_wide});
    QCOMPARE(run.exitCode, 1); // a file would be refused
    const QString out = m_dir->filePath(QStringLiteral("out/"));
    QVERIFY2(run.out.contains(QStringLiteral("[1/3] clip one.mp4  将跳过 (would skip): 已有输出 "
                                             "(output exists) ") +
                              out + QStringLiteral("clip one.mp3")),
             qPrintable(run.out));
    QVERIFY(run.out.contains(QStringLiteral("[2/3] 宽 clip.mp4  将写入 (would write): ") + out +
                             QStringLiteral("宽 clip.mp3")));
    QVERIFY(run.out.contains(
        QStringLiteral("[3/3] gone.mp4  不能转换 (would refuse): 找不到输入文件 [input-missing]")));
    QCOMPARE(outputFiles(), QStringList{QStringLiteral("clip one.mp3")});
    QCOMPARE(logs(), logsBefore);
    QCOMPARE(leftoverRunFolders(), QStringList());
    // Not even the output folder is made.
    const Run fresh = convert({"--convert", "-f", "MP3", "--dry-run", "-o", "fresh", m_clip});
    QCOMPARE(fresh.exitCode, 0);
    QVERIFY(fresh.out.contains(QStringLiteral("将写入 (would write): ") +
                               m_dir->filePath(QStringLiteral("fresh/clip one-"))));
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("fresh"))));
}

void TestHeadless::watchTakesMediaOnly_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // "clip": the test clip's
    QTest::addColumn<QStringList>("includes");
    QTest::addColumn<bool>("takes");
    QTest::newRow("a video") << "clip.mp4" << QByteArray("clip") << QStringList() << true;
    QTest::newRow("a video under a name that hides it")
        << "clip.bin" << QByteArray("clip") << QStringList() << true;
    QTest::newRow("a note") << "readme.txt" << QByteArray("Only words.\n") << QStringList()
                            << false;
    QTest::newRow("a photo") << "photo.jpg" << QByteArray("\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11)
                             << QStringList() << false;
    QTest::newRow("a video the globs leave out")
        << "clip.mp4" << QByteArray("clip") << QStringList{"*.mkv"} << false;
    QTest::newRow("a video a glob takes")
        << "clip.mp4" << QByteArray("clip") << QStringList({"*.mkv", "c*.mp4"}) << true;
    QTest::newRow("a note a glob takes")
        << "notes.txt" << QByteArray("Only words.\n") << QStringList{"*"} << false;
}

void TestHeadless::watchTakesMediaOnly()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, includes);
    QFETCH(bool, takes);
    const QString path = m_dir->filePath(name);
    if (content == "clip") {
        QVERIFY(QFile::copy(m_clip, path));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    }
    QCOMPARE(MediaFilter(includes).takes(path), takes);
}

void TestHeadless::dryRunTellsWhatTheRunDoes_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("outputs"); // what out/ holds after the run
    QTest::newRow("a tree kept below the listed files' common folder")
        << QStringList{"--keep-tree"}
        << QStringList({"a.mp3", "other/a.mp3", "sub/b-2.mp3", "sub/b.mp3"});
    QTest::newRow("one name from two folders, skipping outputs there already")
        << QStringList{"--skip-existing"}
        << QStringList({"a-2.mp3", "a.mp3", "b.mp3", "sub/b.mp3"});
    QTest::newRow("an earlier output skipped, the tree kept")
        << QStringList({"--skip-existing", "--keep-tree"})
        << QStringList({"a.mp3", "other/a.mp3", "sub/b.mp3"});
}

// A list of files outside the working folder, two of one name, one gone, one with an output
// of an earlier run: the dry run says, file by file, what the run then does; no file is lost.
void TestHeadless::dryRunTellsWhatTheRunDoes()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, outputs);
    QTemporaryDir far;
    QByteArray list;
    for (const char *name : {"a.mp4", "other/a.mp4", "sub/b.mp4", "gone.mp4"}) {
        const QString path = far.filePath(QLatin1String(name));
        list += path.toUtf8() + '\n';
        QDir().mkpath(QFileInfo(path).path());
        if (!path.endsWith(QStringLiteral("gone.mp4")))
            QVERIFY(QFile::copy(m_clip, path));
    }
    QFile listFile(m_dir->filePath(QStringLiteral("list.txt")));
    QVERIFY(listFile.open(QIODevice::WriteOnly) && listFile.write(list) == list.size());
    listFile.close();
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("out/sub")));
    QFile earlier(m_dir->filePath(QStringLiteral("out/sub/b.mp3")));
    QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("mp3") == 3);
    earlier.close();
    // Each file's end, in the run's words: "<file> done|skipped|failed <output><code>".
    const auto ends = [](const QString &out) {
        QStringList lines;
        for (const QString &line : out.split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
            QString state = event.value("state").toString();
            state.replace(QStringLiteral("would_convert"), QStringLiteral("done"))
                .replace(QStringLiteral("would_skip"), QStringLiteral("skipped"))
                .replace(QStringLiteral("would_refuse"), QStringLiteral("failed"));
            if (state == QStringLiteral("done") || state == QStringLiteral("skipped") ||
                state == QStringLiteral("failed"))
                lines.append(event.value("file").toString() + ' ' + state + ' ' +
                             event.value("output").toString() +
                             event.value("reason_code").toString());
        }
        lines.sort();
        return lines;
    };
    const QStringList common = {"--convert",       "-fMP3",        "--name=plain", "-oout",
                                "--progress=json", "--files-from", "list.txt"};
    const Run dry = convert(common + options + QStringList{"--dry-run"});
    const Run run = convert(common + options);
    QCOMPARE(dry.exitCode, 1); // gone.mp4 is refused
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(ends(dry.out).size(), 4);
    QCOMPARE(ends(dry.out), ends(run.out));
    QStringList written;
    const QString out = m_dir->filePath(QStringLiteral("out/"));
    QDirIterator found(out, QDir::Files, QDirIterator::Subdirectories);
    while (found.hasNext())
        written.append(found.next().mid(out.size()));
    written.sort();
    QCOMPARE(written, outputs);
}

void TestHeadless::worksWithoutAUsableHome_data()
{
    QTest::addColumn<QString>("home");      // "": not set
    QTest::addColumn<QString>("temporary"); // TMPDIR, below the test's folder
    QTest::addColumn<bool>("openToAll");    // the private folder's usual name is open to all
    QTest::addColumn<int>("status");
    QTest::newRow("HOME not set") << ""
                                  << "tmp" << false << 0;
    QTest::newRow("HOME is a file") << "home-file"
                                    << "tmp" << false << 0;
    QTest::newRow("HOME not there") << "no/such/home"
                                    << "tmp" << false << 0;
    QTest::newRow("the private folder's name let others in") << ""
                                                             << "tmp" << true << 0;
    QTest::newRow("no temporary folder either") << ""
                                                << "home-file" << false << 3;
}

void TestHeadless::worksWithoutAUsableHome()
{
    QFETCH(QString, home);
    QFETCH(QString, temporary);
    QFETCH(bool, openToAll);
    QFETCH(int, status);
    QFile file(m_dir->filePath(QStringLiteral("home-file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString tmp = m_dir->filePath(temporary);
    QDir().mkpath(m_dir->filePath(QStringLiteral("tmp")));
    const QString usual = tmp + QStringLiteral("/vidmorph-%1").arg(::geteuid());
    if (openToAll) {
        QVERIFY(QDir().mkpath(usual));
        QVERIFY(::chmod(QFile::encodeName(usual).constData(), 0777) == 0);
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
        environment.remove(QLatin1String(name));
    if (!home.isEmpty())
        environment.insert(QStringLiteral("HOME"), m_dir->filePath(home));
    environment.insert(QStringLiteral("TMPDIR"), tmp);
    const Run run = convert({"--convert", "-f", "MP3", "-o", "out", m_clip}, environment);
    QCOMPARE(run.exitCode, status);
    if (status != 0) {
        QVERIFY2(run.err.contains(QStringLiteral("没有可用的主文件夹")), qPrintable(run.err));
        QCOMPARE(outputFiles(), QStringList());
        return;
    }
    QCOMPARE(outputFiles().size(), 1);
    // Said once; scratch files and the log in a folder nobody else can enter.
    QCOMPARE(run.err.count(QStringLiteral("注意 (note)")), 1);
    const QRegularExpressionMatch log =
        QRegularExpression(QStringLiteral("详细记录 \\(log\\): (.+)\n")).match(run.out);
    QVERIFY2(log.hasMatch(), qPrintable(run.out));
    const QString folder = log.captured(1).section(QLatin1Char('/'), 0, -3);
    QVERIFY2(folder.startsWith(usual), qPrintable(folder));
    QCOMPARE(folder == usual, !openToAll);
    QVERIFY(run.err.contains(folder));
    QVERIFY(QFile::exists(log.captured(1)));
    QCOMPARE(QFileInfo(folder).permissions() & (QFile::ReadOther | QFile::ReadGroup),
             QFile::Permissions());
    QCOMPARE(QDir(folder + QStringLiteral("/tmp")).entryList({QStringLiteral("run-*")}, QDir::Dirs),
             QStringList());
    // The next run takes the same folder, not one more of its own.
    QCOMPARE(convert({"--convert", "-f", "MP3", "-o", "out", m_clip}, environment).exitCode, 0);
    QCOMPARE(QDir(tmp).entryList({QStringLiteral("vidmorph-*")}, QDir::Dirs).size(),
             openToAll ? 2 : 1);
}

void TestHeadless::watchConvertsEachFileOnce()
{
    // A file that fails does not end the watch.
    const QString in = m_dir->filePath(QStringLiteral("in"));
    QVERIFY(QDir().mkpath(in));
    QVERIFY(QFile::copy(m_clip, in + QStringLiteral("/early.mp4")));
    QVERIFY(QFile::copy(m_broken, in + QStringLiteral("/notes.avi")));
    QVERIFY(QFile::copy(m_broken, in + QStringLiteral("/notes.txt"))); // no media: left alone
    const QStringList arguments = {"--watch", "in",        "-f", "MP3", "--name",   "plain",
                                   "-o",      "converted", "-j", "1",   "--settle", "3"};
    QString out;
    std::unique_ptr<QProcess> watch = startWatch(arguments, out);
    QVERIFY(watch->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(events(out, QStringLiteral("early.mp4"), QStringLiteral("done")) == 1,
                             120000);
    QTRY_VERIFY_WITH_TIMEOUT(
        events(out, QStringLiteral("notes.avi"), QStringLiteral("failed")) == 1, 120000);

    // A slow writer: the file held open through a pause longer than the settling time, then
    // closed and, after a shorter pause, added to once more.
    const QString writer = QStringLiteral(
        "size=$(stat -c %s \"$1\"); chunk=$((size / 3 + 1)); part() { dd if=\"$1\" bs=$chunk "
        "skip=$2 count=1 status=none; }; { part \"$1\" 0; sleep 1; part \"$1\" 1; sleep 5; } "
        "> in/slow.mp4; sleep 1; part \"$1\" 2 >> in/slow.mp4");
    QProcess slow;
    slow.setWorkingDirectory(m_dir->path());
    slow.start(QStringLiteral("bash"), {"-c", writer, "writer", m_wide});
    QVERIFY(slow.waitForFinished(120000));
    QCOMPARE(slow.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(events(out, QStringLiteral("slow.mp4"), QStringLiteral("done")) == 1,
                             120000);
    const QString converted = m_dir->filePath(QStringLiteral("converted"));
    const TestMedia::Info whole = TestMedia::probe(converted + QStringLiteral("/slow.mp3"));
    QVERIFY2(qAbs(whole.duration - 2.0) < 0.3, qPrintable(QString::number(whole.duration)));

    QVERIFY(!out.contains(QStringLiteral("notes.txt")));
    // SIGTERM ends the watch; started again, it converts only what is new.
    ::kill(pid_t(watch->processId()), SIGTERM);
    QVERIFY(watch->waitForFinished(60000));
    QCOMPARE(watch->exitCode(), 128 + SIGTERM);
    QString again;
    watch = startWatch(arguments, again);
    QVERIFY(watch->waitForStarted());
    const QString hidden = in + QStringLiteral("/.late.mp4.part");
    QVERIFY(QFile::copy(m_clip, hidden));
    QVERIFY(QFile::rename(hidden, in + QStringLiteral("/late.mp4")));
    QTRY_VERIFY_WITH_TIMEOUT(events(again, QStringLiteral("late.mp4"), QStringLiteral("done")) == 1,
                             120000);
    // Now surely at work: a second watch of the same folder into the same output folder is
    // refused.
    QProcess second;
    second.setWorkingDirectory(m_dir->path());
    second.start(executable, arguments);
    const bool refused = second.waitForFinished(60000);
    if (!refused) {
        second.kill();
        second.waitForFinished();
    }
    QVERIFY(refused);
    QCOMPARE(second.exitCode(), 1);
    QVERIFY2(QString::fromUtf8(second.readAllStandardError())
                 .contains(QStringLiteral("另一个 vidmorph --watch")),
             "not refused");
    QCOMPARE(events(again, QStringLiteral("early.mp4"), QStringLiteral("started")), 0);
    QCOMPARE(events(again, QStringLiteral("slow.mp4"), QStringLiteral("started")), 0);
    QCOMPARE(events(again, QStringLiteral("notes.avi"), QStringLiteral("started")), 0);
    ::kill(pid_t(watch->processId()), SIGTERM);
    QVERIFY(watch->waitForFinished(60000));
    QCOMPARE(QDir(converted).entryList(QDir::Files),
             QStringList({"early.mp3", "late.mp3", "slow.mp3"}));
    QCOMPARE(leftoverRunFolders(), QStringList());
}

// A file replaced while its earlier version converts is converted again once that is done,
// not only when the watch is started again.
void TestHeadless::watchConvertsAFileReplacedMeanwhile()
{
    const QString in = m_dir->filePath(QStringLiteral("in"));
    QVERIFY(QDir().mkpath(in));
    const QStringList arguments = {"--watch", "in", "-f", "MP4", "-o", "out", "--settle", "1"};
    QString out;
    std::unique_ptr<QProcess> watch = startWatch(arguments, out);
    QVERIFY(watch->waitForStarted());
    QVERIFY(QFile::copy(m_long, in + QStringLiteral("/.video.mkv")));
    QVERIFY(QFile::rename(in + QStringLiteral("/.video.mkv"), in + QStringLiteral("/video.mkv")));
    QTRY_VERIFY_WITH_TIMEOUT(underWay(out, 1), 120000);
    QVERIFY(QFile::copy(m_clip, in + QStringLiteral("/.video.mkv")));
    QVERIFY(QFile::remove(in + QStringLiteral("/video.mkv")));
    QVERIFY(QFile::rename(in + QStringLiteral("/.video.mkv"), in + QStringLiteral("/video.mkv")));
    QTRY_VERIFY_WITH_TIMEOUT(events(out, QStringLiteral("video.mkv"), QStringLiteral("done")) == 2,
                             120000);
    ::kill(pid_t(watch->processId()), SIGTERM);
    QVERIFY(watch->waitForFinished(60000));
}

void TestHeadless::watchRefusesNestedFolders_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("output inside") << QStringList{"--watch", "in", "-o", "in/converted"};
    QTest::newRow("watched inside") << QStringList{"--watch", "in/sub", "-o", "in"};
    QTest::newRow("the same under another name") << QStringList{"--watch", "in", "-o", "alias"};
    QTest::newRow("inside, under another name")
        << QStringList{"--watch", "alias/sub", "-o", "in/sub/.."};
}

// IN and OUT are compared as folders, not as spellings: nesting either way is refused before
// anything is watched.
void TestHeadless::watchRefusesNestedFolders()
{
    QFETCH(QStringList, arguments);
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("in/sub"))));
    QVERIFY(QFile::link(QStringLiteral("in"), m_dir->filePath(QStringLiteral("alias"))));
    const Run run = convert(arguments + QStringList{"-f", "MP3"});
    QCOMPARE(run.exitCode, int(ExitStatus::BadArguments));
    QVERIFY2(run.err.contains(QStringLiteral("--output 的文件夹不能是 --watch 的文件夹")),
             qPrintable(run.err));
}

void TestHeadless::watchStopsCleanlyMidFile()
{
    const QString &longer = m_long;
    const QString in = m_dir->filePath(QStringLiteral("in"));
    QVERIFY(QDir().mkpath(in));
    const QStringList arguments = {"--watch", "in", "-f", "MP3", "-o", "out", "--settle", "1"};
    QString out;
    std::unique_ptr<QProcess> watch = startWatch(arguments, out);
    QVERIFY(watch->waitForStarted());
    QVERIFY(QFile::copy(longer, in + QStringLiteral("/.long.mkv")));
    QVERIFY(QFile::rename(in + QStringLiteral("/.long.mkv"), in + QStringLiteral("/long.mkv")));
    QTRY_VERIFY_WITH_TIMEOUT(underWay(out, 1), 120000);
    ::kill(pid_t(watch->processId()), SIGTERM);
    QVERIFY(watch->waitForFinished(60000));
    QCOMPARE(watch->exitCode(), 128 + SIGTERM);
    // Nothing half-written; the watch keeps its state in the user's data folder.
    QCOMPARE(outputFiles(), QStringList());
    QCOMPARE(processesMentioning({in + QStringLiteral("/long.mkv")}), QStringList());
    QCOMPARE(leftoverRunFolders(), QStringList());
    // Started again, it converts the file it had not finished.
    QString again;
    watch = startWatch(arguments, again);
    QVERIFY(watch->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(events(again, QStringLiteral("long.mkv"), QStringLiteral("done")) == 1,
                             240000);
    ::kill(pid_t(watch->processId()), SIGTERM);
    QVERIFY(watch->waitForFinished(60000));
    QCOMPARE(outputFiles().filter(QStringLiteral(".mp3")).size(), 1);
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "test_headless.moc"
