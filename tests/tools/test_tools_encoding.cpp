// What each tool writes for each format: containers, codecs, sizes, rates, levels of quality
// and players, on clips of every size and the odd inputs a collection holds.
#include "ToolCommands.h"
#include "ToolsFixture.h"

#include "TestMedia.h"
#include "tools/ToolContract.h"
#include "tools/common/FrameLimits.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QProcess>
#include <QTest>
#include <QtEndian>

class TestToolsEncoding : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void encodes_data();
    void encodes();
    void anySizeAnyContent_data();
    void anySizeAnyContent();
    void awkwardInputs_data();
    void awkwardInputs();
    void softwareWhenTheChipCannot_data();
    void softwareWhenTheChipCannot();
    void encoderSettings_data();
    void encoderSettings();

private:
    ToolsFixture m_tools;
    QHash<QString, ToolsFixture::VideoInfo> m_videoInfo;
};

using namespace ToolCommands;

namespace {
// Whether an ISO file's index (moov) comes before its media data (mdat).
bool indexFirst(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    qint64 at = 0;
    while (at + 8 <= file.size()) {
        file.seek(at);
        const QByteArray head = file.read(16);
        quint64 size = qFromBigEndian<quint32>(head.constData());
        if (size == 1 && head.size() == 16)
            size = qFromBigEndian<quint64>(head.constData() + 8);
        const QByteArray type = head.mid(4, 4);
        if (type == "moov" || type == "mdat")
            return type == "moov";
        if (size < 8)
            return false;
        at += qint64(size);
    }
    return false;
}

// What mplayer says of a file it plays for ten frames: its -identify values without "ID_"
// ("VIDEO_CODEC", "AUDIO_CODEC", "EXIT"), and all it printed as "OUTPUT".
QMap<QString, QString> mplayerIdentify(const QString &path)
{
    QMap<QString, QString> values;
    QProcess mplayer;
    mplayer.setProcessChannelMode(QProcess::MergedChannels);
    mplayer.setStandardInputFile(QProcess::nullDevice());
    mplayer.start("mplayer", {"-really-quiet", "-identify", "-nolirc", "-vo", "null", "-ao", "null",
                              "-frames", "10", "--", path});
    if (!mplayer.waitForFinished(60000)) {
        values.insert("OUTPUT", "mplayer did not start or end (is it installed?)");
        return values;
    }
    const QString output = QString::fromUtf8(mplayer.readAll());
    values.insert("OUTPUT", output);
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("ID_")) && line.contains(QLatin1Char('=')))
            values.insert(line.mid(3).section(QLatin1Char('='), 0, 0),
                          line.section(QLatin1Char('='), 1).trimmed());
    }
    return values;
}
} // namespace

void TestToolsEncoding::initTestCase()
{
    const QString error = m_tools.prepare(ToolsFixture::clipNames());
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestToolsEncoding::encodes_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("inputName");
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("videoCodec");
    QTest::addColumn<QString>("audioCodec");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("frameRate"); // 0: not checked

    const QString mov = "mov,mp4,m4a,3gp,3g2,mj2";
    QTest::newRow("intermediate") << "conv" << StageOneIntermediate << "stereo.mp4"
                                  << "tmp.mp4"
                                  << "avi"
                                  << "mpeg4"
                                  << "mp3" << QSize(320, 180) << 44100 << 2 << 0.0;
    QTest::newRow("MPG") << "conv" << StageOneMpeg2 << "stereo.mp4"
                         << "clip.mpg"
                         << "mpeg"
                         << "mpeg2video"
                         << "mp2" << QSize(320, 180) << 44100 << 2 << 24.0;
    QTest::newRow("AVI") << "conv" << StageOneMpeg2 << "stereo.mp4"
                         << "clip.avi"
                         << "avi"
                         << "mpeg2video"
                         << "mp2" << QSize(320, 180) << 44100 << 2 << 24.0;
    QTest::newRow("MPEG4") << "conv" << StageOneMpeg4 << "stereo.mp4"
                           << "clip.mp4"
                           << "avi"
                           << "mpeg4"
                           << "mp3" << QSize(320, 180) << 44100 << 2 << 0.0;
    QTest::newRow("MP3") << "coder" << Mp3 << "stereo.mp4"
                         << "clip.mp3"
                         << "mp3"
                         << ""
                         << "mp3" << QSize() << 48000 << 2 << 0.0;
    QTest::newRow("RMVB") << "coder" << RealFixed << "stereo.mp4"
                          << "clip.rmvb"
                          << "rm"
                          << "rv10"
                          << "ac3" << QSize(336, 192) << 44100 << 2 << 0.0;
    QTest::newRow("RM") << "coder" << RealFixed << "stereo.mp4"
                        << "clip.rm"
                        << "rm"
                        << "rv10"
                        << "ac3" << QSize(336, 192) << 44100 << 2 << 0.0;
    QTest::newRow("MOV") << "coder" << MovFixed << "stereo.mp4"
                         << "clip.mov" << mov << "h264"
                         << "aac" << QSize(320, 180) << 48000 << 2 << 0.0;
    QTest::newRow("mobile MP4") << "coder2" << mobile("320x240") << "stereo.mp4"
                                << "clip.mp4" << mov << "mpeg4"
                                << "amr_nb" << QSize(320, 240) << 8000 << 1 << 0.0;
    QTest::newRow("3GP") << "coder2" << mobile("320x240") << "stereo.mp4"
                         << "clip.3gp" << mov << "mpeg4"
                         << "amr_nb" << QSize(320, 240) << 8000 << 1 << 0.0;
    QTest::newRow("RMVB sized") << "coder" << RealSized << "stereo.mp4"
                                << "clip.rmvb"
                                << "rm"
                                << "rv10"
                                << "ac3" << QSize(640, 480) << 44100 << 1 << 0.0;
    QTest::newRow("MOV sized") << "coder" << MovSized << "stereo.mp4"
                               << "clip.mov" << mov << "h264"
                               << "aac" << QSize(320, 240) << 48000 << 2 << 0.0;
    QTest::newRow("3GP sized") << "coder2" << mobile("176x144") << "stereo.mp4"
                               << "clip.3gp" << mov << "mpeg4"
                               << "amr_nb" << QSize(176, 144) << 8000 << 1 << 0.0;
    QStringList oddRate = StageOneMpeg2;
    oddRate.replace(oddRate.indexOf("24"), "13");
    QTest::newRow("MPG, rate MPEG-2 lacks")
        << "conv" << oddRate << "stereo.mp4"
        << "clip.mpg"
        << "mpeg"
        << "mpeg2video"
        << "mp2" << QSize(320, 180) << 44100 << 2 << 24000.0 / 1001;
    QTest::newRow("mono MPG") << "conv" << StageOneMpeg2 << "mono.mp4"
                              << "clip.mpg"
                              << "mpeg"
                              << "mpeg2video"
                              << "mp2" << QSize(640, 360) << 44100 << 1 << 24.0;
    QTest::newRow("mono MP3") << "coder" << Mp3 << "mono.mp4"
                              << "clip.mp3"
                              << "mp3"
                              << ""
                              << "mp3" << QSize() << 48000 << 2 << 0.0;
    QTest::newRow("mono RMVB") << "coder" << RealFixed << "mono.mp4"
                               << "clip.rmvb"
                               << "rm"
                               << "rv10"
                               << "ac3" << QSize(656, 368) << 44100 << 2 << 0.0;
    QTest::newRow("odd MPEG4") << "conv" << StageOneMpeg4 << "odd.mkv"
                               << "clip.mp4"
                               << "avi"
                               << "mpeg4"
                               << "mp3" << QSize(322, 242) << 44100 << 2 << 0.0;
    QTest::newRow("odd RMVB") << "coder" << RealFixed << "odd.mkv"
                              << "clip.rmvb"
                              << "rm"
                              << "rv10"
                              << "ac3" << QSize(336, 256) << 44100 << 2 << 0.0;
    QTest::newRow("odd MOV") << "coder" << MovFixed << "odd.mkv"
                             << "clip.mov" << mov << "h264"
                             << "aac" << QSize(322, 242) << 48000 << 2 << 0.0;
    QTest::newRow("silent MPEG4") << "conv" << StageOneMpeg4 << "silent.mp4"
                                  << "clip.mp4"
                                  << "avi"
                                  << "mpeg4"
                                  << "" << QSize(320, 180) << 0 << 0 << 0.0;
    QTest::newRow("silent 3GP") << "coder2" << mobile("176x144") << "silent.mp4"
                                << "clip.3gp" << mov << "mpeg4"
                                << "" << QSize(176, 144) << 0 << 0 << 0.0;
    QTest::newRow("audio-only MP3") << "coder" << Mp3 << "audio.wav"
                                    << "clip.mp3"
                                    << "mp3"
                                    << ""
                                    << "mp3" << QSize() << 48000 << 2 << 0.0;
    // 1920x1080 is 8160 macroblocks: too many for RealVideo 1, so it shrinks.
    QTest::newRow("large RMVB") << "coder" << RealFixed << "large.mkv"
                                << "clip.rmvb"
                                << "rm"
                                << "rv10"
                                << "ac3" << QSize(1344, 768) << 44100 << 2 << 0.0;
    // Today's formats keep the size and frame rate they are not told to change.
    QTest::newRow("H264") << "coder" << H264 << "stereo.mp4"
                          << "clip.mp4" << mov << "h264"
                          << "aac" << QSize(320, 180) << 48000 << 2 << 25.0;
    QTest::newRow("H265 176x144, 15 fps, mono 44100 Hz")
        << "coder"
        << modern("libx265", "aac", {"-b", "1000k", "-s", "176x144", "-r", "15"},
                  {"-ar", "44100", "-ab", "64k", "-ac", "1"})
        << "stereo.mp4"
        << "clip.mp4" << mov << "hevc"
        << "aac" << QSize(176, 144) << 44100 << 1 << 15.0;
    QTest::newRow("odd H265") << "coder" << H265 << "odd.mkv"
                              << "clip.mp4" << mov << "hevc"
                              << "aac" << QSize(322, 242) << 48000 << 2 << 25.0;
    // Opus has no 44100 Hz: the next rate it has.
    QTest::newRow("AV1 at 29 fps, 44100 Hz")
        << "coder"
        << modern("libsvtav1", "libopus", {"-b", "800k", "-r", "29"},
                  {"-ar", "44100", "-ab", "96k", "-ac", "2"})
        << "stereo.mp4"
        << "clip.webm"
        << "matroska,webm"
        << "av1"
        << "opus" << QSize(320, 180) << 48000 << 2 << 29.0;
    // SVT-AV1 takes at most 240 frames a second.
    QTest::newRow("AV1 at 300 fps")
        << "coder" << modern("libsvtav1", "libopus", {"-b", "800k", "-r", "300"}) << "mono.mp4"
        << "clip.webm"
        << "matroska,webm"
        << "av1"
        << "opus" << QSize(640, 360) << 48000 << 2 << 240.0;
    QTest::newRow("silent AV1") << "coder" << AV1 << "silent.mp4"
                                << "clip.webm"
                                << "matroska,webm"
                                << "av1"
                                << "" << QSize(320, 180) << 0 << 0 << 25.0;
    QTest::newRow("M4A") << "coder" << M4A << "mono.mp4"
                         << "clip.m4a" << mov << ""
                         << "aac" << QSize() << 48000 << 2 << 0.0;
    QTest::newRow("FLAC, 12050 Hz mono")
        << "coder" << modern("", "flac", {}, {"-ar", "12050", "-ac", "1"}) << "audio.wav"
        << "clip.flac"
        << "flac"
        << ""
        << "flac" << QSize() << 12050 << 1 << 0.0;
}

void TestToolsEncoding::encodes()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, inputName);
    QFETCH(QString, outputName);
    QFETCH(QString, container);
    QFETCH(QString, videoCodec);
    QFETCH(QString, audioCodec);
    QFETCH(QSize, size);
    QFETCH(int, sampleRate);
    QFETCH(int, channels);
    QFETCH(double, frameRate);

    const QString folder = m_tools.freshFolder();
    const QString output = folder + QLatin1Char('/') + outputName;
    if (arguments.contains("SCRATCH")) {
        const QString source =
            tool == QLatin1String("conv") ? output : m_tools.intermediate(inputName);
        QVERIFY2(!source.isEmpty(), "stage one failed");
        arguments.replace(arguments.indexOf("SCRATCH"), source);
    }
    if (arguments.contains("OUT"))
        arguments.replace(arguments.indexOf("OUT"), output);
    if (arguments.contains("IN"))
        arguments.replace(arguments.indexOf("IN"), m_tools.input(inputName));
    if (tool == QLatin1String("conv"))
        arguments.prepend(m_tools.input(inputName));

    const ToolsFixture::Run run = m_tools.runTool(tool, arguments, folder);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));

    // Nothing but the output is left: no hidden partial file, no pass log.
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{outputName});

    const TestMedia::Info info = TestMedia::probe(output);
    QVERIFY(info.readable);
    QCOMPARE(info.container, container);
    QCOMPARE(info.videoCodec, videoCodec);
    QCOMPARE(info.audioCodec, audioCodec);
    if (!videoCodec.isEmpty())
        QCOMPARE(info.size, size);
    QCOMPARE(info.sampleRate, sampleRate);
    QCOMPARE(info.channels, channels);
    if (frameRate > 0)
        QCOMPARE(info.frameRate, frameRate);
    // Constant-rate audio codecs must carry the bitrate the command asked for.
    const QStringList constantRate = {"mp3", "mp2", "ac3"};
    if (constantRate.contains(audioCodec))
        QCOMPARE(info.audioBitrate, requestedAudioBitrate(arguments));
    // AMR-NB 12.2k is stored as 32-byte frames (a header byte and 244 bits of speech) every
    // 20 ms; any other mode has a smaller frame.
    if (audioCodec == QLatin1String("amr_nb")) {
        QCOMPARE(requestedAudioBitrate(arguments), 12200);
        QCOMPARE(info.audioBitrate, 32 * 8 * 50);
    }
    if (audioCodec == QLatin1String("amr_nb"))
        QVERIFY2(info.majorBrand.startsWith(QLatin1String("3g")), qPrintable(info.majorBrand));
    if (isModern(arguments)) {
        // H.265 under the tag Apple's players want, the index of an MP4 ahead of its data so
        // that a browser plays it while it loads, and a second player besides ffmpeg.
        if (videoCodec == QLatin1String("hevc"))
            QCOMPARE(ToolsFixture::videoInfo(output).tag, QStringLiteral("hvc1"));
        if (container == QLatin1String("mov,mp4,m4a,3gp,3g2,mj2"))
            QVERIFY2(indexFirst(output), "the moov box follows the media data");
        const QMap<QString, QString> played = mplayerIdentify(output);
        QVERIFY2(played.value("EXIT") == QLatin1String("EOF"), qPrintable(played.value("OUTPUT")));
        QCOMPARE(played.contains("VIDEO_CODEC"), !videoCodec.isEmpty());
        QCOMPARE(played.contains("AUDIO_CODEC"), !audioCodec.isEmpty());
    }
    const double seconds = m_tools.inputSeconds(inputName);
    QVERIFY2(qAbs(info.duration - seconds) <= 0.2,
             qPrintable(QStringLiteral("%1 s for %2 s").arg(info.duration).arg(seconds)));
    const QString errors = TestMedia::decodeErrors(output);
    QVERIFY2(errors.isEmpty(), qPrintable(errors));

    qint32 durationRead = 0;
    const QList<double> progress =
        shownProgress(run.output, tool == QLatin1String("conv"), &durationRead);
    // Without the length every position would show as finished.
    if (tool != QLatin1String("conv"))
        QCOMPARE(durationRead, qint32(qRound(seconds)));
    QVERIFY2(!progress.isEmpty(), qPrintable(run.output));
    for (int i = 1; i < progress.size(); ++i)
        QVERIFY2(progress[i] >= progress[i - 1], qPrintable(run.output));
    QCOMPARE(progress.last(), 100.0);
}

void TestToolsEncoding::anySizeAnyContent_data()
{
    QTest::addColumn<QString>("clipName");
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("frames");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("lowest");

    const auto testsrc = [](const char *size) {
        return QStringLiteral("testsrc2=size=%1:rate=25").arg(QLatin1String(size));
    };
    const auto noise = [](const char *size) {
        return QStringLiteral("color=gray:size=%1:rate=25,noise=alls=100:allf=u")
            .arg(QLatin1String(size));
    };
    for (const char *format : {"MPG", "AVI", "MPEG4", "RMVB", "MOV", "3GP"}) {
        QTest::addRow("4096x2160 %s", format)
            << "4096x2160" << testsrc("4096x2160") << 2 << format << false;
        QTest::addRow("7680x4320 %s", format)
            << "7680x4320" << testsrc("7680x4320") << 2 << format << false;
    }
    for (const char *format : {"MPG", "MPEG4"})
        QTest::addRow("8192x4320 %s", format)
            << "8192x4320" << testsrc("8192x4320") << 2 << format << false;
    QTest::newRow("4096x2160 3GP 8192x4320")
        << "4096x2160" << testsrc("4096x2160") << 2 << "3GP 8192x4320" << false;
    for (const char *format : {"MPG", "MPEG4", "RMVB", "MOV", "3GP", "H264", "H265", "AV1"})
        QTest::addRow("16x16 %s", format) << "16x16" << testsrc("16x16") << 10 << format << false;
    // SVT-AV1 takes at most 8704 rows.
    QTest::newRow("200x9000 AV1") << "200x9000" << testsrc("200x9000") << 2 << "AV1" << false;
    for (const char *format : {"AVI", "RMVB", "MOV", "H265", "AV1"})
        QTest::addRow("333x187 %s", format)
            << "333x187" << testsrc("333x187") << 10 << format << false;
    for (const char *size : {"640x480", "1920x1080"}) {
        const int frames = QByteArray(size) == "640x480" ? 10 : 4;
        const QString name = QStringLiteral("noise ") + size;
        QTest::addRow("noise %s RMVB", size) << name << noise(size) << frames << "RMVB" << false;
        QTest::addRow("noise %s RM 640x480", size)
            << name << noise(size) << frames << "RM 640x480" << false;
        QTest::addRow("noise %s RM 640x480, lowest", size)
            << name << noise(size) << frames << "RM 640x480" << true;
    }
    for (const char *format : {"MPG", "AVI", "MPEG4"})
        QTest::addRow("noise 640x480 %s, lowest", format)
            << "noise 640x480" << noise("640x480") << 10 << format << true;
}

// Any picture from 16x16 to 8K, tiny or full of noise, converts to every video format, at the
// default bitrates and the lowest of the lists. A size an encoder cannot take is scaled down
// as Frames::fitted says, keeping its shape, and the tool says so; RealMedia's
// 64 kB packets hold any picture.
void TestToolsEncoding::anySizeAnyContent()
{
    QFETCH(QString, clipName);
    QFETCH(QString, source);
    QFETCH(int, frames);
    QFETCH(QString, format);
    QFETCH(bool, lowest);

    const bool noisy = clipName.startsWith(QLatin1String("noise"));
    const QString original =
        m_tools.clip(clipName + (noisy ? ".nut" : ".mkv"), source, frames,
                     noisy || clipName == QLatin1String("333x187") ? "ffv1" : "libx264");
    QVERIFY(!original.isEmpty());
    const VideoCommand command = videoCommand(format, lowest);
    const QString folder = m_tools.freshFolder();
    const QString output = folder + QStringLiteral("/clip.") + command.extension;

    // Stage two reads the intermediate file of stage one, made once per clip.
    QString stageTwoInput = original;
    if (command.arguments.contains(QLatin1String("SCRATCH"))) {
        QString failure;
        stageTwoInput = m_tools.intermediateOf(original, &failure);
        QVERIFY2(!stageTwoInput.isEmpty(), qPrintable(failure));
    }
    QStringList arguments = command.arguments;
    for (QString &argument : arguments)
        argument = ToolsFixture::toolArgument(argument, stageTwoInput, output);
    const ToolsFixture::Run run = m_tools.runTool(command.tool, arguments, folder);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output.right(2000)));

    const ToolsFixture::VideoInfo info = ToolsFixture::videoInfo(output);
    QCOMPARE(info.codec, command.codec);
    const Frames::Limits *limits = Frames::limitsOf(command.codec.toUtf8().constData());
    QVERIFY(limits);
    QVERIFY2(Frames::takes(*limits, info.size.width(), info.size.height()),
             qPrintable(QStringLiteral("%1x%2").arg(info.size.width()).arg(info.size.height())));

    // The size asked for: the -s size, or the picture the tool read.
    if (!m_videoInfo.contains(stageTwoInput))
        m_videoInfo.insert(stageTwoInput, ToolsFixture::videoInfo(stageTwoInput));
    const QSize read = m_videoInfo.value(stageTwoInput).size;
    const qsizetype s = arguments.indexOf(QLatin1String("-s"));
    const QSize wanted = s >= 0 ? sizeOf(arguments[s + 1]) : read;
    const Frames::Size fitted = Frames::fitted(*limits, wanted.width(), wanted.height());
    const QString note = QString::fromUtf8(ToolContract::NotePrefix) +
                         ToolContract::FrameScaledNote +
                         QStringLiteral("%1x%2 to %3x%4: ")
                             .arg(wanted.width())
                             .arg(wanted.height())
                             .arg(info.size.width())
                             .arg(info.size.height());
    if (noisy && command.codec == QLatin1String("rv10")) {
        // Too detailed for a packet: made smaller still, and said so.
        QVERIFY(info.size.width() <= fitted.width && info.size.height() <= fitted.height);
        if (info.size != QSize(fitted.width, fitted.height))
            QVERIFY2(run.output.contains(note), qPrintable(run.output));
    } else {
        // RealMedia stores no pixel shape: without -s its frame is whole macroblocks of the
        // picture's own shape around it, at most a few blank rows and columns larger than
        // Frames::fitted's size.
        if (command.codec == QLatin1String("rv10") && s < 0)
            QVERIFY2(
                info.size.width() <= fitted.width + 64 && info.size.height() <= fitted.height + 64,
                qPrintable(QStringLiteral("%1x%2").arg(info.size.width()).arg(info.size.height())));
        else
            QCOMPARE(info.size, QSize(fitted.width, fitted.height));
        const bool smaller = fitted.width < wanted.width() || fitted.height < wanted.height();
        QCOMPARE(run.output.contains(note), smaller);
        if (!smaller)
            QVERIFY2(!run.output.contains(QString::fromUtf8(ToolContract::NotePrefix) +
                                          ToolContract::FrameScaledNote),
                     qPrintable(run.output));
    }

    // The shape is kept, within what whole pixels and the encoder's units allow: the stored
    // picture's against the size asked for, and, without -s, the shape on screen against the
    // clip's (RealMedia stores no pixel shape, so -s there gives the shape of the -s size).
    const double units = double(limits->alignment);
    const double rounding = units / info.size.width() + units / info.size.height() + 0.002;
    const double stored = double(info.size.width()) / info.size.height();
    QVERIFY2(
        qAbs(stored / (double(wanted.width()) / wanted.height()) - 1) <= rounding,
        qPrintable(
            QStringLiteral("%1 for %2x%3").arg(stored).arg(wanted.width()).arg(wanted.height())));
    if (s < 0) {
        if (!m_videoInfo.contains(original))
            m_videoInfo.insert(original, ToolsFixture::videoInfo(original));
        const double shown = m_videoInfo.value(original).displayAspect();
        QVERIFY2(qAbs(info.displayAspect() / shown - 1) <= rounding,
                 qPrintable(QStringLiteral("%1 for %2").arg(info.displayAspect()).arg(shown)));
    }
    // MP2 has no 10.2 kbit/s: the nearest rate it always takes, and a word about it.
    if (lowest && command.codec == QLatin1String("mpeg2video")) {
        QVERIFY2(run.output.contains(QString::fromUtf8(ToolContract::NotePrefix) +
                                     ToolContract::Mp2BitrateNote +
                                     "10.2 kbit/s, it is written at 32 kbit/s\n"),
                 qPrintable(run.output));
        QCOMPARE(TestMedia::probe(output).audioBitrate, 32000);
    }
    const QString errors = TestMedia::decodeErrors(output);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.left(2000)));
}

void TestToolsEncoding::awkwardInputs_data()
{
    QTest::addColumn<QString>("inputName");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("cutShort");

    for (const char *format : {"MPG", "MPEG4", "H264", "H265", "AV1"}) {
        QTest::addRow("cover picture %s", format) << "cover.mp3" << format << false;
        QTest::addRow("one frame %s", format) << "oneframe.mp4" << format << false;
        QTest::addRow("5 fps %s", format) << "5fps.mp4" << format << false;
    }
    for (const char *format : {"MPG", "H264", "AV1"})
        QTest::addRow("300 fps %s", format) << "300fps.mp4" << format << false;
    for (const char *format : {"MP3", "M4A"}) {
        QTest::addRow("sound ends first %s", format) << "soundends.mp4" << format << false;
        QTest::addRow("cut short %s", format) << "cut.mp4" << format << true;
        // ffmpeg guesses its length from the first frame's bitrate: 15 s for 7.
        QTest::addRow("VBR MP3 without a Xing header %s", format) << "vbr.mp3" << format << false;
    }
    QTest::newRow("cut short H264") << "cut.mp4"
                                    << "H264" << true;
    QTest::newRow("Flash movie H264") << "movie.swf"
                                      << "H264" << false;
}

// Inputs an ordinary collection holds: a song with its cover picture, a single frame, few
// frames a second, slow motion, sound that ends before the picture, an old Flash movie, a VBR
// MP3 whose length ffmpeg can only guess. Each converts, and none is called shorter than it is;
// a file cut short still is.
void TestToolsEncoding::awkwardInputs()
{
    QFETCH(QString, inputName);
    QFETCH(QString, format);
    QFETCH(bool, cutShort);

    const QStringList sine = {"-f", "lavfi", "-i", "sine=duration=3"};
    const auto video = [](const char *rate, const char *seconds) {
        return QStringList{"-f", "lavfi", "-i",
                           QStringLiteral("testsrc2=size=160x120:rate=%1:duration=%2")
                               .arg(QLatin1String(rate), QLatin1String(seconds))};
    };
    const QHash<QString, QStringList> sources = {
        {"cover.mp3",
         sine + QStringList{"-f", "lavfi", "-i", "color=red:size=300x300:duration=0.04", "-map",
                            "0", "-map", "1", "-c:v", "mjpeg", "-disposition:v", "attached_pic"}},
        {"oneframe.mp4", video("25", "0.04") + QStringList{"-c:v", "libx264"}},
        {"movie.swf", video("25", "1") + QStringList{"-c:v", "flv1"}},
        {"movie.swf", video("25", "1") + QStringList{"-c:v", "flv1"}},
        {"5fps.mp4", video("5", "3") + QStringList{"-c:v", "libx264", "-bf", "3"}},
        {"300fps.mp4", video("300", "1") + QStringList{"-c:v", "libx264", "-preset", "ultrafast"}},
        // A second of silence, coded small, then six of loud noise.
        {"vbr.mp3",
         QStringList{"-f", "lavfi", "-i", "anullsrc=duration=1:sample_rate=44100", "-f", "lavfi",
                     "-i", "anoisesrc=duration=6:amplitude=0.5:sample_rate=44100",
                     "-filter_complex",
                     "[1]aformat=channel_layouts=stereo[n];[0][n]concat=n=2:v=0:a=1", "-c:a",
                     "libmp3lame", "-q:a", "0", "-write_xing", "0"}},
        {"soundends.mp4",
         video("25", "3") + sine + QStringList{"-t", "3", "-af", "atrim=end=1", "-c:v", "libx264"}},
    };
    QString path;
    if (inputName == QLatin1String("cut.mp4")) {
        path = m_tools.input(inputName);
        if (!QFile::exists(path))
            QCOMPARE(TestMedia::makeCutShort(path, QSize(160, 120), 5, 0.4), QString());
    } else {
        path = m_tools.made(inputName, sources.value(inputName));
    }
    QVERIFY(!path.isEmpty());

    VideoCommand command = videoCommand(format, false);
    if (format == QLatin1String("MP3"))
        command = {"coder", Mp3, "mp3", {}};
    else if (format == QLatin1String("M4A"))
        command = {"coder", M4A, "m4a", {}};
    QVERIFY(!command.tool.isEmpty());
    const QString folder = m_tools.freshFolder();
    const QString output = folder + QStringLiteral("/clip.") + command.extension;
    QStringList arguments = command.arguments;
    for (QString &argument : arguments)
        argument = ToolsFixture::toolArgument(argument, path, output);
    const ToolsFixture::Run run = m_tools.runTool(command.tool, arguments, folder);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output.right(2000)));

    const QString note =
        QString::fromUtf8(ToolContract::NotePrefix) + ToolContract::ShortOutputNote;
    QVERIFY2(run.output.contains(note) == cutShort, qPrintable(run.output));
    if (!command.codec.isEmpty())
        QCOMPARE(ToolsFixture::videoInfo(output).codec, command.codec);
    const QString errors = TestMedia::decodeErrors(output);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.left(2000)));
}

void TestToolsEncoding::softwareWhenTheChipCannot_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("device"); // VIDMORPH_VAAPI_DEVICE; "FILE": a plain file
    QTest::addColumn<QString>("note");
    QTest::addColumn<QByteArray>("signature"); // what the software encoder leaves in the stream
    const QString none = m_tools.path("no-render-node");
    QTest::newRow("no render node, H.264")
        << H264 << none << "libx264: no VAAPI render device at " + none
        << QByteArray("x264 - core");
    QTest::newRow("a plain file for a render node, H.265")
        << H265 << "FILE"
        << "libx265: hevc_vaapi does not work on " + m_tools.path("plain-file")
        << QByteArray("x265 (build");
    QTest::newRow("hardware switched off, H.264")
        << H264 << ""
        << "libx264: no VAAPI render device" << QByteArray("x264 - core");
}

// Without a graphics chip that encodes, H.264 and H.265 are encoded in software, and the
// tool's output (which the batch log keeps) says so and why.
void TestToolsEncoding::softwareWhenTheChipCannot()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, device);
    QFETCH(QString, note);
    QFETCH(QByteArray, signature);
    if (device == QLatin1String("FILE")) {
        device = m_tools.path("plain-file");
        QFile plain(device);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("not a device\n");
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VIDMORPH_VAAPI_DEVICE", device);
    const QString folder = m_tools.freshFolder();
    const QString output = folder + QStringLiteral("/clip.mp4");
    for (QString &argument : arguments)
        argument = ToolsFixture::toolArgument(argument, m_tools.input("stereo.mp4"), output);

    const ToolsFixture::Run run = m_tools.runTool("coder", arguments, folder, 0, environment);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    const QString line = QString::fromUtf8(ToolContract::NotePrefix) +
                         ToolContract::SoftwareEncoderNote + note + QLatin1Char('\n');
    QVERIFY2(run.output.contains(line), qPrintable(run.output));
    QVERIFY(!run.output.contains(QString::fromUtf8(ToolContract::HardwareEncoderNote)));
    QFile file(output);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY2(file.readAll().contains(signature), signature.constData());
    QCOMPARE(TestMedia::decodeErrors(output), QString());
}

void TestToolsEncoding::encoderSettings_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("threads");     // VIDMORPH_ENCODER_THREADS, empty: not set
    QTest::addColumn<QString>("chip");        // "none", "works", "refuses the file"
    QTest::addColumn<QString>("note");        // the encoder's note, empty for none
    QTest::addColumn<QStringList>("present"); // in the encoding's ffmpeg command line
    QTest::addColumn<QStringList>("absent");
    QTest::newRow("H.264 in software")
        << H264 << ""
        << "none"
        << "software video encoder libx264: no VAAPI render device at DEV"
        << QStringList{"-c:v libx264 -preset veryfast -b:v 1500000", "-pix_fmt yuv420p",
                       "-movflags +faststart"}
        << QStringList{"-threads", "vaapi"};
    QTest::newRow("H.264 on the chip")
        << H264 << ""
        << "works"
        << "hardware video encoder h264_vaapi on DEV"
        << QStringList{"-vaapi_device DEV", "-c:v h264_vaapi -b:v 1500000",
                       ",format=nv12,hwupload -movflags +faststart"}
        << QStringList{"-pix_fmt", "libx264"};
    QTest::newRow("H.265 on the chip, tagged hvc1")
        << H265 << ""
        << "works"
        << "hardware video encoder hevc_vaapi on DEV"
        << QStringList{"-c:v hevc_vaapi -tag:v hvc1", "format=nv12,hwupload"}
        << QStringList{"-pix_fmt", "libx265"};
    QTest::newRow("a chip that refuses the file: software after all")
        << H264 << ""
        << "refuses the file"
        << "software video encoder libx264: h264_vaapi failed on this input, "
        << QStringList{"-c:v libx264 -preset veryfast", "-pix_fmt yuv420p"} << QStringList{"vaapi"};
    QTest::newRow("H.264, two threads")
        << H264 << "2"
        << "none"
        << "software video encoder libx264"
        << QStringList{"-filter_threads 2 -threads 2 -protocol_whitelist",
                       "-c:v libx264 -preset veryfast -threads 2"}
        << QStringList{};
    QTest::newRow("H.265, one thread")
        << H265 << "1"
        << "none"
        << "software video encoder libx265"
        << QStringList{"-c:v libx265 -preset veryfast -tag:v hvc1 -x265-params "
                       "log-level=error:pools=1"}
        << QStringList{"-threads 1 -b:v"};
    QTest::newRow("H.265, threads left to x265")
        << H265 << ""
        << "none"
        << "software video encoder libx265" << QStringList{"-x265-params log-level=error -b:v"}
        << QStringList{"pools", "-threads"};
    QTest::newRow("AV1, one thread: no chip to ask")
        << AV1 << "1"
        << "works"
        << "" << QStringList{"-c:v libsvtav1 -preset 10 -svtav1-params lp=1", "-c:a libopus"}
        << QStringList{"vaapi", "-movflags"};
    // A quality level instead of a bitrate: the encoder's own rate factor, the chip's constant
    // quantiser.
    const QStringList h264Quality = modern("libx264", "aac", {"-crf", "22"});
    QTest::newRow("H.264 at a quality level")
        << h264Quality << ""
        << "none"
        << "software video encoder libx264"
        << QStringList{"-c:v libx264 -preset veryfast -crf 22 -vf"} << QStringList{"-b:v"};
    QTest::newRow("H.264 at a quality level on the chip")
        << h264Quality << ""
        << "works"
        << "hardware video encoder h264_vaapi on DEV"
        << QStringList{"-c:v h264_vaapi -rc_mode CQP -qp 22"} << QStringList{"-b:v", "-crf"};
    QTest::newRow("AV1 at a quality level")
        << modern("libsvtav1", "libopus", {"-crf", "35"}) << ""
        << "works"
        << "" << QStringList{"-c:v libsvtav1 -preset 10 -crf 35"} << QStringList{"-b:v"};
    QTest::newRow("not a number of threads: the encoder's choice")
        << H264 << "many"
        << "none"
        << "software video encoder libx264" << QStringList{"-c:v libx264"}
        << QStringList{"-threads"};
}

// The settings each encoder gets, read from the command line of a stand-in for ffmpeg: the
// graphics chip when its one-frame test passes, software when it does not or when it refuses
// the file itself, and the thread limit of VIDMORPH_ENCODER_THREADS.
void TestToolsEncoding::encoderSettings()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, threads);
    QFETCH(QString, chip);
    QFETCH(QString, note);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);

    const QString folder = m_tools.freshFolder();
    const QString log = folder + QStringLiteral("/ffmpeg.log");
    const QString standIn = m_tools.standInFfmpeg(
        "case \"$*\" in\n"
        "*color=black*) printf '%s\\n' \"$*\" >> \"$STANDIN_LOG\"; [ \"$STANDIN_CHIP\" != none ];"
        " exit ;;\n"
        "*_vaapi*) if [ \"$STANDIN_CHIP\" = 'refuses the file' ]; then\n"
        "    printf '%s\\n' \"$*\" >> \"$STANDIN_LOG\"\n"
        "    printf \"Input #0, avi, from 'x':\\nError while opening encoder\\n\" >&2; exit 1; fi "
        ";;\n"
        "esac\n"
        "printf \"Input #0, avi, from 'x':\\n  Duration: 00:00:02.00, start: 0.0\\n\" >&2\n"
        "printf \"  Stream #0:0: Video: mpeg4, yuv420p, 320x180, 25 fps, 25 tbr, 25 tbn\\n\" >&2\n"
        "printf \"  Stream #0:1: Audio: aac, 44100 Hz, stereo, fltp\\nInput #1, lavfi\\n\" >&2\n"
        // The command line as the filters the tool hands over make it.
        "args=(); prev=\n"
        "for arg; do case $prev in\n"
        "  -filter_script:v) args[-1]=-vf; args+=(\"$(cat \"$arg\")\") ;;\n"
        "  -filter_script:a) args[-1]=-af; args+=(\"$(cat \"$arg\")\") ;;\n"
        "  *) args+=(\"$arg\") ;;\n"
        "esac; prev=$arg; done\n"
        "printf '%s\\n' \"${args[*]}\" >> \"$STANDIN_LOG\"\n"
        "out=${@: -1}; cat \"$STANDIN_MEDIA\" > \"${out#file:}\"\n");
    // A plain file stands for the render node: the chip is what the stand-in says it is.
    const QString device = folder + QStringLiteral("/renderD128");
    QFile node(device);
    QVERIFY(node.open(QIODevice::WriteOnly));
    node.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", standIn + QLatin1Char(':') + environment.value("PATH"));
    environment.insert("STANDIN_LOG", log);
    environment.insert("STANDIN_CHIP", chip);
    // What it writes must play: the tool checks.
    environment.insert("STANDIN_MEDIA", m_tools.input("stereo.mp4"));
    environment.insert("VIDMORPH_VAAPI_DEVICE",
                       chip == QLatin1String("none") ? folder + "/none" : device);
    if (!threads.isEmpty())
        environment.insert("VIDMORPH_ENCODER_THREADS", threads);
    const QString output =
        folder + QStringLiteral("/clip.") + (arguments.contains("libsvtav1") ? "webm" : "mp4");
    for (QString &argument : arguments)
        argument = ToolsFixture::toolArgument(argument, m_tools.input("stereo.mp4"), output);

    const ToolsFixture::Run run = m_tools.runTool("coder", arguments, folder, 0, environment);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    note.replace("DEV", chip == QLatin1String("none") ? folder + "/none" : device);
    if (note.isEmpty())
        QVERIFY2(!run.output.contains("video encoder"), qPrintable(run.output));
    else
        QVERIFY2(run.output.contains(QString::fromUtf8(ToolContract::NotePrefix) + note),
                 qPrintable(run.output));
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList runs = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(!runs.isEmpty());
    // The chip's test comes first, and the file's encoding last.
    QCOMPARE(runs.first().contains("color=black"),
             chip != QLatin1String("none") && !note.isEmpty());
    const QString encoding = runs.last();
    for (QString text : present) {
        text.replace("DEV", device);
        QVERIFY2(encoding.contains(text), qPrintable(text + QStringLiteral(" not in ") + encoding));
    }
    for (const QString &text : absent)
        QVERIFY2(!encoding.contains(text), qPrintable(text + QStringLiteral(" in ") + encoding));
}

QTEST_GUILESS_MAIN(TestToolsEncoding)
#include "test_tools_encoding.moc"
