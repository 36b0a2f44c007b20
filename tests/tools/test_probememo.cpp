// The memo of a run's hardware tests: each answer found once and kept for the run, and tools
// that start together waiting for the first one's answer instead of testing too.
#include "ToolContract.h"
#include "common/ProbeMemo.h"

#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <sys/stat.h>
#include <thread>

class TestProbeMemo : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void keptForTheRun_data();
    void keptForTheRun();
    void toolsStartedTogetherWaitForTheFirstAnswer();

private:
    // Whether a lock on the memo file is waited for: /proc/locks marks a waiter with "->".
    bool someoneWaitsFor(const QString &path) const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestProbeMemo::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestProbeMemo::cleanup()
{
    qunsetenv(ToolContract::HardwareProbeFileVariable);
}

void TestProbeMemo::keptForTheRun_data()
{
    QTest::addColumn<QString>("memo"); // the variable: empty unset, "FILE", "FOLDER"
    QTest::addColumn<QStringList>("subjects");
    QTest::addColumn<QList<bool>>("found");   // what each call's test would find
    QTest::addColumn<QList<bool>>("answers"); // what each call answers
    QTest::addColumn<int>("tests");           // how many tests ran
    QTest::newRow("no memo: every call tests")
        << "" << QStringList{"chip", "chip"} << QList<bool>{true, false} << QList<bool>{true, false}
        << 2;
    QTest::newRow("a chip that works is tested once")
        << "FILE" << QStringList{"chip", "chip", "chip"} << QList<bool>{true, false, false}
        << QList<bool>{true, true, true} << 1;
    QTest::newRow("a chip that fails is tested once")
        << "FILE" << QStringList{"chip", "chip"} << QList<bool>{false, true}
        << QList<bool>{false, false} << 1;
    QTest::newRow("each subject its own answer")
        << "FILE" << QStringList{"a h264", "a hevc", "a h264", "a hevc"}
        << QList<bool>{true, false, false, true} << QList<bool>{true, false, true, false} << 2;
    QTest::newRow("a subject that begins another is its own")
        << "FILE" << QStringList{"dev enc", "dev enc2", "dev"} << QList<bool>{true, false, false}
        << QList<bool>{true, false, false} << 3;
    QTest::newRow("a subject with a line break is not kept")
        << "FILE" << QStringList{"a\nb", "a\nb"} << QList<bool>{true, false}
        << QList<bool>{true, false} << 2;
    QTest::newRow("a memo that cannot be opened: every call tests")
        << "FOLDER" << QStringList{"chip", "chip"} << QList<bool>{true, false}
        << QList<bool>{true, false} << 2;
}

void TestProbeMemo::keptForTheRun()
{
    QFETCH(QString, memo);
    QFETCH(QStringList, subjects);
    QFETCH(QList<bool>, found);
    QFETCH(QList<bool>, answers);
    QFETCH(int, tests);
    if (memo == QLatin1String("FILE"))
        qputenv(ToolContract::HardwareProbeFileVariable,
                QFile::encodeName(m_dir->filePath(QStringLiteral("memo"))));
    else if (memo == QLatin1String("FOLDER"))
        qputenv(ToolContract::HardwareProbeFileVariable, QFile::encodeName(m_dir->path()));

    int ran = 0;
    for (int i = 0; i < subjects.size(); ++i) {
        const bool answer = ProbeMemo::answer(subjects[i].toStdString(), [&] {
            ++ran;
            return found[i];
        });
        QCOMPARE(answer, answers[i]);
    }
    QCOMPARE(ran, tests);
}

bool TestProbeMemo::someoneWaitsFor(const QString &path) const
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return false;
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return false;
    const QString inode = QStringLiteral(":%1 ").arg(quint64(status.st_ino));
    for (const QByteArray &line : locks.readAll().split('\n'))
        if (line.contains("->") && QString::fromLatin1(line).contains(inode))
            return true;
    return false;
}

// Two files start at once: the second tool waits while the first tests the chip, and takes its
// answer rather than testing the chip at the same time.
void TestProbeMemo::toolsStartedTogetherWaitForTheFirstAnswer()
{
    const QString path = m_dir->filePath(QStringLiteral("memo"));
    qputenv(ToolContract::HardwareProbeFileVariable, QFile::encodeName(path));
    std::atomic<int> tests{0};
    QSemaphore firstTesting, release;
    std::thread first([&] {
        ProbeMemo::answer("chip", [&] {
            ++tests;
            firstTesting.release();
            release.acquire();
            return true;
        });
    });
    QVERIFY(firstTesting.tryAcquire(1, 60000));
    std::atomic<bool> secondAnswer{false};
    std::thread second([&] {
        secondAnswer = ProbeMemo::answer("chip", [&] {
            ++tests;
            return false;
        });
    });
    const bool waited = QTest::qWaitFor([&] { return someoneWaitsFor(path) || tests > 1; }, 60000);
    release.release();
    first.join();
    second.join();
    QVERIFY(waited);
    QCOMPARE(tests.load(), 1);
    QVERIFY(secondAnswer);
}

QTEST_GUILESS_MAIN(TestProbeMemo)
#include "test_probememo.moc"
