#include "convert/BatchLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The batch logs stay in bounds: the newest hundred, none older than ninety days.
class TestBatchLog : public QObject
{
    Q_OBJECT
private slots:
    void oldLogsGo_data();
    void oldLogsGo();
};

void TestBatchLog::oldLogsGo_data()
{
    QTest::addColumn<int>("recent");  // logs of the last days, one a day apart
    QTest::addColumn<int>("ancient"); // logs of more than ninety days ago
    QTest::addColumn<int>("kept");    // of the old ones, beside the new log
    QTest::newRow("a few") << 5 << 0 << 5;
    QTest::newRow("past the hundred") << 120 << 0 << 99;
    QTest::newRow("too old, though few") << 3 << 4 << 3;
    QTest::newRow("both") << 89 << 30 << 89;
}

void TestBatchLog::oldLogsGo()
{
    QFETCH(int, recent);
    QFETCH(int, ancient);
    QFETCH(int, kept);
    QTemporaryDir dir;
    const QDateTime now = QDateTime::currentDateTime();
    auto make = [&](const QString &name, const QDateTime &time) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("log\n");
        file.flush();
        QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
    };
    for (int i = 0; i < recent; ++i)
        make(QStringLiteral("batch-recent-%1.log").arg(i, 3, 10, QLatin1Char('0')),
             now.addSecs(-3600 * (i + 1)));
    for (int i = 0; i < ancient; ++i)
        make(QStringLiteral("batch-ancient-%1.log").arg(i), now.addDays(-91 - i));
    make(QStringLiteral("notes.txt"), now.addDays(-400)); // not a log of ours

    BatchLog log;
    log.open(dir.path());
    QVERIFY(QFile::exists(log.path()));
    log.close();
    const QStringList left = QDir(dir.path()).entryList({"batch-*.log"}, QDir::Files, QDir::Name);
    QCOMPARE(left.size(), kept + 1);
    QVERIFY(left.contains(QFileInfo(log.path()).fileName()));
    QCOMPARE(left.filter(QStringLiteral("ancient")).size(), 0);
    // The ones kept are the newest.
    for (int i = 0; i < kept; ++i)
        QVERIFY(
            left.contains(QStringLiteral("batch-recent-%1.log").arg(i, 3, 10, QLatin1Char('0'))));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("notes.txt"))));
}

QTEST_GUILESS_MAIN(TestBatchLog)
#include "test_batchlog.moc"
