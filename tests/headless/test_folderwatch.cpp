// The watch over a shared inbox: what it hands on to be converted, and when it gives up.
#include "convert/CheckedInputs.h"
#include "headless/FolderWatch.h"
#include "headless/WatchState.h"
#include "tools/ToolContract.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class TestFolderWatch : public QObject
{
    Q_OBJECT
private slots:
    void takesOnlyTheUsersOwnFiles_data();
    void takesOnlyTheUsersOwnFiles();
    void reportsTheFolderLost_data();
    void reportsTheFolderLost();
    void stateIsPrivateAndKeyedByTheFolders();
    void earlierStateIsTakenOver_data();
    void earlierStateIsTakenOver();
};

namespace {
void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}
} // namespace

void TestFolderWatch::takesOnlyTheUsersOwnFiles_data()
{
    QTest::addColumn<QString>("planted"); // what another user put in the inbox
    QTest::addColumn<bool>("needsRoot");  // to give a file to another user
    QTest::newRow("a link to a private file") << "link" << false;
    QTest::newRow("a second name of a private file") << "hard link" << false;
    QTest::newRow("a link to a folder of private files") << "folder link" << false;
    QTest::newRow("another user's file") << "theirs" << true;
}

// Files there when the watch begins settle in the same look (one pass hands on all that are
// complete): the user's own is handed on, with the identity the tool is told; what was planted
// beside it is not.
void TestFolderWatch::takesOnlyTheUsersOwnFiles()
{
    QFETCH(QString, planted);
    QFETCH(bool, needsRoot);
    if (needsRoot && ::geteuid() != 0)
        QSKIP("only root can give a file to another user here");
    QTemporaryDir dir;
    const QString inbox = dir.filePath(QStringLiteral("inbox"));
    QVERIFY(QDir().mkpath(inbox));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("private"))));
    const QString secret = dir.filePath(QStringLiteral("private/secret.avi"));
    writeFile(secret, "private video");
    const QString trap = inbox + QStringLiteral("/trap.avi");
    if (planted == QLatin1String("link")) {
        QVERIFY(QFile::link(secret, trap));
    } else if (planted == QLatin1String("hard link")) {
        QCOMPARE(::link(QFile::encodeName(secret).constData(), QFile::encodeName(trap).constData()),
                 0);
    } else if (planted == QLatin1String("folder link")) {
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("private")), trap));
    } else {
        writeFile(trap, "their video");
        QCOMPARE(::chown(QFile::encodeName(trap).constData(), 65534, 65534), 0);
    }
    const QString own = inbox + QStringLiteral("/own.avi");
    writeFile(own, "my video");

    FolderWatch watch(inbox, dir.filePath(QStringLiteral("out")), 0);
    QSignalSpy ready(&watch, &FolderWatch::ready);
    QVERIFY(watch.start());
    QVERIFY(ready.wait(10000));
    QCOMPARE(ready.count(), 1);
    QCOMPARE(ready.at(0).at(0).toString(), own);
    struct stat status = {};
    QCOMPARE(::lstat(QFile::encodeName(own).constData(), &status), 0);
    QCOMPARE(CheckedInputs::identityOf(own),
             QByteArray::fromStdString(ToolContract::identity(status.st_dev, status.st_ino)));
}

void TestFolderWatch::reportsTheFolderLost_data()
{
    QTest::addColumn<bool>("replaced"); // a link to another folder put in its place
    QTest::newRow("removed") << false;
    QTest::newRow("swapped for a link") << true;
}

void TestFolderWatch::reportsTheFolderLost()
{
    QFETCH(bool, replaced);
    QTemporaryDir dir;
    const QString inbox = dir.filePath(QStringLiteral("inbox"));
    QVERIFY(QDir().mkpath(inbox));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("private"))));
    writeFile(dir.filePath(QStringLiteral("private/secret.avi")), "private video");
    FolderWatch watch(inbox, dir.filePath(QStringLiteral("out")), 0);
    QSignalSpy ready(&watch, &FolderWatch::ready);
    QSignalSpy lost(&watch, &FolderWatch::folderLost);
    QVERIFY(watch.start());
    QVERIFY(QDir(inbox).removeRecursively());
    if (replaced)
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("private")), inbox));
    QVERIFY(lost.wait(10000));
    QCOMPARE(lost.count(), 1);
    QCOMPARE(ready.count(), 0);
}

// The state lives in the user's own folder, where nobody else can make or remove it, named after
// the two folders themselves: another spelling of either finds it, and a lost state only means
// starting afresh.
void TestFolderWatch::stateIsPrivateAndKeyedByTheFolders()
{
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("in"))));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("out"))));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("in")), dir.filePath(QStringLiteral("alias"))));
    const QString stateFolder = dir.filePath(QStringLiteral("data/vidmorph/watch"));
    const QString file = dir.filePath(QStringLiteral("in/clip.avi"));
    writeFile(file, "video");
    struct stat status = {};
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &status), 0);
    const FolderWatch::Stamp stamp{qint64(status.st_size),
                                   qint64(status.st_mtim.tv_sec) * 1000000000 +
                                       status.st_mtim.tv_nsec};
    QString path;
    {
        WatchState state;
        QCOMPARE(state.open(stateFolder, dir.filePath(QStringLiteral("out")),
                            dir.filePath(QStringLiteral("in"))),
                 WatchState::Opened::Yes);
        path = state.path();
        QCOMPARE(QFileInfo(path).path(), stateFolder);
        state.record(file, stamp, QStringLiteral("done"));
        WatchState second;
        QCOMPARE(second.open(stateFolder, dir.filePath(QStringLiteral("out/../out")),
                             dir.filePath(QStringLiteral("alias"))),
                 WatchState::Opened::Busy);
    }
    QCOMPARE(::lstat(QFile::encodeName(stateFolder).constData(), &status), 0);
    QCOMPARE(status.st_mode & 07777, mode_t(0700));
    QCOMPARE(::lstat(QFile::encodeName(path).constData(), &status), 0);
    QCOMPARE(status.st_mode & 077, mode_t(0));
    QVERIFY(QDir(dir.filePath(QStringLiteral("out")))
                .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    for (const bool lost : {false, true}) {
        if (lost)
            QVERIFY(QFile::remove(path));
        WatchState state;
        QCOMPARE(state.open(stateFolder, dir.filePath(QStringLiteral("out/../out")),
                            dir.filePath(QStringLiteral("alias"))),
                 WatchState::Opened::Yes);
        QCOMPARE(state.path(), path);
        // The file was noted by its name below the watched folder as it was spelled then.
        QCOMPARE(state.contains(dir.filePath(QStringLiteral("alias/clip.avi")), stamp), !lost);
    }
}

void TestFolderWatch::earlierStateIsTakenOver_data()
{
    QTest::addColumn<QString>("kind"); // what stands where earlier versions kept the state
    QTest::addColumn<bool>("taken");
    QTest::addColumn<bool>("needsRoot");
    QTest::newRow("the user's own") << "own" << true << false;
    QTest::newRow("a link to a file of the user's") << "link" << false << false;
    QTest::newRow("another user's") << "theirs" << false << true;
}

// A watch started after an upgrade does not convert again what it had done, but takes nothing
// over from a file planted in the output folder.
void TestFolderWatch::earlierStateIsTakenOver()
{
    QFETCH(QString, kind);
    QFETCH(bool, taken);
    QFETCH(bool, needsRoot);
    if (needsRoot && ::geteuid() != 0)
        QSKIP("only root can give a file to another user here");
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in"));
    const QString out = dir.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(in));
    QVERIFY(QDir().mkpath(out));
    writeFile(in + QStringLiteral("/clip.avi"), "video");
    struct stat status = {};
    QCOMPARE(::stat(QFile::encodeName(in + QStringLiteral("/clip.avi")).constData(), &status), 0);
    const qint64 modified = qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    const QByteArray line = "5 " + QByteArray::number(modified) + " done clip.avi\n";
    const QString earlier =
        out + QStringLiteral("/.vidmorph-watch-") +
        QString::fromLatin1(QCryptographicHash::hash(QFile::encodeName(QDir::cleanPath(in)),
                                                     QCryptographicHash::Sha256)
                                .toHex()
                                .left(16));
    if (kind == QLatin1String("link")) {
        writeFile(dir.filePath(QStringLiteral("elsewhere")), line);
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("elsewhere")), earlier));
    } else {
        writeFile(earlier, line);
        if (kind == QLatin1String("theirs"))
            QCOMPARE(::chown(QFile::encodeName(earlier).constData(), 65534, 65534), 0);
    }
    WatchState state;
    QCOMPARE(state.open(dir.filePath(QStringLiteral("state")), out, in), WatchState::Opened::Yes);
    QCOMPARE(state.contains(in + QStringLiteral("/clip.avi"), FolderWatch::Stamp{5, modified}),
             taken);
}

QTEST_GUILESS_MAIN(TestFolderWatch)
#include "test_folderwatch.moc"
