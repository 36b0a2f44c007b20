#include "ProcessTable.h"
#include "convert/Leftovers.h"
#include "convert/OutputReservation.h"
#include "convert/RunFolder.h"
#include "convert/RunLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// Output names taken by a run, and what runs that were killed leave behind: a run is dead when
// nobody holds its lock, wherever it ran, and clean-up never follows a link.
class TestLeftovers : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void aNameIsTakenOnce();
    void releaseRemovesOnlyTheEmptyReservation_data();
    void releaseRemovesOnlyTheEmptyReservation();
    void forgedJournalRemovesNothing_data();
    void forgedJournalRemovesNothing();
    void deadRunsAreRemovedLiveOnesKept();
    void cleanUpNeverFollowsALink();
    void newcomersWithoutALockAreLeftAlone_data();
    void newcomersWithoutALockAreLeftAlone();
    void runsOnOtherMachinesAreJudgedByTheirLock_data();
    void runsOnOtherMachinesAreJudgedByTheirLock();
    void deadToolsTemporariesAreRemoved();

private:
    QString write(const QString &name, const QByteArray &content = {});
    QString reserve(const QString &output, const QString &journal);
    // A run folder as a run that has ended without tidying up leaves it.
    QString deadRun(const QString &scratch, const QString &name);
    static qint64 deadPid();

    std::unique_ptr<QTemporaryDir> m_dir;
};

// Started as `test_leftovers --hold-run BASE OUTPUT`: a run of another "machine" that makes its
// run folder, takes OUTPUT, says where its folder is and lives until it reads "end".
// `--clear BASE` clears the dead runs of BASE.
static int helper(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--hold-run") == 0) {
        QCoreApplication app(argc, argv);
        RunFolder run;
        if (!run.create(QString::fromLocal8Bit(argv[2])))
            return 1;
        OutputReservation output;
        output.take(QString::fromLocal8Bit(argv[3]),
                    run.path() + QStringLiteral("/reservations-1"));
        std::cout << run.path().toStdString() << std::endl;
        // Until told to end; a run that is killed meanwhile never ends by itself.
        std::string line;
        while (!std::getline(std::cin, line) || line != "end")
            if (std::cin.eof())
                ::pause();
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--clear") == 0) {
        Leftovers::removeDeadRuns(QString::fromLocal8Bit(argv[2]));
        return 0;
    }
    return -1;
}

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

QString TestLeftovers::reserve(const QString &output, const QString &journal)
{
    QFile::remove(output);
    QDir().mkpath(QFileInfo(output).absolutePath());
    OutputReservation reservation;
    return reservation.take(output, journal) == OutputReservation::Outcome::Taken ? output
                                                                                  : QString();
}

QString TestLeftovers::deadRun(const QString &scratch, const QString &name)
{
    const QString folder = scratch + QLatin1Char('/') + name;
    QDir().mkpath(folder);
    RunLock lock;
    lock.create(folder + QStringLiteral("/lock"));
    return folder; // the lock goes with `lock`, as with a killed run
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
    // A dangling link is somebody's name too, and is never written through.
    const QString link = m_dir->filePath(QStringLiteral("link.mp3"));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("nowhere")), link));
    QCOMPARE(second.take(link, journal), OutputReservation::Outcome::Exists);
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("nowhere"))));
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
    QTest::newRow("its folder swapped for another with the same name") << "folder" << false;
}

void TestLeftovers::releaseRemovesOnlyTheEmptyReservation()
{
    QFETCH(QString, meanwhile);
    QFETCH(bool, removed);
    const QString path = m_dir->filePath(QStringLiteral("out/clip.mpg"));
    const QString journal = m_dir->filePath(QStringLiteral("journal"));
    for (bool byJournal : {false, true}) {
        QDir(m_dir->filePath(QStringLiteral("out"))).removeRecursively();
        QDir(m_dir->filePath(QStringLiteral("moved"))).removeRecursively();
        QFile::remove(journal);
        QDir().mkpath(m_dir->filePath(QStringLiteral("out")));
        OutputReservation reservation;
        QCOMPARE(reservation.take(path, journal), OutputReservation::Outcome::Taken);
        if (meanwhile == QLatin1String("replaced")) {
            QVERIFY(::rename(QFile::encodeName(write(QStringLiteral(".tmp"), "out")).constData(),
                             QFile::encodeName(path).constData()) == 0);
        } else if (meanwhile == QLatin1String("written")) {
            write(QStringLiteral("out/clip.mpg"), "output");
        } else if (meanwhile == QLatin1String("remade")) {
            // A fresh empty file under the name, as another run's reservation would be: the
            // same name, another file.
            QVERIFY(QFile::rename(path, m_dir->filePath(QStringLiteral("keep"))));
            write(QStringLiteral("out/clip.mpg"));
            QFile::remove(m_dir->filePath(QStringLiteral("keep")));
        } else if (meanwhile == QLatin1String("folder")) {
            // The empty file is still there, moved with its folder; what now stands at the
            // path is an empty file in another folder.
            QVERIFY(QDir().rename(m_dir->filePath(QStringLiteral("out")),
                                  m_dir->filePath(QStringLiteral("moved"))));
            write(QStringLiteral("out/clip.mpg"));
        }
        if (byJournal)
            OutputReservation::releaseJournal(journal);
        else
            reservation.release();
        QCOMPARE(!QFileInfo::exists(path), removed);
        QVERIFY(!QFile::exists(journal) || !byJournal);
    }
}

void TestLeftovers::forgedJournalRemovesNothing_data()
{
    // A journal line: folder device and inode, file device and inode, the path.
    QTest::addColumn<QString>("forgery");
    QTest::newRow("a file with content") << "full";
    QTest::newRow("the right name, another file") << "inode";
    QTest::newRow("the file, said to be in another folder") << "folder";
    QTest::newRow("a journal that is a link to a real one") << "link";
    QTest::newRow("a line of the old form, without its folder") << "old";
}

void TestLeftovers::forgedJournalRemovesNothing()
{
    QFETCH(QString, forgery);
    const QString victim = write(QStringLiteral("home/precious.txt"), "mine");
    const QString empty = write(QStringLiteral("home/marker"));
    const QString scratch = m_dir->filePath(QStringLiteral("scratch"));
    QDir().mkpath(scratch);
    const QString journal = scratch + QStringLiteral("/reservations-4242-AbCdEf");
    const auto status = [](const QString &path) {
        struct stat found = {};
        ::lstat(QFile::encodeName(path).constData(), &found);
        return found;
    };
    const struct stat folder = status(m_dir->filePath(QStringLiteral("home")));
    const auto line = [](const struct stat &in, const struct stat &file, const QString &path) {
        return QByteArray::number(quint64(in.st_dev)) + ' ' +
               QByteArray::number(quint64(in.st_ino)) + ' ' +
               QByteArray::number(quint64(file.st_dev)) + ' ' +
               QByteArray::number(quint64(file.st_ino)) + ' ' +
               QFile::encodeName(path).toPercentEncoding() + '\n';
    };
    QByteArray text;
    if (forgery == QLatin1String("full"))
        text = line(folder, status(victim), victim);
    else if (forgery == QLatin1String("inode"))
        text = line(folder, status(victim), empty);
    else if (forgery == QLatin1String("folder"))
        text = line(status(scratch), status(empty), empty);
    else if (forgery == QLatin1String("old"))
        text = QByteArray::number(quint64(status(empty).st_dev)) + ' ' +
               QByteArray::number(quint64(status(empty).st_ino)) + ' ' +
               QFile::encodeName(empty).toPercentEncoding() + '\n';
    if (forgery == QLatin1String("link")) {
        const QString real =
            write(QStringLiteral("elsewhere/journal"), line(folder, status(empty), empty));
        QVERIFY(QFile::link(real, journal));
    } else {
        QFile file(journal);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    Leftovers::removeDeadRuns(scratch);
    QVERIFY(QFileInfo::exists(victim));
    QCOMPARE(QFileInfo(victim).size(), 4);
    QVERIFY(QFileInfo::exists(empty));
    QVERIFY(!QFileInfo(journal).isSymLink() && !QFileInfo::exists(journal));
}

void TestLeftovers::deadRunsAreRemovedLiveOnesKept()
{
    // A killed headless run's folder with its intermediate file and journal, a killed window's
    // journal beside them; a live run's folder and a live window's journal stay.
    const QString scratch = m_dir->filePath(QStringLiteral("scratch"));
    const QString dead = deadRun(scratch, QStringLiteral("run-1-AbCdEf"));
    write(QStringLiteral("scratch/run-1-AbCdEf/tmp.mp4"), "half");
    write(QStringLiteral("scratch/run-1-AbCdEf/job-2/tmp.mp4"), "half");
    const QString deadOutput = reserve(m_dir->filePath(QStringLiteral("out/clip-1.rmvb")),
                                       dead + QStringLiteral("/reservations-1-XyZ123"));
    const QString finished = reserve(m_dir->filePath(QStringLiteral("out/clip-4.rmvb")),
                                     dead + QStringLiteral("/reservations-1-XyZ123"));
    write(QStringLiteral("out/clip-4.rmvb"), "converted"); // the tool's output took its place
    QString deadWindowJournal;
    {
        RunLock window;
        QVERIFY(window.createUnique(scratch, QStringLiteral("reservations-2-")));
        deadWindowJournal = window.path();
    }
    const QString deadWindowOutput =
        reserve(m_dir->filePath(QStringLiteral("out/clip-2.rmvb")), deadWindowJournal);
    RunFolder live;
    QVERIFY(live.create(scratch));
    write(live.path().mid(m_dir->path().size() + 1) + QStringLiteral("/tmp.mp4"), "half");
    const QString liveOutput = reserve(m_dir->filePath(QStringLiteral("out/clip-3.rmvb")),
                                       live.path() + QStringLiteral("/reservations-3-AAAAAA"));
    RunLock liveWindow;
    QVERIFY(liveWindow.createUnique(scratch, QStringLiteral("reservations-5-")));
    const QString liveWindowOutput =
        reserve(m_dir->filePath(QStringLiteral("out/clip-5.rmvb")), liveWindow.path());
    QVERIFY(!deadOutput.isEmpty() && !deadWindowOutput.isEmpty() && !liveOutput.isEmpty() &&
            !liveWindowOutput.isEmpty());

    Leftovers::removeDeadRuns(scratch);
    QVERIFY(!QFileInfo::exists(dead));
    QVERIFY(!QFileInfo::exists(deadOutput));
    QVERIFY(!QFileInfo::exists(deadWindowOutput));
    QVERIFY(!QFileInfo::exists(deadWindowJournal));
    QCOMPARE(QFileInfo(finished).size(), 9);
    QVERIFY(QFileInfo::exists(live.path() + QStringLiteral("/tmp.mp4")));
    QVERIFY(QFileInfo::exists(liveOutput));
    QVERIFY(QFileInfo::exists(liveWindowOutput));
    QVERIFY(QFileInfo::exists(liveWindow.path()));
}

void TestLeftovers::cleanUpNeverFollowsALink()
{
    // What another user could plant where the scratch folder is shared: a run folder that is a
    // link to a folder of the user's, and a dead run holding links to others.
    const QString precious = write(QStringLiteral("documents/thesis.odt"), "years of work");
    const QString documents = QFileInfo(precious).path();
    const QString scratch = m_dir->filePath(QStringLiteral("scratch"));
    QDir().mkpath(scratch);
    QVERIFY(QFile::link(documents, scratch + QStringLiteral("/run-7-LinkEd")));
    const QString dead = deadRun(scratch, QStringLiteral("run-8-AbCdEf"));
    QVERIFY(QFile::link(documents, dead + QStringLiteral("/job-1")));
    QVERIFY(QFile::link(precious, dead + QStringLiteral("/tmp.mp4")));
    QVERIFY(QFile::link(documents, scratch + QStringLiteral("/reservations-9-LinkEd")));

    Leftovers::removeDeadRuns(scratch);
    QCOMPARE(QDir(scratch).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
             QStringList());
    QFile kept(precious);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("years of work"));
}

void TestLeftovers::newcomersWithoutALockAreLeftAlone_data()
{
    // What holds no lock because its run has only just made it, or because the run that made
    // it died there and then, long ago.
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("ageMinutes");
    QTest::addColumn<bool>("kept");
    QTest::newRow("a run folder just made, no lock file yet") << "run-5-AbCdEf" << 0 << true;
    QTest::newRow("a run folder without a lock file, long left") << "run-5-AbCdEf" << 60 << false;
    QTest::newRow("an empty journal just made, not locked yet")
        << "reservations-5-AbCdEf" << 0 << true;
    QTest::newRow("an empty journal, long left") << "reservations-5-AbCdEf" << 60 << false;
}

void TestLeftovers::newcomersWithoutALockAreLeftAlone()
{
    QFETCH(QString, name);
    QFETCH(int, ageMinutes);
    QFETCH(bool, kept);
    const QString scratch = m_dir->filePath(QStringLiteral("scratch"));
    const QString path = scratch + QLatin1Char('/') + name;
    if (name.startsWith(QStringLiteral("run-")))
        QVERIFY(QDir().mkpath(path));
    else
        write(QStringLiteral("scratch/") + name);
    const struct timespec then[2] = {{time(nullptr) - ageMinutes * 60, 0},
                                     {time(nullptr) - ageMinutes * 60, 0}};
    QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), then, 0) == 0);
    Leftovers::removeDeadRuns(scratch);
    QCOMPARE(QFileInfo::exists(path), kept);
}

void TestLeftovers::runsOnOtherMachinesAreJudgedByTheirLock_data()
{
    QTest::addColumn<bool>("processOne"); // the run is process 1 of its machine, as in a container
    QTest::addColumn<bool>("killed");
    QTest::newRow("a live run of another machine") << false << false;
    QTest::newRow("a killed run of another machine") << false << true;
    QTest::newRow("a live run in a container") << true << false;
    QTest::newRow("a killed run in a container") << true << true;
}

void TestLeftovers::runsOnOtherMachinesAreJudgedByTheirLock()
{
    QFETCH(bool, processOne);
    QFETCH(bool, killed);
    // Two "machines" on one home folder: process namespaces of their own, where the other's
    // process ids name nothing, or the wrong process.
    const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
    if (unshare.isEmpty())
        QSKIP("unshare (util-linux) is not installed");
    const QStringList machine = {"--user", "--map-root-user", "--pid",
                                 "--fork", "--mount-proc",    "--kill-child"};
    QProcess probe;
    probe.start(unshare, machine + QStringList{"true"});
    if (!probe.waitForFinished(60000) || probe.exitCode() != 0)
        QSKIP("no process namespace can be made here (unprivileged user namespaces are off)");

    const QString scratch = m_dir->filePath(QStringLiteral("scratch"));
    const QString output = m_dir->filePath(QStringLiteral("out/clip-1.mp3"));
    QDir().mkpath(scratch);
    QDir().mkpath(QFileInfo(output).path());
    const QString self = QCoreApplication::applicationFilePath();
    QProcess holder;
    // The run is process 1 itself, or a child of a shell that is.
    holder.start(unshare, machine +
                              (processOne ? QStringList{self}
                                          : QStringList{"sh", "-c", "\"$0\" \"$@\"; :", self}) +
                              QStringList{"--hold-run", scratch, output});
    QVERIFY(holder.waitForStarted());
    QVERIFY(holder.waitForReadyRead(60000));
    const QString runFolder = QString::fromLocal8Bit(holder.readLine()).trimmed();
    QVERIFY2(QFileInfo(runFolder).isDir(), qPrintable(runFolder));
    QVERIFY(QFileInfo(runFolder).fileName().startsWith(processOne ? "run-1-" : "run-2-"));
    if (killed) {
        // The run's own process, as this machine numbers it.
        QStringList pids;
        for (const QString &process :
             processesMentioning({QStringLiteral("--hold-run ") + scratch}))
            pids.append(process.section(QLatin1Char(' '), 0, 0));
        holder.kill();
        QVERIFY(holder.waitForFinished(60000));
        // Its namespace goes down with its first process, the run a moment later: gone, or
        // a zombie, whose files are closed.
        const auto ended = [](const QString &pid) {
            QFile status(QStringLiteral("/proc/%1/status").arg(pid));
            return !status.open(QIODevice::ReadOnly) || status.readAll().contains("\nState:\tZ");
        };
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(pids.begin(), pids.end(), ended), 60000);
    }

    QProcess cleaner;
    cleaner.start(unshare, machine + QStringList{self, "--clear", scratch});
    QVERIFY(cleaner.waitForFinished(60000));
    QCOMPARE(cleaner.exitCode(), 0);
    QCOMPARE(QFileInfo::exists(runFolder), !killed);
    QCOMPARE(QFileInfo::exists(output), !killed);
    if (!killed) {
        holder.write("end\n");
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(60000));
        QCOMPARE(holder.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(runFolder)); // a run that ends removes its own folder
    }
}

void TestLeftovers::deadToolsTemporariesAreRemoved()
{
    const qint64 dead = deadPid();
    const qint64 alive = QCoreApplication::applicationPid();
    const QString left = write(QStringLiteral(".vidmorph-%1-clip-1.mpg").arg(dead), "half");
    const QString working = write(QStringLiteral(".vidmorph-%1-clip-2.mpg").arg(alive), "half");
    const QString users = write(QStringLiteral(".vidmorph-notes"), "a user's own file");
    const QString watch = write(QStringLiteral(".vidmorph-watch-0123456789abcdef"), "state");
    const QString output = write(QStringLiteral("clip-3.mpg"), "done");
    Leftovers::removeDeadTemporaries(m_dir->path());
    QVERIFY(!QFileInfo::exists(left));
    QVERIFY(QFileInfo::exists(working));
    QVERIFY(QFileInfo::exists(users));
    QVERIFY(QFileInfo::exists(watch));
    QVERIFY(QFileInfo::exists(output));
}

int main(int argc, char **argv)
{
    if (argc > 1 && argv[1][0] == '-' && argv[1][1] == '-') {
        const int helped = helper(argc, argv);
        if (helped >= 0)
            return helped;
    }
    QCoreApplication app(argc, argv);
    TestLeftovers test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_leftovers.moc"
