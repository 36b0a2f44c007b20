#include "convert/ProgressParser.h"

#include <QFile>
#include <QStringList>
#include <QTest>

using ProgressParser::FullBarTwips;

class TestProgressParser : public QObject
{
    Q_OBJECT

private slots:
    void spinner_data();
    void spinner();
    void stageOne_data();
    void stageOne();
    void stageOneWithoutPercentageMovesOnlySpinner_data();
    void stageOneWithoutPercentageMovesOnlySpinner();
    void stageTwoDuration_data();
    void stageTwoDuration();
    void stageTwoTime_data();
    void stageTwoTime();
    void stageTwoAcrossChunks();
    void stageTwoNegativeLengthWaitsForARealOne();
    void stageTwoDurationIsReadOnlyOnce();
    void recordedOutput_data();
    void recordedOutput();
};

void TestProgressParser::spinner_data()
{
    QTest::addColumn<QChar>("current");
    QTest::addColumn<QChar>("next");
    QTest::newRow("dash") << QChar('-') << QChar('\\');
    QTest::newRow("backslash") << QChar('\\') << QChar('|');
    QTest::newRow("bar") << QChar('|') << QChar('/');
    QTest::newRow("slash") << QChar('/') << QChar('-');
    QTest::newRow("other") << QChar('x') << QChar('-');
    QTest::newRow("blank") << QChar(' ') << QChar('-');
}

void TestProgressParser::spinner()
{
    QFETCH(QChar, current);
    QFETCH(QChar, next);
    QCOMPARE(ProgressParser::nextSpinner(current), next);
}

void TestProgressParser::stageOne_data()
{
    QTest::addColumn<QString>("chunk");
    QTest::addColumn<QChar>("spinnerBefore");
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("pb");
    QTest::addColumn<QString>("caption");

    QTest::newRow("hundred") << "Pos:   2.0s     48f (100%)\r" << QChar('-') << FullBarTwips
                             << 100.0 << QStringLiteral("结束 100%");
    QTest::newRow("blank before five")
        << "Pos:   0.1s      3f ( 5%)\r" << QChar('-') << 5 / 100.0 * FullBarTwips << 5.0
        << QStringLiteral("转换中\\ 5%");
    QTest::newRow("forty-five, spinner at bar after step")
        << "xx (45%) yy" << QChar('\\') << 2436.75 << 45.0 << QStringLiteral("转换中| 45%");
    QTest::newRow("first group wins, not a number")
        << "(abc) then (45%)" << QChar('|') << 0.0 << 0.0 << QStringLiteral("转换中/ 0%");
    QTest::newRow("four characters inside") << "( 99%)" << QChar('/') << 99 / 100.0 * FullBarTwips
                                            << 99.0 << QStringLiteral("转换中- 99%");
    QTest::newRow("first of two percentages")
        << "(12%) (13%)" << QChar('-') << 12 / 100.0 * FullBarTwips << 12.0
        << QStringLiteral("转换中\\ 12%");
    QTest::newRow("half rounds to even down") << "(2.5%)" << QChar('-') << 2 / 100.0 * FullBarTwips
                                              << 2.0 << QStringLiteral("转换中\\ 2%");
    QTest::newRow("half rounds to even up") << "(3.5%)" << QChar('-') << 4 / 100.0 * FullBarTwips
                                            << 4.0 << QStringLiteral("转换中\\ 4%");
    QTest::newRow("100 with blank is not finished")
        << "(100 )" << QChar('-') << FullBarTwips << 100.0 << QStringLiteral("转换中\\ 100%");
}

void TestProgressParser::stageOne()
{
    QFETCH(QString, chunk);
    QFETCH(QChar, spinnerBefore);
    QFETCH(double, width);
    QFETCH(double, pb);
    QFETCH(QString, caption);

    QChar spinner = spinnerBefore;
    const auto display = ProgressParser::parseStageOne(chunk, spinner);
    QCOMPARE(spinner, ProgressParser::nextSpinner(spinnerBefore));
    QVERIFY(display.has_value());
    QCOMPARE(display->imgPBWidth, width);
    QCOMPARE(display->pbValue, pb);
    QCOMPARE(display->lblPBCaption, caption);
}

void TestProgressParser::stageOneWithoutPercentageMovesOnlySpinner_data()
{
    QTest::addColumn<QString>("chunk");
    QTest::newRow("three positions apart") << "progress (5%) here";
    QTest::newRow("cut by chunk end") << "Pos: 1.0s (4";
    QTest::newRow("cut after two characters") << "Pos: 1.0s (45%";
    QTest::newRow("empty") << "";
    QTest::newRow("no parenthesis") << "Error: input has no video stream";
    QTest::newRow("group too long") << "(123456)";
}

void TestProgressParser::stageOneWithoutPercentageMovesOnlySpinner()
{
    QFETCH(QString, chunk);
    QChar spinner('-');
    QVERIFY(!ProgressParser::parseStageOne(chunk, spinner).has_value());
    QCOMPARE(spinner, QChar('\\'));
}

void TestProgressParser::stageTwoDuration_data()
{
    // What the progress bar reads (whole seconds, rounded as the bar always did) and what the
    // engine takes for the input's length (exact, only from a complete field).
    QTest::addColumn<QString>("chunk");
    QTest::addColumn<qint32>("seconds");
    QTest::addColumn<double>("length"); // -1: none
    QTest::newRow("with start") << "  Duration: 00:03:25.45, start: 0.000000, bitrate: 5 kb/s"
                                << 205 << 205.45;
    QTest::newRow("one hour") << "Duration: 01:00:00.00, " << 3600 << 3600.0;
    QTest::newRow("cut inside seconds") << "Input #0\n  Duration: 00:03:2" << 182 << -1.0;
    QTest::newRow("cut before seconds") << "Input #0\n  Duration: 00:03" << 0 << -1.0;
    QTest::newRow("not a number") << "  Duration: N/A, start: 0" << 0 << -1.0;
    QTest::newRow("letters in a part") << "  Duration: 00:x3:25.00, " << 0 << -1.0;
    QTest::newRow("half goes to even, down") << "Duration: 00:00:02.50, " << 2 << 2.5;
    QTest::newRow("half goes to even, up") << "Duration: 00:00:03.50, " << 4 << 3.5;
    QTest::newRow("key at the very end") << "Input #0\n  Duration: " << 0 << -1.0;
    QTest::newRow("no key") << "Stream #0:0: Video: mpeg4" << 0 << -1.0;
    // Found by fuzz_stagetwo: a negative length made the bar run backwards.
    QTest::newRow("negative length") << "  Duration: -01:00:00.00, " << 0 << -1.0;
    QTest::newRow("negative minutes") << "  Duration: 00:-5:00.00, " << 0 << -1.0;
    QTest::newRow("negative parts adding up to a length")
        << "Duration: 01:-30:00.00, " << 1800 << -1.0;
}

void TestProgressParser::stageTwoDuration()
{
    QFETCH(QString, chunk);
    QFETCH(qint32, seconds);
    QFETCH(double, length);
    QChar spinner('-');
    qint32 duration = 0;
    ProgressParser::parseStageTwo(chunk, spinner, duration);
    QCOMPARE(duration, seconds);
    QCOMPARE(spinner, QChar('\\'));
    QCOMPARE(ProgressParser::inputLength(chunk).value_or(-1), length);
}

void TestProgressParser::stageTwoTime_data()
{
    QTest::addColumn<qint32>("duration");
    QTest::addColumn<QString>("chunk");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("pb");
    QTest::addColumn<QString>("caption");

    QTest::newRow("quarter of an hour") << 3600 << "time=900.00 bitrate=1.0kbits/s" << true
                                        << 1353.75 << 25.0 << QStringLiteral("创建中\\ 25%");
    QTest::newRow("at the duration")
        << 10 << "time=10.00 " << true << FullBarTwips << 100.0 << QStringLiteral("完成 100%");
    QTest::newRow("past the duration")
        << 10 << "time=12.00 " << true << FullBarTwips << 100.0 << QStringLiteral("完成 100%");
    QTest::newRow("no duration yet")
        << 0 << "time=1.00 " << true << FullBarTwips << 100.0 << QStringLiteral("完成 100%");
    QTest::newRow("first four characters") << 41 << "time=1.00 " << true << 1.0 / 41 * FullBarTwips
                                           << 2.43 << QStringLiteral("创建中\\ 2.43%");
    QTest::newRow("first four of 45.679...")
        << 81 << "time=37.00 " << true << 37.0 / 81 * FullBarTwips << 45.6
        << QStringLiteral("创建中\\ 45.6%");
    QTest::newRow("tiny share, no exponent")
        << 2147483647 << "time=1 " << true << 1.0 / 2147483647 * FullBarTwips << 0.0
        << QStringLiteral("创建中\\ 0.00%");
    QTest::newRow("just below the end") << 1000 << "time=999 " << true << 0.999 * FullBarTwips
                                        << 99.9 << QStringLiteral("创建中\\ 99.9%");
    QTest::newRow("seven") << 100 << "time=7.2 " << true << 0.07 * FullBarTwips << 7.0
                           << QStringLiteral("创建中\\ 7%");
    QTest::newRow("twelve and a half") << 8 << "time=1 " << true << 0.125 * FullBarTwips << 12.5
                                       << QStringLiteral("创建中\\ 12.5%");
    QTest::newRow("zero") << 8 << "time=0.20 " << true << 0.0 << 0.0
                          << QStringLiteral("创建中\\ 0%");
    QTest::newRow("joined fields read from the start")
        << 100 << "time=3.00 \rtime=4.00 \r" << true << 0.03 * FullBarTwips << 3.0
        << QStringLiteral("创建中\\ 3%");
    QTest::newRow("an empty field joins nothing")
        << 100 << "time= time=7.00 " << true << 0.07 * FullBarTwips << 7.0
        << QStringLiteral("创建中\\ 7%");
    QTest::newRow("half rounds to even") << 100 << "time=2.5 " << true << 0.02 * FullBarTwips << 2.0
                                         << QStringLiteral("创建中\\ 2%");
    QTest::newRow("clock form reads as zero")
        << 100 << "time=00:00:12.34 " << true << 0.0 << 0.0 << QStringLiteral("创建中\\ 0%");
    // Found by fuzz_stagetwo: a negative position gave a negative width, and a huge one an
    // infinite width, which the window cannot round to pixels.
    QTest::newRow("negative position")
        << 100 << "time=-5.00 " << true << 0.0 << 0.0 << QStringLiteral("创建中\\ 0%");
    QTest::newRow("huge negative position")
        << 100 << "time=-" + QString(400, QLatin1Char('9')) + " " << true << 0.0 << 0.0
        << QStringLiteral("创建中\\ 0%");
    QTest::newRow("huge position") << 100 << "time=" + QString(400, QLatin1Char('9')) + " " << true
                                   << FullBarTwips << 100.0 << QStringLiteral("完成 100%");
    QTest::newRow("no time") << 100 << "frame=  10 fps=0.0" << false << 0.0 << 0.0 << QString();
    QTest::newRow("key at the very end")
        << 100 << "frame=  10 time=" << false << 0.0 << 0.0 << QString();
}

void TestProgressParser::stageTwoTime()
{
    QFETCH(qint32, duration);
    QFETCH(QString, chunk);
    QFETCH(bool, shown);
    QFETCH(double, width);
    QFETCH(double, pb);
    QFETCH(QString, caption);

    QChar spinner('-');
    qint32 durationSeconds = duration;
    const auto display = ProgressParser::parseStageTwo(chunk, spinner, durationSeconds);
    QCOMPARE(spinner, QChar('\\'));
    QCOMPARE(display.has_value(), shown);
    if (!shown)
        return;
    QCOMPARE(display->imgPBWidth, width);
    QCOMPARE(display->pbValue, pb);
    QCOMPARE(display->lblPBCaption, caption);
}

void TestProgressParser::stageTwoAcrossChunks()
{
    QChar spinner('-');
    qint32 duration = 0;
    QVERIFY(
        !ProgressParser::parseStageTwo(u"  Duration: 01:00:00.00, start: 0.0", spinner, duration));
    QCOMPARE(duration, 3600);
    const auto display = ProgressParser::parseStageTwo(u"time=900.00 ", spinner, duration);
    QVERIFY(display.has_value());
    QCOMPARE(display->imgPBWidth, 1353.75);
    QCOMPARE(display->pbValue, 25.0);
    QCOMPARE(display->lblPBCaption, QStringLiteral("创建中| 25%"));

    // A duration cut before its seconds leaves 0, so every position shows the finished state
    // until a complete field arrives.
    duration = 0;
    ProgressParser::parseStageTwo(u"  Duration: 00:03", spinner, duration);
    QCOMPARE(duration, 0);
    auto finished = ProgressParser::parseStageTwo(u"time=1.00 ", spinner, duration);
    QVERIFY(finished.has_value());
    QCOMPARE(finished->lblPBCaption, QStringLiteral("完成 100%"));
    ProgressParser::parseStageTwo(u"  Duration: 00:00:10.00, ", spinner, duration);
    QCOMPARE(duration, 10);
    finished = ProgressParser::parseStageTwo(u"time=1.00 ", spinner, duration);
    QVERIFY(finished.has_value());
    QCOMPARE(finished->pbValue, 10.0);
}

void TestProgressParser::stageTwoNegativeLengthWaitsForARealOne()
{
    QChar spinner('-');
    qint32 duration = 0;
    ProgressParser::parseStageTwo(u"  Duration: 00:00:-10.00, ", spinner, duration);
    QCOMPARE(duration, 0);
    ProgressParser::parseStageTwo(u"  Duration: 00:00:10.00, ", spinner, duration);
    QCOMPARE(duration, 10);
    const auto display = ProgressParser::parseStageTwo(u"time=5.00 ", spinner, duration);
    QVERIFY(display.has_value());
    QCOMPARE(display->pbValue, 50.0);
}

void TestProgressParser::stageTwoDurationIsReadOnlyOnce()
{
    QChar spinner('-');
    qint32 duration = 0;
    ProgressParser::parseStageTwo(u"Duration: 00:03:2", spinner, duration);
    QCOMPARE(duration, 182);
    ProgressParser::parseStageTwo(u"Duration: 00:03:25.45, ", spinner, duration);
    QCOMPARE(duration, 182);
}

// Output recorded from the real tools: every chunk the runner would hand over, one line
// (ending at \r or \n) at a time. The shown percentages must rise and end at 100.
void TestProgressParser::recordedOutput_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("stageOne");
    QTest::addColumn<int>("minimumUpdates");
    QTest::newRow("conv mpeg4") << "conv-mpeg4.txt" << true << 3;
    QTest::newRow("conv mpg") << "conv-mpg.txt" << true << 3;
    QTest::newRow("coder rmvb") << "coder-rmvb.txt" << false << 3;
    QTest::newRow("coder mp3") << "coder-mp3-ffmpeg5.1.txt" << false << 3;
    QTest::newRow("coder2 3gp") << "coder2-3gp.txt" << false << 3;
}

void TestProgressParser::recordedOutput()
{
    QFETCH(QString, file);
    QFETCH(bool, stageOne);
    QFETCH(int, minimumUpdates);

    QFile recorded(QStringLiteral(VIDMORPH_TEST_DATA_DIR "/") + file);
    QVERIFY2(recorded.open(QIODevice::ReadOnly), qPrintable(recorded.errorString()));
    const QString text = QString::fromUtf8(recorded.readAll());

    QChar spinner('-');
    qint32 duration = 0;
    QList<double> values;
    QString lastCaption;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != QLatin1Char('\r') && text[end] != '\n')
            ++end;
        const QStringView chunk = QStringView(text).mid(start, end - start + 1);
        const auto display = stageOne ? ProgressParser::parseStageOne(chunk, spinner)
                                      : ProgressParser::parseStageTwo(chunk, spinner, duration);
        if (display) {
            values.append(display->pbValue);
            lastCaption = display->lblPBCaption;
        }
        start = end + 1;
    }
    QVERIFY2(values.size() >= minimumUpdates, qPrintable(QString::number(values.size())));
    for (int i = 1; i < values.size(); ++i)
        QVERIFY2(values[i] >= values[i - 1], qPrintable(QStringLiteral("update %1").arg(i)));
    QVERIFY(values.first() < 100);
    QCOMPARE(values.last(), 100.0);
    QCOMPARE(lastCaption, stageOne ? QStringLiteral("结束 100%") : QStringLiteral("完成 100%"));
    if (!stageOne)
        QVERIFY(duration > 0);
}

QTEST_APPLESS_MAIN(TestProgressParser)
#include "test_progressparser.moc"
