#include "convert/FileSearch.h"
#include "convert/OutputReservation.h"
#include "tools/common/OutputFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

// Add folder over a folder another run is writing into: only finished files are found.
class TestFileSearch : public QObject
{
    Q_OBJECT
private slots:
    void skipsAnotherRunsWork();
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
    // The user's own files are found, hidden or linked ones too.
    write(QStringLiteral(".family.avi"), "video");
    QVERIFY(
        QFile::link(out + QStringLiteral("/holiday-93512.mp3"), out + QStringLiteral("/l.mp3")));
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
                                 QStringLiteral("l.mp3"), QStringLiteral("sub/clip.avi"),
                                 QStringLiteral("sub/empty.avi")}));
}

QTEST_GUILESS_MAIN(TestFileSearch)
#include "test_filesearch.moc"
