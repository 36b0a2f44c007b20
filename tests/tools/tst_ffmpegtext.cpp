// The tools' readers of ffmpeg's text and of their own option values, without running ffmpeg.
#include "common/FfmpegText.h"

#include <QTest>

class tst_FfmpegText : public QObject
{
    Q_OBJECT

private slots:
    void inputDuration_data();
    void inputDuration();
    void clock_data();
    void clock();
    void parseBitrate_data();
    void parseBitrate();
};

void tst_FfmpegText::inputDuration_data()
{
    QTest::addColumn<QByteArray>("errors");
    QTest::addColumn<bool>("found");
    QTest::addColumn<double>("seconds");
    QTest::newRow("banner") << QByteArray("Input #0, avi, from 'file:/a.avi':\n"
                                          "  Duration: 00:01:02.50, start: 0.000000\n")
                            << true << 62.5;
    QTest::newRow("not available")
        << QByteArray("Input #0, wav\n  Duration: N/A, bitrate: N/A") << true << -1.0;
    QTest::newRow("line not complete yet")
        << QByteArray("Input #0, wav\n  Duration: 00:0") << false << 0.0;
    QTest::newRow("output's duration only")
        << QByteArray("Output #0\n  Duration: 00:00:01.00, ") << false << 0.0;
    // clock() turned these into a long long, which is undefined (UBSan stops fuzz_ffmpegtext).
    QTest::newRow("infinite seconds")
        << QByteArray("Input #0\n  Duration: 00:00:inf, ") << true << -1.0;
    QTest::newRow("huge seconds") << QByteArray("Input #0\n  Duration: 00:00:1e300, ") << true
                                  << -1.0;
    QTest::newRow("not a number") << QByteArray("Input #0\n  Duration: 00:00:nan, ") << true
                                  << -1.0;
}

void tst_FfmpegText::inputDuration()
{
    QFETCH(QByteArray, errors);
    QFETCH(bool, found);
    QFETCH(double, seconds);
    double read = 0;
    QCOMPARE(FfmpegText::inputDuration(errors.toStdString(), read), found);
    if (found)
        QCOMPARE(read, seconds);
}

void tst_FfmpegText::clock_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << "00:00:00.00";
    QTest::newRow("a minute and a bit") << 62.5 << "00:01:02.50";
    QTest::newRow("a hundred hours") << 360000.0 << "100:00:00.00";
    QTest::newRow("negative shows zero") << -3.0 << "00:00:00.00";
    QTest::newRow("largest length read") << 999999999999.99 << "277777777:46:39.99";
}

void tst_FfmpegText::clock()
{
    QFETCH(double, seconds);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(FfmpegText::clock(seconds)), text);
}

void tst_FfmpegText::parseBitrate_data()
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

void tst_FfmpegText::parseBitrate()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(double, value);
    double parsed = 0;
    QCOMPARE(FfmpegText::parseBitrate(text.toStdString(), parsed), ok);
    if (ok)
        QCOMPARE(parsed, value);
}

QTEST_APPLESS_MAIN(tst_FfmpegText)
#include "tst_ffmpegtext.moc"
