#include "convert/Leftovers.h"
#include "convert/OutputReservation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// Output names taken by a run, and what runs that were killed leave behind.
class TestLeftovers : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void aNameIsTakenOnce();
    void releaseRemovesOnlyTheEmptyReservation_data();
    void releaseRemovesOnlyTheEmptyReservation();
    void deadRunsAreRemovedLiveOnesKept();
    void deadToolsTemporariesAreRemoved();

private:
    QString write(const QString &name, const QByteArray &content = {});
    static qint64 deadPid();

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestLeftovers::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
}

QString TestLeftovers::write(const QString &name, const QByteArray &content)
{
    const QString path = m_dir->filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return path;
}

qint64 TestLeftovers::deadPid()
{
    // A process that has come and gone: its id names nothing now.
    QProcess process;
    process.start(QStringLiteral("true"), {});
    process.waitForFinished();
    return process.processId() > 0 ? process.processId() : 999999;
}

void TestLeftovers::aNameIsTakenOnce()
{
    const QString path = m_dir->filePath(QStringLiteral("clip-12345.mp3"));
    const QString journal = m_dir->filePath(QStringLiteral("journal"));
    OutputReservation first, second;
    QCOMPARE(first.take(path, journal), OutputReservation::Outcome::Taken);
    QVERIFY(QFileInfo(path).isFile());
    QCOMPARE(QFileInfo(path).size(), 0);
    QCOMPARE(second.take(path, journal), OutputReservation::Outcome::Exists);
    QVERIFY(!second.isTaken());
    // A dangling link is somebody's name too.
    const QString link = m_dir->filePath(QStringLiteral("link.mp3"));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("nowhere")), link));
    QCOMPARE(second.take(link, journal), OutputReservation::Outcome::Exists);
    QCOMPARE(second.take(m_dir->filePath(QStringLiteral("no/such/folder/x.mp3")), journal),
             OutputReservation::Outcome::Failed);
}

void TestLeftovers::releaseRemovesOnlyTheEmptyReservation_data()
{
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<bool>("removed");
    QTest::newRow("still the empty reservation") << "" << true;
    QTest::newRow("the tool's output took its place") << "replaced" << false;
    QTest::newRow("written to") << "written" << false;
    QTest::newRow("removed and made anew by another run") << "remade" << false;
}

void TestLeftovers::releaseRemovesOnlyTheEmptyReservation()
{
    QFETCH(QString, meanwhile);
    QFETCH(bool, removed);
    const QString path = m_dir->filePath(QStringLiteral("clip.mpg"));
    const QString journal = m_dir->filePath(QStringLiteral("journal"));
    for (bool byJournal : {false, true}) {
        QFile::remove(path);
        QFile::remove(journal);
        OutputReservation reservation;
        QCOMPARE(reservation.take(path, journal), OutputReservation::Outcome::Taken);
        if (meanwhile == QLatin1String("replaced"))
            QVERIFY(::rename(QFile::encodeName(write(QStringLiteral(".tmp"), "out")).constData(),
                             QFile::encodeName(path).constData()) == 0);
        else if (meanwhile == QLatin1String("written"))
            write(QStringLiteral("clip.mpg"), "output");
        else if (meanwhile == QLatin1String("remade")) {
            // A fresh empty file under the name, as another run's reservation would be: the
            // same name, another file.
            QFile::remove(m_dir->filePath(QStringLiteral("keep")));
            QVERIFY(QFile::rename(path, m_dir->filePath(QStringLiteral("keep"))));
            write(QStringLiteral("clip.mpg"));
        }
        if (byJournal)
            OutputReservation::releaseJournal(journal);
        else
            reservation.release();
        QCOMPARE(!QFileInfo::exists(path), removed);
        QVERIFY(!QFile::exists(journal) || !byJournal);
    }
}

void TestLeftovers::deadRunsAreRemovedLiveOnesKept()
{
    const qint64 dead = deadPid();
    const qint64 alive = QCoreApplication::applicationPid();
    // A killed headless run: its folder with an intermediate file and the journal of the
    // names it took; a killed window's journal beside them. The live process's stay.
    const QString deadOutput = write(QStringLiteral("out/clip-1.rmvb"));
    const QString deadWindowOutput = write(QStringLiteral("out/clip-2.rmvb"));
    const QString liveOutput = write(QStringLiteral("out/clip-3.rmvb"));
    const QString finished = write(QStringLiteral("out/clip-4.rmvb"));
    OutputReservation taken;
    const QString scratch = m_dir->filePath(QStringLiteral("scratch"));
    const QString deadRun = scratch + QStringLiteral("/run-%1-AbCdEf").arg(dead);
    const QString liveRun = scratch + QStringLiteral("/run-%1-XyZ123").arg(alive);
    write(QStringLiteral("scratch/run-%1-AbCdEf/tmp.mp4").arg(dead), "half");
    write(QStringLiteral("scratch/run-%1-XyZ123/tmp.mp4").arg(alive), "half");
    const auto journalOf = [&](const QString &journal, const QString &output) {
        QFile::remove(output);
        OutputReservation reservation;
        QCOMPARE(reservation.take(output, journal), OutputReservation::Outcome::Taken);
    };
    journalOf(deadRun + QStringLiteral("/reservations-%1").arg(dead), deadOutput);
    journalOf(scratch + QStringLiteral("/reservations-%1").arg(dead), deadWindowOutput);
    journalOf(liveRun + QStringLiteral("/reservations-%1").arg(alive), liveOutput);
    journalOf(deadRun + QStringLiteral("/reservations-%1").arg(dead), finished);
    write(QStringLiteral("out/clip-4.rmvb"), "converted"); // the tool's output took its place

    Leftovers::removeDeadRuns(scratch);
    QVERIFY(!QFileInfo::exists(deadRun));
    QVERIFY(!QFileInfo::exists(deadOutput));
    QVERIFY(!QFileInfo::exists(deadWindowOutput));
    QVERIFY(!QFileInfo::exists(scratch + QStringLiteral("/reservations-%1").arg(dead)));
    QVERIFY(QFileInfo::exists(liveRun + QStringLiteral("/tmp.mp4")));
    QVERIFY(QFileInfo::exists(liveOutput));
    QCOMPARE(QFileInfo(finished).size(), 9);
}

void TestLeftovers::deadToolsTemporariesAreRemoved()
{
    const qint64 dead = deadPid();
    const qint64 alive = QCoreApplication::applicationPid();
    const QString left = write(QStringLiteral(".vidmorph-%1-clip-1.mpg").arg(dead), "half");
    const QString working = write(QStringLiteral(".vidmorph-%1-clip-2.mpg").arg(alive), "half");
    const QString users = write(QStringLiteral(".vidmorph-notes"), "a user's own file");
    const QString output = write(QStringLiteral("clip-3.mpg"), "done");
    Leftovers::removeDeadTemporaries(m_dir->path());
    QVERIFY(!QFileInfo::exists(left));
    QVERIFY(QFileInfo::exists(working));
    QVERIFY(QFileInfo::exists(users));
    QVERIFY(QFileInfo::exists(output));
}

QTEST_GUILESS_MAIN(TestLeftovers)
#include "test_leftovers.moc"
