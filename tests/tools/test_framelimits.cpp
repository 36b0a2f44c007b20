// The encoders' frame-size limits: what the arithmetic gives, and that this
// machine's encoders take exactly what the table says they take.
#include "common/FrameLimits.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestFrameLimits : public QObject
{
    Q_OBJECT

private slots:
    void fittedFrame_data();
    void fittedFrame();
    void fittedFrameIsTakenAndNoLargerThanNeeded();
    void encodersTakeWhatTheTableSays_data();
    void encodersTakeWhatTheTableSays();

private:
    QTemporaryDir m_dir;
};

using Frames::Size;

void TestFrameLimits::fittedFrame_data()
{
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("coded");
    QTest::newRow("MPEG-2 within limits") << "mpeg2video" << QSize(7680, 4320) << QSize(7680, 4320);
    QTest::newRow("MPEG-2, odd size padded") << "mpeg2video" << QSize(321, 241) << QSize(322, 242);
    QTest::newRow("MPEG-2, width 4096") << "mpeg2video" << QSize(4096, 2160) << QSize(4094, 2160);
    QTest::newRow("MPEG-2, width 8192") << "mpeg2video" << QSize(8192, 4320) << QSize(8190, 4320);
    QTest::newRow("MPEG-2, odd width padded to 4096")
        << "mpeg2video" << QSize(4095, 2161) << QSize(4094, 2162);
    QTest::newRow("MPEG-2, too wide") << "mpeg2video" << QSize(16384, 9216) << QSize(16382, 9214);
    QTest::newRow("MPEG-4, 8K") << "mpeg4" << QSize(8192, 4320) << QSize(8190, 4318);
    QTest::newRow("MPEG-4, 16x16") << "mpeg4" << QSize(16, 16) << QSize(16, 16);
    QTest::newRow("MPEG-4, tall") << "mpeg4" << QSize(1000, 9000) << QSize(910, 8190);
    QTest::newRow("RealVideo, HD") << "rv10" << QSize(1920, 1080) << QSize(1344, 768);
    QTest::newRow("RealVideo, padded only") << "rv10" << QSize(333, 187) << QSize(336, 192);
    QTest::newRow("RealVideo, 4095 macroblocks")
        << "rv10" << QSize(1040, 1008) << QSize(1040, 1008);
    QTest::newRow("RealVideo, 4096 macroblocks")
        << "rv10" << QSize(1024, 1024) << QSize(1008, 1008);
    QTest::newRow("H.264, within limits") << "h264" << QSize(8192, 4320) << QSize(8192, 4320);
    QTest::newRow("H.264, too wide") << "h264" << QSize(16400, 1640) << QSize(16384, 1638);
    QTest::newRow("H.265, 8x8 padded to 32x32") << "hevc" << QSize(8, 8) << QSize(32, 32);
    QTest::newRow("H.265, odd") << "hevc" << QSize(321, 33) << QSize(322, 34);
    QTest::newRow("H.265, thin") << "hevc" << QSize(8192, 16) << QSize(8192, 32);
    QTest::newRow("AV1, 16x16 padded to 64x64") << "av1" << QSize(16, 16) << QSize(64, 64);
    QTest::newRow("AV1, too tall") << "av1" << QSize(1920, 10000) << QSize(1670, 8704);
    QTest::newRow("AV1, too tall and thin") << "av1" << QSize(32, 10000) << QSize(64, 8704);
}

void TestFrameLimits::fittedFrame()
{
    QFETCH(QString, codec);
    QFETCH(QSize, picture);
    QFETCH(QSize, coded);
    const Frames::Limits *limits = Frames::limitsOf(qPrintable(codec));
    QVERIFY(limits);
    const Size fitted = Frames::fitted(*limits, picture.width(), picture.height());
    QCOMPARE(QSize(fitted.width, fitted.height), coded);
}

// Whatever the picture, the encoder takes the fitted size; a picture it takes stays as it is,
// one it takes once padded is only padded.
void TestFrameLimits::fittedFrameIsTakenAndNoLargerThanNeeded()
{
    const int sides[] = {1,    2,    15,   16,   17,   99,   240,   719,   1080,  1920, 2048,
                         4095, 4096, 4097, 8190, 8191, 8192, 12288, 16382, 16383, 16384};
    for (const Frames::Limits &limits : Frames::table) {
        for (int width : sides) {
            for (int height : sides) {
                const Size fitted = Frames::fitted(limits, width, height);
                const QByteArray what = QByteArray(limits.codec) + ' ' + QByteArray::number(width) +
                                        'x' + QByteArray::number(height) + " -> " +
                                        QByteArray::number(fitted.width) + 'x' +
                                        QByteArray::number(fitted.height);
                QVERIFY2(Frames::takes(limits, fitted.width, fitted.height), what);
                const int a = limits.alignment;
                const int paddedWidth = qMax(limits.minSide, (width + a - 1) / a * a);
                const int paddedHeight = qMax(limits.minSide, (height + a - 1) / a * a);
                if (Frames::takes(limits, paddedWidth, paddedHeight))
                    QVERIFY2(fitted.width == paddedWidth && fitted.height == paddedHeight, what);
                else
                    QVERIFY2(fitted.width <= paddedWidth && fitted.height <= paddedHeight, what);
            }
        }
    }
}

void TestFrameLimits::encodersTakeWhatTheTableSays_data()
{
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QString>("encoder");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QSize>("size");
    const auto rows = [](const char *codec, const char *encoder, const char *format,
                         std::initializer_list<QSize> sizes) {
        for (const QSize &size : sizes)
            QTest::addRow("%s %dx%d", codec, size.width(), size.height())
                << codec << encoder << format << size;
    };
    // Each limit from both sides.
    rows("mpeg2video", "mpeg2video", "vob",
         {{16, 16},
          {4094, 16},
          {4096, 16},
          {16, 4096},
          {8190, 16},
          {8192, 16},
          {16382, 16},
          {16384, 16}});
    rows("mpeg4", "mpeg4", "avi", {{16, 16}, {8190, 16}, {8192, 16}, {16, 8190}, {16, 8192}});
    rows("rv10", "rv10", "rm",
         {{16, 16}, {24, 16}, {1040, 1008}, {1024, 1024}, {16368, 16}, {1920, 1088}});
    rows("h264", "libx264", "mov", {{16, 16}, {16384, 16}, {16400, 16}, {16, 16384}, {16, 16400}});
    // x265 takes more than the table says (see there): its limits are tried where they agree.
    rows("hevc", "libx265", "mp4", {{32, 32}, {14, 16}, {16, 14}, {16384, 32}, {32, 16384}});
    rows("av1", "libsvtav1", "webm",
         {{64, 64}, {62, 64}, {64, 62}, {16384, 64}, {16386, 64}, {64, 8704}, {64, 8706}});
}

void TestFrameLimits::encodersTakeWhatTheTableSays()
{
    QFETCH(QString, codec);
    QFETCH(QString, encoder);
    QFETCH(QString, format);
    QFETCH(QSize, size);
    const Frames::Limits *limits = Frames::limitsOf(qPrintable(codec));
    QVERIFY(limits);
    const bool takes = Frames::takes(*limits, size.width(), size.height());

    const QString output = m_dir.filePath(QStringLiteral("frame.") + format);
    QProcess ffmpeg;
    // x265 and SVT-AV1 talk on standard error unless asked not to; a word there is a failure.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("SVT_LOG", "1");
    ffmpeg.setProcessEnvironment(environment);
    ffmpeg.start(
        "ffmpeg",
        {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
         QStringLiteral("color=gray:size=%1x%2:rate=25").arg(size.width()).arg(size.height()),
         "-frames:v", "1", "-pix_fmt", "yuv420p", "-c:v", encoder, "-x265-params",
         "log-level=error", "-f", format, "file:" + output});
    QVERIFY(ffmpeg.waitForFinished(60000));
    const QByteArray errors = ffmpeg.readAllStandardError();
    QVERIFY2((ffmpeg.exitCode() == 0 && errors.isEmpty()) == takes, errors.constData());
    if (!takes)
        return;
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-show_entries", "stream=width,height", "-of", "csv=p=0",
                            "file:" + output});
    QVERIFY(probe.waitForFinished(60000));
    const QList<QByteArray> fields = probe.readAllStandardOutput().trimmed().split(',');
    QVERIFY(fields.size() >= 2);
    QCOMPARE(QSize(fields[0].toInt(), fields[1].toInt()), size);
}

QTEST_GUILESS_MAIN(TestFrameLimits)
#include "test_framelimits.moc"
