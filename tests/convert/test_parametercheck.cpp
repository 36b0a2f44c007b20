#include "convert/Formats.h"
#include "convert/ParameterCheck.h"

#include <QTest>

// Values a second stage would refuse are found before any work.
class TestParameterCheck : public QObject
{
    Q_OBJECT
private slots:
    void problem_data();
    void problem();
};

void TestParameterCheck::problem_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QStringList>("values"); // size, video bitrate, sample rate, audio bitrate
    QTest::addColumn<int>("channels");
    QTest::addColumn<QString>("complaint"); // empty: the batch may start
    const QString keep = Formats::keepSourceSize();
    const auto row = [](const char *name, int format, QStringList values, int channels,
                        const char *complaint) {
        QTest::newRow(name) << format << values << channels << QString::fromUtf8(complaint);
    };
    row("defaults of RMVB", Formats::RMVB, {keep, "1200", "44100", "320"}, 2, "");
    row("RMVB ignores every value while it keeps the size", Formats::RMVB,
        {keep, "fast", "", "loud"}, 0, "");
    row("RMVB sized, all fine", Formats::RMVB, {"640x480", "600", "44100", "64"}, 1, "");
    row("an odd size is the tool's to round", Formats::MOV, {"321x241", "", "", ""}, 0, "");
    row("zero size", Formats::MOV, {"0x0", "256", "48000", "64"}, 2, "视频尺寸“0x0”");
    row("half a size", Formats::ThreeGP, {"320x", "128", "8000", "12.2"}, 1, "视频尺寸");
    row("words for a size", Formats::MobileMP4, {"big", "128", "8000", "12.2"}, 1, "视频尺寸");
    row("absurdly large", Formats::RM, {"100000x100000", "600", "44100", "64"}, 2, "16384");
    row("largest the tools take", Formats::RM, {"16384x16384", "600", "44100", "64"}, 2, "");
    row("sized RM, a word for the video bitrate", Formats::RM, {"640x480", "fast", "44100", "64"},
        2, "视频比特率");
    row("sized RMVB, no sample rate", Formats::RMVB, {"640x480", "600", "", "64"}, 2, "声音频率");
    row("sized RMVB, a fractional sample rate", Formats::RMVB, {"640x480", "600", "44.1", "64"}, 2,
        "声音频率");
    row("sized RMVB, zero audio bitrate", Formats::RMVB, {"640x480", "600", "44100", "0"}, 2,
        "声音比特率");
    row("sized RMVB, typed channel text", Formats::RMVB, {"640x480", "600", "44100", "64"}, 0,
        "声道");
    row("MOV reads only the size", Formats::MOV, {"640x480", "x", "y", "z"}, 0, "");
    row("one-stage MPG goes to its tool as it is", Formats::MPG, {"0x0", "x", "y", "z"}, 0, "");
    for (const int format : {Formats::H264, Formats::H265, Formats::AV1}) {
        QTest::addRow("format %d reads the size", format)
            << format << QStringList{"100000x100000", "", "", ""} << 0 << QStringLiteral("16384");
        QTest::addRow("format %d takes other values as they are", format)
            << format << QStringList{"640x480", "x", "y", "z"} << 0 << QString();
    }
    row("MP3 likewise", Formats::MP3, {"0x0", "x", "y", "z"}, 0, "");
}

void TestParameterCheck::problem()
{
    QFETCH(int, format);
    QFETCH(QStringList, values);
    QFETCH(int, channels);
    QFETCH(QString, complaint);
    ParameterSet p = Formats::defaultParameters(format);
    p.frameSize = values[0];
    p.videoBitrate = values[1];
    p.sampleRate = values[2];
    p.audioBitrate = values[3];
    p.channelCount = channels;
    const QString problem = ParameterCheck::problem(p);
    if (complaint.isEmpty())
        QCOMPARE(problem, QString());
    else
        QVERIFY2(problem.contains(complaint), qPrintable(problem));
}

QTEST_APPLESS_MAIN(TestParameterCheck)
#include "test_parametercheck.moc"
