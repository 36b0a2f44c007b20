#include "convert/CheckedInputs.h"
#include "convert/FileSearch.h"
#include "convert/OutputReservation.h"
#include "tools/ToolContract.h"
#include "tools/common/OutputFile.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

// Add folder over a folder another run is writing into: only finished files are found.
class TestFileSearch : public QObject
{
    Q_OBJECT
private slots:
    void skipsAnotherRunsWork();
    void takesOnlyTheUsersOwnFiles_data();
    void takesOnlyTheUsersOwnFiles();
    void alwaysEnds();
};

void TestFileSearch::skipsAnotherRunsWork()
{
    QTemporaryDir dir;
    const QString out = dir.path();
    const auto write = [&out](const QString &name, const QByteArray &content) {
        QFile file(out + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    };
    write(QStringLiteral("holiday-93512.mp3"), "encoded");
    // The next output: its name reserved by the converter, its file half written by a tool.
    OutputReservation reservation;
    const QString next = out + QStringLiteral("/holiday-93513.mp3");
    QCOMPARE(reservation.take(next, QString()), OutputReservation::Outcome::Taken);
    OutputFile writing(next.toStdString());
    QCOMPARE(::pwrite(writing.descriptor(), "partial", 7, 0), 7);
    // The user's own files are found, hidden ones too.
    write(QStringLiteral(".family.avi"), "video");
    QVERIFY(QDir(out).mkdir(QStringLiteral("sub")));
    write(QStringLiteral("sub/clip.avi"), "video");
    write(QStringLiteral("sub/empty.avi"), {});
    write(QStringLiteral("sub/counted-12345-2.avi"), {});

    QStringList found = FileSearch::SearchFolder(out);
    for (QString &path : found)
        path = QDir(out).relativeFilePath(path);
    found.sort();
    // An empty file of another name is the user's, and a file that will fail as such.
    QCOMPARE(found, (QStringList{QStringLiteral(".family.avi"), QStringLiteral("holiday-93512.mp3"),
                                 QStringLiteral("sub/clip.avi"), QStringLiteral("sub/empty.avi")}));
}

void TestFileSearch::takesOnlyTheUsersOwnFiles_data()
{
    QTest::addColumn<QString>("planted"); // what stands in a shared inbox beside the user's file
    QTest::addColumn<bool>("found");
    QTest::addColumn<bool>("needsRoot"); // to give a file to another user
    QTest::newRow("the user's file") << "own" << true << false;
    QTest::newRow("a link to a private file") << "link" << false << false;
    QTest::newRow("a link to a folder") << "folder link" << false << false;
    QTest::newRow("a second name of a private file") << "hard link" << false << false;
    QTest::newRow("another user's file") << "theirs" << false << true;
}

// A shared inbox searched: what another user planted there is not taken for the user's own.
void TestFileSearch::takesOnlyTheUsersOwnFiles()
{
    QFETCH(QString, planted);
    QFETCH(bool, found);
    QFETCH(bool, needsRoot);
    if (needsRoot && ::geteuid() != 0)
        QSKIP("only root can give a file to another user here");
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("inbox")));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("private")));
    const QString secret = dir.filePath(QStringLiteral("private/secret.avi"));
    QFile file(secret);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("video");
    file.close();
    const QString inbox = dir.filePath(QStringLiteral("inbox"));
    const QString name = inbox + QStringLiteral("/clip.avi");
    if (planted == QLatin1String("own") || planted == QLatin1String("theirs")) {
        QVERIFY(QFile::copy(secret, name));
        if (planted == QLatin1String("theirs"))
            QCOMPARE(::chown(QFile::encodeName(name).constData(), 65534, 65534), 0);
    } else if (planted == QLatin1String("link")) {
        QVERIFY(QFile::link(secret, name));
    } else if (planted == QLatin1String("folder link")) {
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("private")), name));
    } else {
        QCOMPARE(::link(QFile::encodeName(secret).constData(), QFile::encodeName(name).constData()),
                 0);
    }
    const QStringList expected = found ? QStringList{name} : QStringList();
    QCOMPARE(FileSearch::SearchFolder(inbox), expected);
    // The tool is told the file as it was seen.
    struct stat status = {};
    QCOMPARE(::lstat(QFile::encodeName(name).constData(), &status), 0);
    QCOMPARE(CheckedInputs::identityOf(name),
             found ? QByteArray::fromStdString(ToolContract::identity(status.st_dev, status.st_ino))
                   : QByteArray());
}

// A folder mounted inside itself is searched once, and a tree of more files than a search takes
// is cut there, with a reason.
void TestFileSearch::alwaysEnds()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("top/loop")));
    for (const char *name : {"a.avi", "b.avi", "c.avi"}) {
        QFile file(dir.filePath(QStringLiteral("top/")) + QLatin1String(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("video");
    }
    const QString top = dir.filePath(QStringLiteral("top"));
    const QByteArray loop = QFile::encodeName(top + QStringLiteral("/loop"));
    const bool mounted = ::mount(QFile::encodeName(top).constData(), loop.constData(), nullptr,
                                 MS_BIND, nullptr) == 0;
    const auto unmount = qScopeGuard([&] {
        if (mounted)
            ::umount2(loop.constData(), MNT_DETACH);
    });
    QString error;
    QCOMPARE(FileSearch::SearchFolder(top, nullptr, &error).size(), 3);
    QVERIFY(error.isEmpty());
    const QStringList cut = FileSearch::SearchFolder(top, nullptr, &error, 2);
    QCOMPARE(cut.size(), 2);
    QVERIFY2(error.contains(QStringLiteral("超过 2 个")), qPrintable(error));
    if (!mounted)
        QSKIP("no bind mount here (needs root in the machine's own mount namespace): the loop "
              "through a mount was not tried");
}

QTEST_GUILESS_MAIN(TestFileSearch)
#include "test_filesearch.moc"
