// The tools' readers of ffmpeg's text and of their own option values, without running ffmpeg.
#include "common/FfmpegText.h"

#include <QSize>
#include <QTest>

class TestFfmpegText : public QObject
{
    Q_OBJECT

private slots:
    void resourceShortage_data();
    void resourceShortage();
    void clock_data();
    void clock();
    void parseBitrate_data();
    void parseBitrate();
    void parseFrameRate_data();
    void parseFrameRate();
    void videoSizes_data();
    void videoSizes();
    void refusedPacketSize_data();
    void refusedPacketSize();
    void isPlainName_data();
    void isPlainName();
};

void TestFfmpegText::resourceShortage_data()
{
    namespace E = ToolContract::Error;
    QTest::addColumn<QByteArray>("errors");
    QTest::addColumn<QString>("shortage"); // empty: none
    QTest::newRow("libraries cannot be mapped")
        << QByteArray("ffmpeg: error while loading shared libraries: libaom.so.3: failed to map "
                      "segment from shared object\n")
        << QString::fromUtf8(E::OutOfMemory);
    QTest::newRow("encoder's allocation")
        << QByteArray("x264 [error]: malloc of size 1500068 failed\nError initializing output "
                      "stream 0:0 -- Error while opening encoder\nConversion failed!\n")
        << QString::fromUtf8(E::OutOfMemory);
    QTest::newRow("system's words")
        << QByteArray("Error opening output file: Cannot allocate memory\n")
        << QString::fromUtf8(E::OutOfMemory);
    QTest::newRow("no thread to be had")
        << QByteArray("[libx264 @ 0x1] Error: pthread_create: Resource temporarily unavailable\n")
        << QString::fromUtf8(E::OutOfProcesses);
    QTest::newRow("no file to be opened")
        << QByteArray("[mp4 @ 0x1] Error opening file: Too many open files\n")
        << QString::fromUtf8(E::OutOfDescriptors);
    QTest::newRow("a damaged file")
        << QByteArray("file:/a.avi: Invalid data found when processing input\n") << QString();
    // A title is printed, but it is no error line of ffmpeg's.
    QTest::newRow("a title that says so")
        << QByteArray("  Metadata:\n    title           : Cannot allocate memory\n"
                      "Error while decoding stream #0:0: Invalid data found\n")
        << QString();
}

void TestFfmpegText::resourceShortage()
{
    QFETCH(QByteArray, errors);
    QFETCH(QString, shortage);
    const char *found = FfmpegText::resourceShortage(errors.toStdString());
    QCOMPARE(QString::fromUtf8(found ? found : ""), shortage);
}

void TestFfmpegText::clock_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << "00:00:00.00";
    QTest::newRow("a minute and a bit") << 62.5 << "00:01:02.50";
    QTest::newRow("a hundred hours") << 360000.0 << "100:00:00.00";
    QTest::newRow("negative shows zero") << -3.0 << "00:00:00.00";
    QTest::newRow("largest length read") << 999999999999.99 << "277777777:46:39.99";
}

void TestFfmpegText::clock()
{
    QFETCH(double, seconds);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(FfmpegText::clock(seconds)), text);
}

void TestFfmpegText::parseBitrate_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("value");
    QTest::newRow("kilo") << QByteArray("128k") << true << 128000.0;
    QTest::newRow("fraction") << QByteArray("12.2k") << true << 12200.0;
    QTest::newRow("mega") << QByteArray("1.5M") << true << 1500000.0;
    QTest::newRow("plain") << QByteArray("64000") << true << 64000.0;
    QTest::newRow("limit") << QByteArray("1e12") << true << 1e12;
    QTest::newRow("zero") << QByteArray("0k") << false << 0.0;
    QTest::newRow("other suffix") << QByteArray("12kb") << false << 0.0;
    // Found by fuzz_coder: these were taken, and reached ffmpeg as garbage.
    QTest::newRow("infinite") << QByteArray("inf") << false << 0.0;
    QTest::newRow("beyond the limit") << QByteArray("1e300k") << false << 0.0;
    QTest::newRow("mega beyond the limit") << QByteArray("1000001M") << false << 0.0;
}

void TestFfmpegText::parseBitrate()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(double, value);
    double parsed = 0;
    QCOMPARE(FfmpegText::parseBitrate(text.toStdString(), parsed), ok);
    if (ok)
        QCOMPARE(parsed, value);
}

void TestFfmpegText::parseFrameRate_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("value");
    QTest::newRow("whole") << QByteArray("25") << true << 25.0;
    QTest::newRow("fraction") << QByteArray("29.97") << true << 29.97;
    QTest::newRow("ratio") << QByteArray("30000/1001") << true << 30000.0 / 1001;
    QTest::newRow("limit") << QByteArray("1000") << true << 1000.0;
    QTest::newRow("beyond the limit") << QByteArray("1000.5") << false << 0.0;
    QTest::newRow("zero") << QByteArray("0") << false << 0.0;
    QTest::newRow("ratio over zero") << QByteArray("25/0") << false << 0.0;
    QTest::newRow("no denominator") << QByteArray("25/") << false << 0.0;
    QTest::newRow("word") << QByteArray("fast") << false << 0.0;
    QTest::newRow("sign") << QByteArray("+25") << false << 0.0;
    QTest::newRow("blank first") << QByteArray(" 25") << false << 0.0;
    QTest::newRow("infinite") << QByteArray("inf") << false << 0.0;
    QTest::newRow("keep entry") << QByteArray("原始帧率") << false << 0.0;
}

void TestFfmpegText::parseFrameRate()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(double, value);
    double parsed = 0;
    QCOMPARE(FfmpegText::parseFrameRate(text.toStdString(), parsed), ok);
    if (ok)
        QCOMPARE(parsed, value);
}

void TestFfmpegText::videoSizes_data()
{
    QTest::addColumn<QByteArray>("errors");
    QTest::addColumn<QSize>("input"); // empty: not complete yet
    QTest::addColumn<QSize>("output");
    const QByteArray input =
        "Input #0, mov,mp4,m4a,3gp,3g2,mj2, from 'file:/a/b (1920x1080).mp4':\n"
        "  Duration: 00:00:20.00, start: 0.000000, bitrate: 600 kb/s\n"
        "  Stream #0:0[0x1](und): Audio: aac (LC) (mp4a / 0x6134706D), 44100 Hz, stereo\n"
        "  Stream #0:1[0x2](und): Video: h264 (High) (avc1 / 0x31637661), yuv420p(tv, "
        "bt709), 4096x2160 [SAR 1:1 DAR 256:135], 467 kb/s, 25 fps, 25 tbr (default)\n"
        "Stream mapping:\n";
    const QByteArray output =
        "Output #0, vob, to 'file:/a/.vidmorph-1-b.mpg':\n"
        "  Stream #0:0: Video: mpeg2video (Main), 1 reference frame, yuv420p(tv, "
        "progressive), 4094x2160 (0x0) [SAR 2048:2047 DAR 256:135], q=2-31, 600 kb/s\n";
    QTest::newRow("both") << input + output << QSize(4096, 2160) << QSize(4094, 2160);
    QTest::newRow("output line not complete") << input + output.chopped(1) << QSize() << QSize();
    QTest::newRow("no output yet") << input << QSize() << QSize();
    QTest::newRow("file names that look like streams")
        << QByteArray(input).replace("b (1920x1080).mp4", "x: Video: 9x9,.mp4") +
               QByteArray(output).replace(".vidmorph-1-b.mpg", "\n  Stream #0:0: Video: 7x7,")
        << QSize(4096, 2160) << QSize(4094, 2160);
    QTest::newRow("no video in the output")
        << input + "Output #0, mp3, to 'file:/a/b.mp3':\n  Stream #0:0: Audio: mp3\n"
        << QSize() << QSize();
}

void TestFfmpegText::videoSizes()
{
    QFETCH(QByteArray, errors);
    QFETCH(QSize, input);
    QFETCH(QSize, output);
    Frames::Size in = {}, out = {};
    QCOMPARE(FfmpegText::videoSizes(errors.toStdString(), in, out), !input.isEmpty());
    if (!input.isEmpty()) {
        QCOMPARE(QSize(in.width, in.height), input);
        QCOMPARE(QSize(out.width, out.height), output);
    }
}

void TestFfmpegText::refusedPacketSize_data()
{
    QTest::addColumn<QByteArray>("errors");
    QTest::addColumn<int>("size");
    QTest::newRow("refused") << QByteArray(
                                    "[rm @ 0x55c8] Muxing packets larger than 64 kB (219434) "
                                    "is not supported\nConversion failed!\n")
                             << 219434;
    QTest::newRow("other failure") << QByteArray("Error writing trailer: No space left\n") << 0;
}

void TestFfmpegText::refusedPacketSize()
{
    QFETCH(QByteArray, errors);
    QFETCH(int, size);
    QCOMPARE(FfmpegText::refusedPacketSize(errors.toStdString()), long(size));
}

void TestFfmpegText::isPlainName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("plain");
    QTest::newRow("an encoder") << "libx264" << true;
    QTest::newRow("a dash inside") << "libvpx-vp9" << true;
    QTest::newRow("an underscore") << "amr_nb" << true;
    QTest::newRow("nothing") << "" << false;
    QTest::newRow("an option") << "-f" << false;
    QTest::newRow("a dash alone") << "-" << false;
    QTest::newRow("an option after a blank") << "x -i" << false;
    QTest::newRow("a path") << "a/b" << false;
    QTest::newRow("a list") << "mp4,hls" << false;
    QTest::newRow("an option's value") << "x=1" << false;
}

// A name the tools hand to ffmpeg can never be taken for an option or carry one.
void TestFfmpegText::isPlainName()
{
    QFETCH(QString, name);
    QFETCH(bool, plain);
    QCOMPARE(FfmpegText::isPlainName(name.toStdString()), plain);
}

QTEST_APPLESS_MAIN(TestFfmpegText)
#include "test_ffmpegtext.moc"
