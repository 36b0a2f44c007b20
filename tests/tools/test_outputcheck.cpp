// Whether an encoder's output passes as a playable file of its input's length, from what it
// holds, without running anything.
#include "common/MediaProbe.h"
#include "common/OutputCheck.h"
#include "common/ToolFailure.h"

#include <QTest>
#include <QtMath>

Q_DECLARE_METATYPE(MediaProbe::Facts)

class TestOutputCheck : public QObject
{
    Q_OBJECT

private slots:
    void verify_data();
    void verify();
};

namespace {
// A file of this length; its streams hold frames for as long as it lasts.
MediaProbe::Facts facts(double length, bool video, bool audio, bool estimated = false)
{
    MediaProbe::Facts made;
    made.opened = true;
    made.length = length;
    made.video = video;
    made.audio = audio;
    made.estimated = estimated;
    made.videoFrames = video ? qCeil(length * 25) : 0;
    made.audioFrames = audio ? qCeil(length * 40) : 0;
    return made;
}
} // namespace

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
    // A container may state a length its streams do not hold, or none at all.
    MediaProbe::Facts silent = facts(60, false, true);
    silent.audioFrames = 0;
    QTest::newRow("a FLAC without a sample")
        << clip << silent << false << QString(E::OutputEmpty) << 67.0;
    MediaProbe::Facts still = facts(60, true, true);
    still.videoFrames = 0;
    QTest::newRow("a video without a frame")
        << clip << still << true << QString(E::OutputEmpty) << 67.0;
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
