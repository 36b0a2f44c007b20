// What ffprobe says of a file, and whether an encoder's output passes as a playable file of its
// input's length, without running anything.
#include "common/MediaProbe.h"
#include "common/OutputCheck.h"
#include "common/ToolFailure.h"

#include <QTest>

Q_DECLARE_METATYPE(MediaProbe::Facts)

class TestOutputCheck : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void verify_data();
    void verify();
};

namespace {
MediaProbe::Facts facts(double length, bool video, bool audio, bool estimated = false)
{
    MediaProbe::Facts made;
    made.opened = true;
    made.length = length;
    made.video = video;
    made.audio = audio;
    made.estimated = estimated;
    return made;
}
} // namespace

void TestOutputCheck::read_data()
{
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::addColumn<double>("length");
    QTest::addColumn<bool>("estimated");
    QTest::addColumn<QString>("kinds"); // v: video, c: cover picture, a: audio
    QTest::addColumn<double>("audioLength");

    const QByteArray clip = "stream|codec_type=video|duration=2.000000|disposition:attached_pic=0\n"
                            "stream|codec_type=audio|duration=1.500000|disposition:attached_pic=0\n"
                            "format|duration=2.021000\n";
    QTest::newRow("a clip") << clip << QByteArray() << 2.021 << false << "va" << 1.5;
    QTest::newRow("a song with its cover")
        << QByteArray("stream|codec_type=audio|duration=3.0|disposition:attached_pic=0\n"
                      "stream|codec_type=video|duration=N/A|disposition:attached_pic=1\n"
                      "format|duration=3.0\n")
        << QByteArray() << 3.0 << false << "ca" << 3.0;
    QTest::newRow("a length guessed from the bitrate")
        << clip
        << QByteArray("[mp3 @ 0x1] Estimating duration from bitrate, this may be inaccurate\n")
        << 2.021 << true << "va" << 1.5;
    QTest::newRow("a transport stream's program")
        << QByteArray("program|stream|codec_type=video|duration=0.48|side_data|\n\n\n"
                      "stream|codec_type=video|duration=0.48|side_data|\n\nformat|duration=0.48\n")
        << QByteArray() << 0.48 << false << "v" << -1.0;
    QTest::newRow("no streams") << QByteArray("format|duration=0.000000\n") << QByteArray() << 0.0
                                << false << "" << -1.0;
    // Lengths no clock can show: coder would print them through its HH:MM:SS.xx.
    for (const char *length : {"N/A", "inf", "1e300", "nan", "-5"})
        QTest::addRow("length %s", length) << QByteArray("format|duration=") + length + '\n'
                                           << QByteArray() << -1.0 << false << "" << -1.0;
    QTest::newRow("a line not ended")
        << QByteArray("format|duration=9") << QByteArray() << -1.0 << false << "" << -1.0;
}

void TestOutputCheck::read()
{
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QFETCH(double, length);
    QFETCH(bool, estimated);
    QFETCH(QString, kinds);
    QFETCH(double, audioLength);
    const MediaProbe::Facts read = MediaProbe::read(out.toStdString(), err.toStdString());
    QVERIFY(read.opened);
    QCOMPARE(read.length, length);
    QCOMPARE(read.estimated, estimated);
    QString found;
    if (read.video)
        found += 'v';
    if (read.cover)
        found += 'c';
    if (read.audio)
        found += 'a';
    QCOMPARE(found, kinds);
    QCOMPARE(read.audioLength, audioLength);
}

void TestOutputCheck::verify_data()
{
    namespace E = ToolContract::Error;
    QTest::addColumn<MediaProbe::Facts>("input");
    QTest::addColumn<MediaProbe::Facts>("written");
    QTest::addColumn<bool>("videoWritten");
    QTest::addColumn<QString>("error");  // empty: passes
    QTest::addColumn<double>("longest"); // how far the encoder may get; 0: no limit

    const MediaProbe::Facts clip = facts(60, true, true);
    MediaProbe::Facts unplayable;
    unplayable.failure = "Invalid argument";
    QTest::newRow("a good copy") << clip << facts(60.04, true, true) << true << "" << 67.0;
    QTest::newRow("sound of a clip") << clip << facts(60, false, true) << false << "" << 67.0;
    QTest::newRow("cut short: a warning, not a failure")
        << clip << facts(20, true, true) << true << "" << 67.0;
    QTest::newRow("an MP3 ffprobe cannot open")
        << clip << unplayable << false << QString(E::OutputUnplayable) + "Invalid argument" << 67.0;
    QTest::newRow("an M4A without a stream")
        << clip << facts(0, false, false) << false << QString(E::OutputNoStream) << 67.0;
    QTest::newRow("an MPG without its picture")
        << clip << facts(0.04, false, true) << true << QString(E::OutputNoVideo) << 67.0;
    QTest::newRow("a video without its sound")
        << clip << facts(60, true, false) << true << "" << 67.0;
    QTest::newRow("nothing to play")
        << clip << facts(0, true, true) << true << QString(E::OutputEmpty) << 67.0;
    QTest::newRow("one frame") << facts(0.04, true, false) << facts(0.04, true, false) << true << ""
                               << 1.044;
    // The encoder is stopped at the limit by its progress; what a container says of its
    // length may be wrong.
    QTest::newRow("a RealMedia file's empty sound track says an hour")
        << facts(1, true, true) << facts(3600, true, true) << true << "" << 2.1;
    QTest::newRow("a guessed length is no limit")
        << facts(30, false, true, true) << facts(105, false, true) << false << "" << 0.0;
    QTest::newRow("an input without a length")
        << facts(-1, true, true) << facts(600, true, true) << true << "" << 0.0;
}

void TestOutputCheck::verify()
{
    QFETCH(MediaProbe::Facts, input);
    QFETCH(MediaProbe::Facts, written);
    QFETCH(bool, videoWritten);
    QFETCH(QString, error);
    QFETCH(double, longest);
    QCOMPARE(OutputCheck::longestAllowed(input), longest);
    QString failure;
    try {
        OutputCheck::verify(written, videoWritten);
    } catch (const ToolFailure &thrown) {
        failure = QString::fromUtf8(thrown.what());
    }
    QCOMPARE(failure, error.isEmpty() ? QString() : ToolContract::ErrorPrefix + error);
}

QTEST_APPLESS_MAIN(TestOutputCheck)
#include "test_outputcheck.moc"
