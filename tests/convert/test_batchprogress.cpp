#include "convert/BatchProgress.h"

#include <QTest>
#include <cmath>
#include <optional>

// The whole-batch estimate over a stubbed clock: a simulated batch reports progress the way
// the tools do (whole percentages, a pause before the first report of every run), and the
// estimate is compared with the time the simulation actually took.
class TestBatchProgress : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void estimateIsTrustedLateStaysSteadyAndIsRightHalfWay_data();
    void estimateIsTrustedLateStaysSteadyAndIsRightHalfWay();
    void countsFilesAddedAndRemoved();
    void fractionFollowsTheWork();
    void noEstimateWithoutMeasuredSpeed();
    void filesSideBySideShareTheWork();
    void estimateStaysBoundedWhileTheEncoderStandsStill();
    void timeLeftText_data();
    void timeLeftText();

private:
    struct File
    {
        QString path;
        double seconds;
        double speedFactor; // this file converts faster or slower than the average
    };
    struct Reading
    {
        double at; // seconds since the start
        std::optional<qint64> left;
        double fraction;
        bool workChanged; // lengths arrived or a file was added at this step
    };

    // Runs the batch to its end; the readings are taken after every progress report.
    // How lengths become known: never, all early (probed), or each as its file starts (told
    // by the tools) with the sizes of all files known from the start.
    enum Lengths { Unknown, Probed, Told };
    QVector<Reading> simulate(const QVector<File> &files, int passes, Lengths lengths,
                              const File *addedDuringBatch = nullptr);

    BatchProgress m_progress;
    qint64 m_now = 0;
};

void TestBatchProgress::init()
{
    m_now = 1000000;
    m_progress.setClock([this] { return m_now; });
}

QVector<TestBatchProgress::Reading> TestBatchProgress::simulate(const QVector<File> &files,
                                                                int passes, Lengths lengths,
                                                                const File *addedDuringBatch)
{
    // The stage-two encoder is much faster than stage one.
    const double passSpeed[] = {4.0, 11.0};
    const qint64 start = m_now;
    QStringList queue;
    for (const File &file : files)
        queue.append(file.path);
    m_progress.begin(queue, passes);
    // Bytes follow the length, give or take a tenth (bitrates differ a little).
    const auto sizeOf = [](const File &file) {
        return qint64(file.seconds * 100000 * (0.9 + 0.2 * file.speedFactor / 1.1));
    };
    if (lengths == Told)
        for (const File &file : files)
            m_progress.setSize(file.path, sizeOf(file));
    QVector<File> order = files;
    QVector<Reading> readings;
    bool lengthsArrived = false;
    bool added = false;
    for (int index = 0; index < order.size(); ++index) {
        const File file = order[index];
        m_progress.fileStarted(index);
        bool told = false;
        for (int pass = 0; pass < passes; ++pass) {
            m_progress.runStarted(index, pass);
            // The tool probes its input and starts ffmpeg before its first report.
            m_now += 700;
            double done = 0;
            while (done < file.seconds) {
                bool workChanged = false;
                m_now += 250;
                done += passSpeed[pass] * file.speedFactor * 0.25;
                if (lengths == Told && !told) {
                    told = true;
                    workChanged = true;
                    m_progress.setDuration(file.path, file.seconds);
                }
                if (!lengthsArrived && lengths == Probed && m_now - start >= 400) {
                    lengthsArrived = true;
                    workChanged = true;
                    for (const File &known : files)
                        m_progress.setDuration(known.path, known.seconds);
                }
                if (addedDuringBatch && !added && index == 1) {
                    added = true;
                    workChanged = true;
                    order.append(*addedDuringBatch);
                    m_progress.insertFiles(order.size() - 2 - index, {addedDuringBatch->path});
                    if (lengths == Probed)
                        m_progress.setDuration(addedDuringBatch->path, addedDuringBatch->seconds);
                    else
                        m_progress.setSize(addedDuringBatch->path, sizeOf(*addedDuringBatch));
                }
                m_progress.runProgress(index,
                                       std::floor(std::min(1.0, done / file.seconds) * 100) / 100);
                readings.append({(m_now - start) / 1000.0, m_progress.secondsLeft(),
                                 m_progress.fractionDone(), workChanged});
            }
            m_now += 200; // writing the end of the file
        }
        m_progress.fileFinished(index);
    }
    return readings;
}

void TestBatchProgress::estimateIsTrustedLateStaysSteadyAndIsRightHalfWay_data()
{
    QTest::addColumn<int>("passes");
    QTest::addColumn<int>("lengths");
    QTest::newRow("one pass") << 1 << int(Probed);
    QTest::newRow("two passes") << 2 << int(Probed);
    QTest::newRow("two passes, lengths unknown") << 2 << int(Unknown);
    QTest::newRow("one pass, lengths told as files start") << 1 << int(Told);
    QTest::newRow("two passes, lengths told as files start") << 2 << int(Told);
}

void TestBatchProgress::estimateIsTrustedLateStaysSteadyAndIsRightHalfWay()
{
    QFETCH(int, passes);
    QFETCH(int, lengths);
    const bool durationsKnown = lengths != Unknown;
    const QVector<File> files = {
        {"/in/a.avi", 40, 1.0},  {"/in/b.avi", 95, 0.9}, {"/in/c.avi", 25, 1.1},
        {"/in/d.avi", 60, 1.05}, {"/in/e.avi", 80, 0.9}, {"/in/f.avi", 35, 1.0},
    };
    // With unknown lengths the estimate can only count files, so those are of equal length.
    QVector<File> equal = files;
    for (File &file : equal)
        file.seconds = 55;
    const File late{"/in/late.avi", 70, 1.0};
    const QVector<Reading> readings = simulate(durationsKnown ? files : equal, passes,
                                               Lengths(lengths), durationsKnown ? &late : nullptr);
    QVERIFY(readings.size() > 100);
    const double total = readings.last().at;

    // Nothing is shown before five seconds of work or a tenth of the batch, and something is
    // shown soon after.
    int firstShown = -1;
    for (int i = 0; i < readings.size() && firstShown < 0; ++i)
        if (readings[i].left)
            firstShown = i;
    QVERIFY(firstShown > 0);
    QVERIFY2(readings[firstShown].at >= 5.0 || readings[firstShown].fraction >= 0.10,
             qPrintable(QString::number(readings[firstShown].at)));
    QVERIFY2(readings[firstShown].at < 8.0, qPrintable(QString::number(readings[firstShown].at)));
    // Once shown it stays shown, and it never climbs by more than a little.
    for (int i = firstShown + 1; i < readings.size(); ++i) {
        QVERIFY(readings[i].left.has_value());
        const double before = double(*readings[i - 1].left);
        const double now = double(*readings[i].left);
        QVERIFY2(now <= before + std::max(2.0, 0.05 * before),
                 qPrintable(QStringLiteral("at %1 s: %2 s after %3 s")
                                .arg(readings[i].at)
                                .arg(now)
                                .arg(before)));
    }
    // Half way through, it is within a fifth of the time that was really left.
    const Reading *half = nullptr;
    for (const Reading &reading : readings)
        if (!half || std::abs(reading.at - total / 2) < std::abs(half->at - total / 2))
            half = &reading;
    const double trulyLeft = total - half->at;
    qInfo("half way at %.1f s of %.1f s: estimate %lld s, truly %.1f s", half->at, total,
          *half->left, trulyLeft);
    QVERIFY2(
        std::abs(double(*half->left) - trulyLeft) <= 0.2 * trulyLeft,
        qPrintable(QStringLiteral("estimate %1 s, truly %2 s").arg(*half->left).arg(trulyLeft)));
    // The share done grows steadily to the end, except where more work became known.
    for (int i = 1; i < readings.size(); ++i)
        if (!readings[i].workChanged)
            QVERIFY(readings[i].fraction >= readings[i - 1].fraction - 1e-9);
    QVERIFY(readings.last().fraction > 0.99);
}

void TestBatchProgress::countsFilesAddedAndRemoved()
{
    m_progress.begin({"/a", "/b", "/c"}, 1);
    QCOMPARE(m_progress.fileNumber(), 1);
    QCOMPARE(m_progress.fileCount(), 3);
    QCOMPARE(m_progress.statusText(), QStringLiteral("第 1/3 个文件"));
    m_progress.fileStarted(1);
    m_progress.runStarted(1, 0);
    m_progress.insertFiles(2, {"/d", "/e"});
    QCOMPARE(m_progress.fileCount(), 5);
    m_progress.fileFinished(1);
    QCOMPARE(m_progress.fileNumber(), 2);
    QCOMPARE(m_progress.fileCount(), 5);
    // A file removed from the list before its turn is no longer counted.
    m_progress.removeFiles(2, 1);
    QCOMPARE(m_progress.fileCount(), 4);
    QCOMPARE(m_progress.statusText(), QStringLiteral("第 2/4 个文件"));
}

void TestBatchProgress::fractionFollowsTheWork()
{
    m_progress.begin({"/short", "/long"}, 2);
    m_progress.setDuration("/short", 10);
    m_progress.setDuration("/long", 30);
    QCOMPARE(m_progress.fractionDone(), 0.0);
    m_progress.fileStarted(1);
    m_progress.runStarted(1, 0);
    m_progress.runProgress(1, 0.5);
    // Half of the first of two passes over 10 s of 40 s: 5 of 80 media seconds.
    QCOMPARE(m_progress.fractionDone(), 5.0 / 80);
    m_progress.runStarted(1, 1);
    m_progress.runProgress(1, 1.0);
    m_progress.fileFinished(1);
    QCOMPARE(m_progress.fractionDone(), 20.0 / 80);
    // A lower report is noise; progress does not go back.
    m_progress.fileStarted(2);
    m_progress.runStarted(2, 0);
    m_progress.runProgress(2, 0.5);
    m_progress.runProgress(2, 0.25);
    QCOMPARE(m_progress.fractionDone(), 35.0 / 80);
}

void TestBatchProgress::noEstimateWithoutMeasuredSpeed()
{
    m_progress.begin({"/a", "/b"}, 1);
    m_progress.setDuration("/a", 100);
    m_progress.setDuration("/b", 100);
    m_progress.fileStarted(1);
    m_progress.runStarted(1, 0);
    // A tool that reports nothing for a long time gives no speed to go by.
    m_now += 20000;
    m_progress.runProgress(1, 0);
    QVERIFY(!m_progress.secondsLeft());
    QCOMPARE(m_progress.statusText(), QStringLiteral("第 1/2 个文件"));
    m_now += 20000;
    m_progress.runProgress(1, 0.4);
    QVERIFY(m_progress.secondsLeft().has_value());
    QVERIFY(m_progress.statusText().startsWith(QStringLiteral("第 1/2 个文件  剩余约 ")));
}

void TestBatchProgress::filesSideBySideShareTheWork()
{
    // Four files of 100 s on two jobs; each job gets through 2.5 media seconds a second.
    m_progress.begin({"/a", "/b", "/c", "/d"}, 1, 2);
    for (const char *path : {"/a", "/b", "/c", "/d"})
        m_progress.setDuration(path, 100);
    m_progress.fileStarted(1);
    m_progress.fileStarted(2);
    m_progress.runStarted(1, 0);
    m_progress.runStarted(2, 0);
    QCOMPARE(m_progress.fileCount(), 4);
    for (int second = 1; second <= 20; ++second) {
        m_now += 1000;
        m_progress.runProgress(1, second * 0.025);
        m_progress.runProgress(2, second * 0.025);
    }
    // Done: 100 of 400; left: 300 at 2 x 2.5 a second.
    QCOMPARE(m_progress.fractionDone(), 0.25);
    QVERIFY(m_progress.secondsLeft().has_value());
    QVERIFY2(qAbs(*m_progress.secondsLeft() - 60) <= 3,
             qPrintable(QString::number(*m_progress.secondsLeft())));
}

// An encoder spinning in place reports the same share for as long as it runs: the estimate
// may grow, but it stays a time a clock can show, never negative and never past what the
// numbers hold.
void TestBatchProgress::estimateStaysBoundedWhileTheEncoderStandsStill()
{
    const double stuckAt = 0.01;
    m_progress.begin({QStringLiteral("a.avi")}, 1);
    m_progress.setDuration(QStringLiteral("a.avi"), 60);
    m_progress.fileStarted(0);
    m_progress.runStarted(0, 0);
    // Some real progress first, so that there is a speed to go by.
    for (int step = 1; step <= 40; ++step) {
        m_now += 250;
        m_progress.runProgress(0, stuckAt * step / 40);
    }
    bool shown = false;
    // A day of reports, four a second.
    for (int step = 0; step < 24 * 3600 * 4; ++step) {
        m_now += 250;
        m_progress.runProgress(0, stuckAt);
        const std::optional<qint64> left = m_progress.secondsLeft();
        if (!left)
            continue;
        shown = true;
        if (*left < 0 || *left > 10000000)
            QFAIL(qPrintable(QStringLiteral("%1 s left after %2 s").arg(*left).arg(step / 4)));
    }
    QVERIFY(shown);
    QVERIFY(!m_progress.statusText().contains(QLatin1Char('-')));
}

void TestBatchProgress::timeLeftText_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << qint64(0) << "剩余约 5 秒";
    QTest::newRow("42") << qint64(42) << "剩余约 45 秒";
    QTest::newRow("200") << qint64(200) << "剩余约 3 分 20 秒";
    QTest::newRow("178") << qint64(178) << "剩余约 3 分";
    QTest::newRow("1500") << qint64(1500) << "剩余约 25 分";
    QTest::newRow("3600") << qint64(3600) << "剩余约 1 小时";
    QTest::newRow("5000") << qint64(5000) << "剩余约 1 小时 23 分";
}

void TestBatchProgress::timeLeftText()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(BatchProgress::timeLeftText(seconds), text);
}

QTEST_GUILESS_MAIN(TestBatchProgress)
#include "test_batchprogress.moc"
