// Every format looks and sounds like its source: sound in sync with the picture, the picture's
// shape and colours, the sound track a player picks, interlaced pictures deinterlaced, one
// downmix. Each row converts a small lavfi-made clip as the converter does and measures the
// output the way a player shows it.
#include "MediaMeasure.h"
#include "ToolCommands.h"
#include "ToolsFixture.h"

#include <QHash>
#include <QTest>
#include <cmath>

class TestToolsFidelity : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void keepsSync_data();
    void keepsSync();
    void keepsTheShape_data();
    void keepsTheShape();
    void takesTheDefaultSoundTrack_data();
    void takesTheDefaultSoundTrack();
    void keepsTheColours_data();
    void keepsTheColours();
    void deinterlacesOnlyInterlacedPictures_data();
    void deinterlacesOnlyInterlacedPictures();
    void surroundNeverClips_data();
    void surroundNeverClips();
    void dialogueAsLoudInEveryFormat_data();
    void dialogueAsLoudInEveryFormat();

private:
    // The source named, made on first use.
    QString source(const QString &name);
    // The output of the format for the source, made once.
    QString converted(const QString &sourceName, const QString &format);

    ToolsFixture m_tools;
    QHash<QString, QString> m_outputs;
};

namespace {

// A clip with a white flash at each whole second from the first and a 1 kHz beep at the same
// moment, the sound starting `soundLater` seconds after the picture (before it when negative).
QStringList syncClip(double rate, const QString &rateText, double soundLater, int flashFrames,
                     const QStringList &codecs)
{
    constexpr int Seconds = 4;
    QStringList flashes, beeps;
    for (int second = 1; second < Seconds; ++second) {
        const int frame = int(std::ceil(second * rate - 1e-9));
        flashes.append(QStringLiteral("between(n,%1,%2)").arg(frame).arg(frame + flashFrames - 1));
        const double time = frame / rate;
        beeps.append(
            QStringLiteral("between(t,%1,%2)").arg(time, 0, 'f', 6).arg(time + 0.1, 0, 'f', 6));
    }
    const QStringList picture = {"-f", "lavfi", "-i",
                                 QStringLiteral("color=black:size=320x240:rate=%1:duration=%2,"
                                                "drawbox=color=white:thickness=fill:enable='%3'")
                                     .arg(rateText)
                                     .arg(Seconds)
                                     .arg(flashes.join('+'))};
    const QStringList sound = {"-f", "lavfi", "-i",
                               QStringLiteral("aevalsrc='0.5*sin(2*PI*1000*t)*(%1)':s=48000:d=%2")
                                   .arg(beeps.join('+'))
                                   .arg(Seconds)};
    const QStringList later = {"-itsoffset", QString::number(std::fabs(soundLater))};
    return (soundLater < 0 ? later + picture + sound : picture + later + sound) + codecs;
}

// A sound whose centre channel speaks (or both channels of a stereo one): noise in the band of
// speech, which even AMR-NB, a codec for speech, keeps nearly as loud as it is; the other
// channels silent, so that the downmix alone sets its level.
QStringList centreVoice(const QString &layout)
{
    const QString voice = layout == QLatin1String("stereo") ? "c0=c0|c1=c0" : "c2=c0";
    return {"-f", "lavfi", "-i",
            "anoisesrc=color=pink:amplitude=0.5:duration=2:sample_rate=48000:seed=7,"
            "highpass=f=300,lowpass=f=3000,pan=" +
                layout + "|" + voice};
}

// ffmpeg's arguments for each source clip (made into the inputs folder under its name).
QHash<QString, QStringList> sources()
{
    const QStringList h264 = {"-c:v", "libx264", "-preset", "ultrafast"};
    const QStringList picture = {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=2"};
    const QStringList tone = {"-f", "lavfi", "-i", "sine=frequency=440:duration=2"};
    QStringList noise;
    for (int seed = 1; seed <= 6; ++seed)
        noise += QStringList{"-f", "lavfi", "-i",
                             QStringLiteral("anoisesrc=color=pink:amplitude=0.99:seed=%1:"
                                            "duration=2:sample_rate=48000")
                                 .arg(seed)};
    const auto bars = [&h264](const char *size) {
        return QStringList{"-f", "lavfi", "-i",
                           QStringLiteral("smptehdbars=size=%1:rate=5:duration=0.6,"
                                          "setparams=colorspace=bt709:color_primaries=bt709:"
                                          "color_trc=bt709:range=tv")
                               .arg(QLatin1String(size))} +
               h264 + QStringList{"-qp", "0"};
    };
    // The same bars as a phone or a TV records them in HDR: BT.2020, 10 bits, HLG or PQ, with
    // SDR's white at 100 nits.
    const auto hdr = [](const char *size, const char *transfer) {
        return QStringList{
            "-f",
            "lavfi",
            "-i",
            QStringLiteral("smptehdbars=size=%1:rate=5:duration=0.6,zscale=tin=bt709:"
                           "min=bt709:pin=bt709:rin=tv:t=%2:m=2020_ncl:p=bt2020:"
                           "r=tv:npl=100,format=yuv420p10le")
                .arg(QLatin1String(size), QLatin1String(transfer)),
            "-c:v",
            "libx265",
            "-x265-params",
            "log-level=error:lossless=1",
            "-color_primaries",
            "bt2020",
            "-color_trc",
            transfer,
            "-colorspace",
            "bt2020nc"};
    };
    return {
        {"hlg720.mp4", hdr("1280x720", "arib-std-b67")},
        {"pq360.mp4", hdr("640x360", "smpte2084")},
        {"late.ts", syncClip(25, "25", 0.3, 1, {"-c:v", "mpeg2video", "-c:a", "mp2"})},
        {"early.mp4", syncClip(25, "25", -0.4, 1, h264 + QStringList{"-c:a", "aac"})},
        {"ntsc.mp4",
         syncClip(24000.0 / 1001, "24000/1001", 0.2, 1, h264 + QStringList{"-c:a", "aac"})},
        {"sixty.mkv", syncClip(60, "60", 0.25, 3, h264 + QStringList{"-c:a", "flac"})},
        // Every fifth frame left out: the frames come at uneven times.
        {"variable.mkv", syncClip(30, "30", 0.1, 1,
                                  h264 + QStringList{"-vf", "select='not(eq(mod(n,5),2))'",
                                                     "-vsync", "vfr", "-c:a", "flac"})},
        {"anamorphic.mpg",
         QStringList{"-f", "lavfi", "-i", "testsrc2=size=720x576:rate=25:duration=0.6"} + tone +
             QStringList{"-vf", "setsar=64/45", "-c:v", "mpeg2video", "-c:a", "mp2", "-t", "0.6"}},
        {"landscape.mp4",
         QStringList{"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=0.6"} + tone +
             h264 + QStringList{"-c:a", "aac", "-t", "0.6"}},
        {"fourbythree.mp4",
         QStringList{"-f", "lavfi", "-i", "testsrc2=size=640x480:rate=25:duration=0.6"} + tone +
             h264 + QStringList{"-c:a", "aac", "-t", "0.6"}},
        // The first track, not flagged, at 440 Hz; the second, flagged default, at 1000 Hz.
        {"twotracks.mp4",
         picture + tone +
             QStringList{"-f", "lavfi", "-i", "sine=frequency=1000:duration=2", "-map", "0", "-map",
                         "1", "-map", "2"} +
             h264 +
             QStringList{"-c:a", "aac", "-disposition:a:0", "0", "-disposition:a:1", "default"}},
        {"bars720.mp4", bars("1280x720")},
        {"bars360.mp4", bars("640x360")},
        // A screen recording: the picture kept as RGB.
        {"barsrgb.mkv",
         {"-f", "lavfi", "-i", "smptehdbars=size=1280x720:rate=5:duration=0.6,format=rgb24", "-c:v",
          "png"}},
        {"interlaced.mpg",
         QStringList{"-f", "lavfi", "-i", "testsrc2=size=720x576:rate=50:duration=1"} + tone +
             QStringList{"-vf", "interlace=scan=tff,setsar=16/15", "-c:v", "mpeg2video", "-flags",
                         "+ildct+ilme", "-top", "1", "-b:v", "8M", "-c:a", "mp2", "-t", "1"}},
        // Progressive, and as combed as a picture can look: lines of one pixel, black and white.
        {"stripes.mp4", QStringList{"-f", "lavfi", "-i",
                                    "color=gray:size=320x240:rate=25:duration=1,"
                                    "geq=lum='if(mod(Y,2),235,16)':cb=128:cr=128"} +
                            tone + h264 + QStringList{"-qp", "0", "-c:a", "aac", "-t", "1"}},
        {"loud51.mkv",
         picture + noise +
             QStringList{"-filter_complex", "[1][2][3][6][4][5]join=inputs=6:channel_layout=5.1[a]",
                         "-map", "0:v", "-map", "[a]"} +
             h264 + QStringList{"-c:a", "flac", "-t", "2"}},
        {"centre51.mkv", picture + centreVoice("5.1") + h264 + QStringList{"-c:a", "flac"}},
        {"centre71.mkv", picture + centreVoice("7.1") + h264 + QStringList{"-c:a", "flac"}},
        {"stereo.mkv", picture + centreVoice("stereo") + h264 + QStringList{"-c:a", "flac"}},
    };
}

QString describe(const QHash<QString, double> &levels)
{
    QStringList described;
    for (auto level = levels.begin(); level != levels.end(); ++level)
        described.append(QStringLiteral("%1 %2").arg(level.key()).arg(level.value(), 0, 'f', 1));
    described.sort();
    return described.join(", ");
}

} // namespace

void TestToolsFidelity::initTestCase()
{
    const QString error = m_tools.prepare({});
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

QString TestToolsFidelity::source(const QString &name)
{
    // A phone clip whose file says it is shown turned a quarter.
    if (name == QLatin1String("portrait.mp4"))
        return m_tools.made(name, {"-i", "file:" + source("landscape.mp4"), "-c", "copy",
                                   "-metadata:s:v:0", "rotate=90"});
    return m_tools.made(name, sources().value(name));
}

QString TestToolsFidelity::converted(const QString &sourceName, const QString &format)
{
    const QString key = sourceName + QLatin1Char('/') + format;
    if (!m_outputs.contains(key)) {
        const QString input = source(sourceName);
        if (input.isEmpty())
            return QString();
        QString failure;
        const QString output =
            m_tools.convert(ToolCommands::format(format), input, m_tools.freshFolder(), &failure);
        if (output.isEmpty())
            qWarning("%s", qPrintable(failure.right(2000)));
        m_outputs.insert(key, output);
    }
    return m_outputs.value(key);
}

void TestToolsFidelity::keepsSync_data()
{
    QTest::addColumn<QString>("clip");
    QTest::addColumn<QString>("format");
    for (const char *format : {"RMVB", "MPG", "AVI", "MPEG4", "MOV", "3GP", "H264"})
        QTest::addRow("sound late, %s", format) << "late.ts" << format;
    for (const char *format : {"RM 640x360", "MP4", "AV1"})
        QTest::addRow("sound early, %s", format) << "early.mp4" << format;
    for (const char *format : {"MPG", "H265"})
        QTest::addRow("23.976 fps, %s", format) << "ntsc.mp4" << format;
    for (const char *format : {"AVI", "MOV"})
        QTest::addRow("60 fps, %s", format) << "sixty.mkv" << format;
    for (const char *format : {"MPEG4", "H264"})
        QTest::addRow("variable frame rate, %s", format) << "variable.mkv" << format;
}

// Each beep comes with its flash, as in the source, within 40 ms.
void TestToolsFidelity::keepsSync()
{
    QFETCH(QString, clip);
    QFETCH(QString, format);
    const QString output = converted(clip, format);
    QVERIFY(!output.isEmpty());
    const QList<int> source = MediaMeasure::syncOffsets(m_tools.input(clip));
    const QList<int> written = MediaMeasure::syncOffsets(output);
    QCOMPARE(source.size(), 3);
    QCOMPARE(written.size(), source.size());
    for (int i = 0; i < source.size(); ++i)
        QVERIFY2(std::abs(written[i] - source[i]) <= 40,
                 qPrintable(QStringLiteral("beep %1 ms after its flash, %2 ms in the source")
                                .arg(written[i])
                                .arg(source[i])));
}

void TestToolsFidelity::keepsTheShape_data()
{
    QTest::addColumn<QString>("clip");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("sized"); // a frame size was chosen: only the picture inside counts
    for (const char *format : {"RMVB", "MPG", "AVI", "MPEG4", "MOV", "3GP", "H265"})
        QTest::addRow("PAL 16:9, %s", format) << "anamorphic.mpg" << format << false;
    QTest::newRow("PAL 16:9, RM 640x360") << "anamorphic.mpg"
                                          << "RM 640x360" << true;
    for (const char *format : {"RMVB", "MPEG4", "MP4"})
        QTest::addRow("portrait phone clip, %s", format) << "portrait.mp4" << format << false;
    QTest::newRow("portrait phone clip, RM 640x360") << "portrait.mp4"
                                                     << "RM 640x360" << true;
    QTest::newRow("4:3, RM 640x360") << "fourbythree.mp4"
                                     << "RM 640x360" << true;
    QTest::newRow("4:3, H264") << "fourbythree.mp4"
                               << "H264" << false;
}

// The picture is shown in its own shape, within 2 %: a chosen size fits it inside with bars.
void TestToolsFidelity::keepsTheShape()
{
    QFETCH(QString, clip);
    QFETCH(QString, format);
    QFETCH(bool, sized);
    const QString output = converted(clip, format);
    QVERIFY(!output.isEmpty());
    const double shape = MediaMeasure::displayAspect(source(clip));
    QVERIFY(shape > 0);
    const double picture = MediaMeasure::pictureAspect(output);
    QVERIFY2(std::fabs(picture / shape - 1) <= 0.02,
             qPrintable(QStringLiteral("the picture shows at %1 for %2").arg(picture).arg(shape)));
    if (sized)
        return;
    const double frame = MediaMeasure::displayAspect(output);
    QVERIFY2(std::fabs(frame / shape - 1) <= 0.02,
             qPrintable(QStringLiteral("the frame shows at %1 for %2").arg(frame).arg(shape)));
}

void TestToolsFidelity::takesTheDefaultSoundTrack_data()
{
    QTest::addColumn<QString>("format");
    for (const char *format : {"MPEG4", "MOV", "3GP", "MP3", "H264"})
        QTest::newRow(format) << format;
}

// The second of two sound tracks is flagged default: every format plays it (1000 Hz), not the
// first (440 Hz).
void TestToolsFidelity::takesTheDefaultSoundTrack()
{
    QFETCH(QString, format);
    const QString output = converted("twotracks.mp4", format);
    QVERIFY(!output.isEmpty());
    const double above = MediaMeasure::highOverLow(output, 700);
    QVERIFY2(above > 10, qPrintable(QStringLiteral("%1 dB above 700 Hz").arg(above)));
}

void TestToolsFidelity::keepsTheColours_data()
{
    QTest::addColumn<QString>("clip");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("reference"); // the clip whose bars the output must show
    QTest::addColumn<double>("tolerance");  // in 1/255 of each channel
    for (const char *format : {"RMVB", "RM 640x360", "3GP", "MOV", "H264"})
        QTest::addRow("HD, %s", format) << "bars720.mp4" << format << "bars720.mp4" << 3.0;
    for (const char *format : {"MPEG4", "AVI", "MP4", "H265"})
        QTest::addRow("SD told BT.709, %s", format)
            << "bars360.mp4" << format << "bars360.mp4" << 3.0;
    for (const char *format : {"MPEG4", "H264"})
        QTest::addRow("HD in RGB, %s", format) << "barsrgb.mkv" << format << "barsrgb.mkv" << 3.0;
    // HDR into 8-bit SDR is tone-mapped: the SDR bars, not washed out ones (as an HD picture
    // shows them: the untagged SD bars above are read as BT.601).
    for (const char *format : {"RMVB", "H264"})
        QTest::addRow("HLG, %s", format) << "hlg720.mp4" << format << "bars720.mp4" << 25.0;
    for (const char *format : {"MPG", "MOV", "AV1"})
        QTest::addRow("PQ, %s", format) << "pq360.mp4" << format << "bars720.mp4" << 25.0;
}

void TestToolsFidelity::keepsTheColours()
{
    QFETCH(QString, clip);
    QFETCH(QString, format);
    QFETCH(QString, reference);
    QFETCH(double, tolerance);
    const QString output = converted(clip, format);
    QVERIFY(!output.isEmpty());
    QVERIFY(!source(reference).isEmpty());
    const QVector<double> source = MediaMeasure::barColours(m_tools.input(reference));
    const QVector<double> written = MediaMeasure::barColours(output);
    QCOMPARE(written.size(), source.size());
    QVERIFY(!source.isEmpty());
    for (int i = 0; i < source.size(); ++i)
        QVERIFY2(std::fabs(written[i] - source[i]) <= tolerance,
                 qPrintable(QStringLiteral("bar %1, %2: %3 for %4")
                                .arg(i / 3)
                                .arg("RGB"[i % 3])
                                .arg(written[i])
                                .arg(source[i])));
}

void TestToolsFidelity::deinterlacesOnlyInterlacedPictures_data()
{
    QTest::addColumn<QString>("clip");
    QTest::addColumn<QString>("format");
    for (const char *format : {"MPG", "MPEG4", "3GP", "H264"})
        QTest::addRow("576i, %s", format) << "interlaced.mpg" << format;
    for (const char *format : {"MPEG4", "H264"})
        QTest::addRow("progressive lines, %s", format) << "stripes.mp4" << format;
}

// A 576i picture comes out without combing; a progressive one, however combed it looks, comes
// out as it was.
void TestToolsFidelity::deinterlacesOnlyInterlacedPictures()
{
    QFETCH(QString, clip);
    QFETCH(QString, format);
    const QString output = converted(clip, format);
    QVERIFY(!output.isEmpty());
    if (clip == QLatin1String("interlaced.mpg")) {
        int frames = 0;
        const int combed = MediaMeasure::combedFrames(output, &frames);
        QVERIFY(frames > 0);
        QVERIFY2(combed * 10 <= frames,
                 qPrintable(QStringLiteral("%1 of %2 frames combed").arg(combed).arg(frames)));
    } else {
        const double psnr = MediaMeasure::firstFramePsnr(output, m_tools.input(clip));
        QVERIFY2(psnr >= 30, qPrintable(QStringLiteral("%1 dB PSNR").arg(psnr)));
    }
}

void TestToolsFidelity::surroundNeverClips_data()
{
    QTest::addColumn<QString>("format");
    for (const char *format : {"RMVB", "MPG", "MPEG4", "MOV", "H264", "AV1", "MP3", "FLAC"})
        QTest::newRow(format) << format;
}

// Six channels of loud noise come to stereo with no sample at full scale.
void TestToolsFidelity::surroundNeverClips()
{
    QFETCH(QString, format);
    const QString output = converted("loud51.mkv", format);
    QVERIFY(!output.isEmpty());
    const MediaMeasure::Levels levels = MediaMeasure::levels(output);
    QVERIFY2(levels.peak < -0.1, qPrintable(QStringLiteral("peak %1 dBFS").arg(levels.peak)));
    QVERIFY(levels.rms > -40);
}

void TestToolsFidelity::dialogueAsLoudInEveryFormat_data()
{
    QTest::addColumn<QString>("clip");
    QTest::newRow("5.1") << "centre51.mkv";
    QTest::newRow("7.1") << "centre71.mkv";
    QTest::newRow("stereo") << "stereo.mkv";
}

// A voice in the centre (or both channels of a stereo source) comes out equally loud, within
// 1 dB of the formats' middle, in stereo and in mono; a stereo source keeps its level.
void TestToolsFidelity::dialogueAsLoudInEveryFormat()
{
    QFETCH(QString, clip);
    QHash<QString, double> levels;
    double lowest = 1000, highest = -1000;
    for (const char *format : {"MPG", "RMVB", "3GP", "MP3", "M4A", "AV1"}) {
        const QString output = converted(clip, format);
        QVERIFY2(!output.isEmpty(), format);
        const double rms = MediaMeasure::levels(output).rms;
        levels.insert(format, rms);
        lowest = std::min(lowest, rms);
        highest = std::max(highest, rms);
    }
    QVERIFY2(highest - lowest <= 2, qPrintable(QStringLiteral("from %1 to %2 dBFS, %3")
                                                   .arg(lowest)
                                                   .arg(highest)
                                                   .arg(describe(levels))));
    if (clip == QLatin1String("stereo.mkv")) {
        const double source = MediaMeasure::levels(m_tools.input(clip)).rms;
        QVERIFY2(std::fabs(levels.value("M4A") - source) <= 1,
                 qPrintable(QStringLiteral("%1 dBFS for %2").arg(levels.value("M4A")).arg(source)));
    }
}

QTEST_GUILESS_MAIN(TestToolsFidelity)
#include "test_tools_fidelity.moc"
