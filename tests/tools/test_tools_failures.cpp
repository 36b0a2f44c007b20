// How the tools fail: each error line the converter reads, a full disk, a name that is taken,
// a playlist in a video's clothes; nothing half-written stays behind. And what must not make
// them fail: ffmpeg describing its input in other words.
#include "ToolCommands.h"
#include "ToolsFixture.h"

#include "TestMedia.h"
#include "convert/ProgressParser.h"
#include "tools/ToolContract.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

class TestToolsFailures : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fails_data();
    void fails();
    void failsWhenTheDiskIsFull_data();
    void failsWhenTheDiskIsFull();
    void refusesPlaylistsAndLists_data();
    void refusesPlaylistsAndLists();
    void rewordedTextChangesNothing_data();
    void rewordedTextChangesNothing();

private:
    ToolsFixture m_tools;
};

using namespace ToolCommands;

void TestToolsFailures::initTestCase()
{
    const QString error = m_tools.prepare(
        {"stereo.mp4", "silent.mp4", "audio.wav", "segment.ts", "text.avi", "empty.avi"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestToolsFailures::fails_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("inputName");
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<QString>("reason");

    QTest::newRow("text renamed .avi") << "conv" << StageOneMpeg4 << "text.avi"
                                       << "clip.mp4"
                                       << "Invalid data";
    QTest::newRow("missing input") << "coder" << Mp3 << "nothing.avi"
                                   << "clip.mp3"
                                   << "not found";
    QTest::newRow("zero-byte input") << "coder2" << mobile("176x144") << "empty.avi"
                                     << "clip.3gp"
                                     << "empty";
    QStringList badPreset = StageOneMpeg4;
    badPreset.replace(badPreset.indexOf("preset=320"), "preset=loud");
    QTest::newRow("preset=loud") << "conv" << badPreset << "stereo.mp4"
                                 << "clip.mp4"
                                 << "preset=loud";
    QStringList hugePreset = StageOneMpeg4;
    hugePreset.replace(hugePreset.indexOf("preset=320"), "preset=320.5");
    QTest::newRow("preset=320.5") << "conv" << hugePreset << "stereo.mp4"
                                  << "clip.mp4"
                                  << "preset=320.5";
    // Found by fuzz_coder: these were taken as bitrates and reached ffmpeg as garbage.
    QStringList infiniteRate = Mp3;
    infiniteRate.replace(infiniteRate.indexOf("320k"), "inf");
    QTest::newRow("-ab inf") << "coder" << infiniteRate << "stereo.mp4"
                             << "clip.mp3"
                             << "-ab inf";
    QStringList hugeRate = RealFixed;
    hugeRate.replace(hugeRate.indexOf("1200k"), "1e300k");
    QTest::newRow("-b 1e300k") << "coder" << hugeRate << "stereo.mp4"
                               << "clip.rmvb"
                               << "-b 1e300k";
    // Quality levels only the encoders that have them take, and only up to their last.
    QTest::newRow("-crf 52 for x264")
        << "coder" << modern("libx264", "aac", {"-crf", "52"}) << "stereo.mp4"
        << "clip.mp4"
        << "-crf 52";
    QTest::newRow("-crf for RealVideo")
        << "coder" << QStringList{"-i", "IN", "-y", "-vcodec", "rv10", "-crf", "20", "OUT"}
        << "stereo.mp4"
        << "clip.rm"
        << "-crf 20";
    QTest::newRow("-crf beside -b")
        << "coder" << modern("libx265", "aac", {"-b", "900k", "-crf", "26"}) << "stereo.mp4"
        << "clip.mp4"
        << "-crf 26";
    QTest::newRow("audio only for MPG") << "conv" << StageOneMpeg2 << "audio.wav"
                                        << "clip.mpg"
                                        << "no video";
    QTest::newRow("audio only for MOV") << "coder" << MovFixed << "audio.wav"
                                        << "clip.mov"
                                        << "no video";
    QTest::newRow("audio only for 3GP") << "coder2" << mobile("176x144") << "audio.wav"
                                        << "clip.3gp"
                                        << "no video";
    QTest::newRow("audio only for RMVB") << "coder" << RealFixed << "audio.wav"
                                         << "clip.rmvb"
                                         << "no video";
    QTest::newRow("video only for MP3") << "coder" << Mp3 << "silent.mp4"
                                        << "clip.mp3"
                                        << "no audio";
    QStringList noChannels = Mp3;
    noChannels.replace(noChannels.indexOf("2"), "0");
    QTest::newRow("zero channels") << "coder" << noChannels << "stereo.mp4"
                                   << "clip.mp3"
                                   << "-ac 0";
    QStringList unknownOption = Mp3;
    unknownOption.replace(unknownOption.indexOf("-vn"), "-vx");
    QTest::newRow("unknown option") << "coder" << unknownOption << "stereo.mp4"
                                    << "clip.mp3"
                                    << "-vx";
    QStringList badContainer = StageOneMpeg4;
    badContainer.replace(badContainer.indexOf("avi"), "wmv");
    QTest::newRow("unknown -of") << "conv" << badContainer << "stereo.mp4"
                                 << "clip.mp4"
                                 << "-of wmv";
    QTest::newRow("audio only for H264") << "coder" << H264 << "audio.wav"
                                         << "clip.mp4"
                                         << "no video";
    QTest::newRow("video only for M4A") << "coder" << M4A << "silent.mp4"
                                        << "clip.m4a"
                                        << "no audio";
    QTest::newRow("-r fast") << "coder"
                             << modern("libsvtav1", "libopus", {"-b", "800k", "-r", "fast"})
                             << "stereo.mp4"
                             << "clip.webm"
                             << "-r fast";
    QStringList badRate = mobile("176x144");
    badRate.replace(badRate.indexOf("12.2k"), "12k");
    QTest::newRow("AMR bitrate") << "coder2" << badRate << "stereo.mp4"
                                 << "clip.3gp"
                                 << "12.2k";
}

void TestToolsFailures::fails()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, inputName);
    QFETCH(QString, outputName);
    QFETCH(QString, reason);

    const QString folder = m_tools.freshFolder();
    const QString output = folder + QLatin1Char('/') + outputName;
    const QString source = m_tools.input(inputName);
    for (const char *placeholder : {"SCRATCH", "IN"})
        if (arguments.contains(placeholder))
            arguments.replace(arguments.indexOf(placeholder), source);
    arguments.replace(arguments.indexOf("OUT"), output);
    if (tool == QLatin1String("conv"))
        arguments.prepend(source);

    const ToolsFixture::Run run = m_tools.runTool(tool, arguments, folder);
    QVERIFY2(run.exitCode > 0, qPrintable(run.output));
    const QStringList lines = run.output.split(QRegularExpression("[\r\n]"), Qt::SkipEmptyParts);
    QVERIFY2(!lines.isEmpty() && lines.last().startsWith(QLatin1String("Error: ")),
             qPrintable(run.output));
    QVERIFY2(lines.last().contains(reason), qPrintable(lines.last()));
    QVERIFY(
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    // A failed conv must not show a percentage the progress reader could take.
    if (tool == QLatin1String("conv")) {
        QChar spinner('-');
        QVERIFY(!ProgressParser::parseStageOne(run.output, spinner));
    }
}

void TestToolsFailures::failsWhenTheDiskIsFull_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("outputName");
    QTest::newRow("conv MPEG4") << "conv" << QStringList{"IN"} + StageOneMpeg4 << "clip.mp4";
    QTest::newRow("coder MP3") << "coder" << Mp3 << "clip.mp3";
    QTest::newRow("coder RMVB") << "coder" << RealFixed << "clip.rmvb";
    QTest::newRow("coder2 3GP") << "coder2" << mobile("176x144") << "clip.3gp";
}

void TestToolsFailures::failsWhenTheDiskIsFull()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, outputName);
    const QString folder = m_tools.freshFolder();
    for (const char *placeholder : {"SCRATCH", "IN"})
        if (arguments.contains(placeholder))
            arguments.replace(arguments.indexOf(placeholder), m_tools.input("stereo.mp4"));
    arguments.replace(arguments.indexOf("OUT"), folder + QLatin1Char('/') + outputName);

    const ToolsFixture::Run run = m_tools.runTool(tool, arguments, folder, 20000);
    QVERIFY2(run.exitCode > 0, qPrintable(run.output));
    QVERIFY2(run.output.contains(QLatin1String("Error: ")), qPrintable(run.output));
    QVERIFY2(run.output.contains(QLatin1String("File too large")), qPrintable(run.output));
    QVERIFY(
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

void TestToolsFailures::refusesPlaylistsAndLists_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QString>("outputName");

    // Each names a real clip beside it (or a server of the test's own); followed, it would
    // convert, or make a request.
    const QByteArray hls = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n"
                           "#EXT-X-MEDIA-SEQUENCE:0\n#EXTINF:1.0,\nSEGMENT\n#EXT-X-ENDLIST\n";
    const QByteArray concat = "ffconcat version 1.0\nfile seg.ts\n";
    const QByteArray remote = QByteArray(hls).replace("SEGMENT", "http://127.0.0.1:PORT/x.ts");
    const QStringList mpeg4 = QStringList{"IN"} + StageOneMpeg4;
    for (const auto &[tool, arguments, output] :
         {std::tuple{QStringLiteral("conv"), mpeg4, QStringLiteral("clip.mp4")},
          std::tuple{QStringLiteral("coder"), Mp3, QStringLiteral("clip.mp3")},
          std::tuple{QStringLiteral("coder"), RealFixed, QStringLiteral("clip.rmvb")},
          std::tuple{QStringLiteral("coder2"), mobile("176x144"), QStringLiteral("clip.3gp")}}) {
        const QString name = tool + QLatin1Char(' ') + output.section(QLatin1Char('.'), 1);
        QTest::addRow("%s, HLS playlist", qPrintable(name)) << tool << arguments << hls << output;
        QTest::addRow("%s, ffconcat list", qPrintable(name))
            << tool << arguments << concat << output;
        QTest::addRow("%s, playlist naming a server", qPrintable(name))
            << tool << arguments << remote << output;
    }
}

// A playlist or list file named like a video must fail as what it is, and open nothing it
// names: neither the clip beside it nor an address on the network.
void TestToolsFailures::refusesPlaylistsAndLists()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, list);
    QFETCH(QString, outputName);

    const int server = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    QVERIFY(server >= 0);
    const auto closeServer = qScopeGuard([server] { close(server); });
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QVERIFY(bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
    QVERIFY(listen(server, 4) == 0);
    QVERIFY(getsockname(server, reinterpret_cast<sockaddr *>(&address), &length) == 0);

    const QString folder = m_tools.freshFolder();
    const QString segment = folder + QStringLiteral("/seg.ts");
    QVERIFY(QFile::copy(m_tools.input("segment.ts"), segment));
    const QString holiday = folder + QStringLiteral("/holiday.mp4");
    QFile file(holiday);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(list.replace("SEGMENT", segment.toUtf8())
                   .replace("PORT", QByteArray::number(ntohs(address.sin_port))));
    file.close();
    const QString output = folder + QLatin1Char('/') + outputName;
    for (QString &argument : arguments)
        argument = ToolsFixture::toolArgument(argument, holiday, output);

    const ToolsFixture::Run run = m_tools.runTool(tool, arguments, folder);
    QCOMPARE(run.exitCode, ToolContract::ExitFailed);
    const QStringList lines = run.output.split(QRegularExpression("[\r\n]"), Qt::SkipEmptyParts);
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.last(), QString::fromUtf8(ToolContract::ErrorPrefix) +
                               ToolContract::Error::NotMediaFile + holiday);
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{"holiday.mp4", "seg.ts"}));
    pollfd waiting = {server, POLLIN, 0};
    QVERIFY2(poll(&waiting, 1, 0) == 0, "the tool connected to the address in the playlist");
}

void TestToolsFailures::rewordedTextChangesNothing_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("outputName");
    QTest::newRow("conv MPG") << "conv" << QStringList{"IN"} + StageOneMpeg2 << "clip.mpg";
    QTest::newRow("coder MP3") << "coder" << Mp3 << "clip.mp3";
    QTest::newRow("coder RMVB") << "coder" << RealFixed << "clip.rmvb";
    QTest::newRow("coder2 3GP") << "coder2" << mobile("176x144") << "clip.3gp";
}

// A wrapper, or another ffmpeg, may print the description of the streams in words of its own:
// the tools read the file themselves, so the same bytes come out.
void TestToolsFailures::rewordedTextChangesNothing()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, outputName);
    const QString wrapper = m_tools.standInFfmpeg(
        "/usr/bin/ffmpeg \"$@\" 2> >(sed -u 's/Input #/INPUT #/; s/Output #/OUTPUT #/; "
        "s/Stream #/STREAM #/; s/Duration:/Length:/; s/Stream mapping/Streams/' >&2)\n");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QByteArray written[2];
    for (int reworded = 0; reworded < 2; ++reworded) {
        if (reworded)
            environment.insert("PATH", wrapper + QLatin1Char(':') + environment.value("PATH"));
        const QString folder = m_tools.freshFolder();
        QStringList run = arguments;
        for (QString &argument : run)
            argument = ToolsFixture::toolArgument(argument, m_tools.input("stereo.mp4"),
                                                  folder + QLatin1Char('/') + outputName);
        const ToolsFixture::Run ran = m_tools.runTool(tool, run, folder, 0, environment);
        QVERIFY2(ran.exitCode == 0, qPrintable(ran.output));
        QFile output(folder + QLatin1Char('/') + outputName);
        QVERIFY(output.open(QIODevice::ReadOnly));
        written[reworded] = QCryptographicHash::hash(output.readAll(), QCryptographicHash::Md5);
    }
    QCOMPARE(written[1], written[0]);
}

QTEST_GUILESS_MAIN(TestToolsFailures)
#include "test_tools_failures.moc"
