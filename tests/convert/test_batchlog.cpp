#include "convert/BatchLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

// The batch logs: private, in bounds (every log of the last week, of the older ones the newest
// hundred and none past ninety days), and named only when there is one.
class TestBatchLog : public QObject
{
    Q_OBJECT
private slots:
    void oldLogsGo_data();
    void oldLogsGo();
    void logsArePrivate();
    void noFolderNoLog();
    void aScriptsLogIsAppendedTo();
};

void TestBatchLog::oldLogsGo_data()
{
    // Logs of other runs, by age in days; the newest first.
    QTest::addColumn<QList<double>>("ages");
    QTest::addColumn<int>("kept"); // the newest that stay, besides the new log
    const auto spread = [](int count, double first, double step) {
        QList<double> ages;
        for (int i = 0; i < count; ++i)
            ages.append(first + i * step);
        return ages;
    };
    QTest::newRow("a few") << spread(5, 0.1, 1) << 5;
    // 150 runs of one job within the hour: a summary may still name any of them.
    QTest::newRow("150 runs of the last hour") << spread(150, 0.001, 0.0002) << 150;
    // The new log is among the hundred.
    QTest::newRow("150 runs over 15 days") << spread(150, 0.1, 0.1) << 99;
    QTest::newRow("the week is kept beyond the hundred") << spread(120, 0.01, 6.5 / 120) << 120;
    QTest::newRow("past ninety days, though few") << (spread(3, 1, 1) + spread(4, 91, 1)) << 3;
    QTest::newRow("both") << (spread(89, 7.5, 0.9) + spread(30, 91, 1)) << 89;
}

void TestBatchLog::oldLogsGo()
{
    QFETCH(QList<double>, ages);
    QFETCH(int, kept);
    QTemporaryDir dir;
    const QDateTime now = QDateTime::currentDateTime();
    auto make = [&](const QString &name, double days) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("log\n");
        file.flush();
        QVERIFY(file.setFileTime(now.addSecs(-qint64(days * 24 * 3600)),
                                 QFileDevice::FileModificationTime));
    };
    for (int i = 0; i < ages.size(); ++i)
        make(QStringLiteral("batch-%1.log").arg(i, 3, 10, QLatin1Char('0')), ages.at(i));
    make(QStringLiteral("notes.txt"), 400); // not a log of ours
    // A link named like a log is not followed, nor removed as if it were one.
    const QString target = dir.filePath(QStringLiteral("precious.txt"));
    make(QStringLiteral("precious.txt"), 400);
    QVERIFY(QFile::link(target, dir.filePath(QStringLiteral("batch-link.log"))));

    BatchLog log;
    log.open(dir.path());
    QVERIFY(QFile::exists(log.path()));
    log.close();
    QStringList left = QDir(dir.path()).entryList({"batch-???.log"}, QDir::Files, QDir::Name);
    QStringList newest;
    for (int i = 0; i < kept; ++i)
        newest.append(QStringLiteral("batch-%1.log").arg(i, 3, 10, QLatin1Char('0')));
    QCOMPARE(left, newest);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("notes.txt"))));
    QVERIFY(QFile::exists(target));
}

void TestBatchLog::logsArePrivate()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("logs"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::ExeOther));
    BatchLog log;
    log.open(folder);
    log.write(QStringLiteral("a file's name\n"));
    struct stat status = {};
    QVERIFY(::stat(QFile::encodeName(folder).constData(), &status) == 0);
    QCOMPARE(status.st_mode & 0777, 0700u);
    QVERIFY(::stat(QFile::encodeName(log.path()).constData(), &status) == 0);
    QCOMPARE(status.st_mode & 0777, 0600u);
}

void TestBatchLog::noFolderNoLog()
{
    // The log folder's place is taken by a file: no log, and nothing that names one.
    QTemporaryDir dir;
    const QString blocked = dir.filePath(QStringLiteral("logs"));
    QFile file(blocked);
    QVERIFY(file.open(QIODevice::WriteOnly));
    BatchLog log;
    log.open(blocked);
    log.write(QStringLiteral("lost\n"));
    QCOMPARE(log.path(), QString());
    QVERIFY(!log.openFile(blocked + QStringLiteral("/run.log")));
    QVERIFY(!log.errorString().isEmpty());
    QCOMPARE(log.path(), QString());
}

void TestBatchLog::aScriptsLogIsAppendedTo()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("job.log"));
    for (const char *text : {"first run\n", "second run\n"}) {
        BatchLog log;
        QVERIFY(log.openFile(path));
        QCOMPARE(log.path(), path);
        log.write(QString::fromLatin1(text));
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY2(text.indexOf(QStringLiteral("first run")) < text.indexOf(QStringLiteral("second run")),
             qPrintable(text));
    QCOMPARE(text.count(QStringLiteral("=== Vidmorph")), 2);
    QCOMPARE(QFile::permissions(path) & (QFile::ReadOther | QFile::ReadGroup),
             QFile::Permissions());
}

QTEST_GUILESS_MAIN(TestBatchLog)
#include "test_batchlog.moc"
