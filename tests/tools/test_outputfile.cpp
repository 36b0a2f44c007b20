// How a tool's finished output takes its final name: never over a file it does not own.
#include "common/OutputFile.h"
#include "common/ToolFailure.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

class TestOutputFile : public QObject
{
    Q_OBJECT

private slots:
    void temporaryName();
    void commit_data();
    void commit();
};

namespace {
void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QString errorLine(const char *text)
{
    return QString::fromUtf8(ToolContract::ErrorPrefix) + QString::fromUtf8(text);
}
} // namespace

void TestOutputFile::temporaryName()
{
    QTemporaryDir dir;
    const QString final = dir.filePath(QStringLiteral("clip.rmvb"));
    OutputFile output(final.toStdString());
    QCOMPARE(QString::fromStdString(output.temporaryPath()),
             dir.filePath(QString::fromUtf8(ToolContract::TemporaryPrefix) +
                          QString::number(getpid()) + QStringLiteral("-clip.rmvb")));
}

void TestOutputFile::commit_data()
{
    QTest::addColumn<QString>("before");  // what the final name holds when the tool starts
    QTest::addColumn<QString>("during");  // what happens to it while the encoder runs
    QTest::addColumn<bool>("linkRoute");  // the way a file system without RENAME_NOREPLACE takes
    QTest::addColumn<QString>("outcome"); // "" for success, else the error line's beginning
    QTest::addColumn<QByteArray>("kept"); // what the final name holds afterwards

    namespace E = ToolContract::Error;
    const QByteArray encoded = "encoded";
    for (bool link : {false, true}) {
        const char *route = link ? ", link" : "";
        const auto row = [&](const char *name) -> QTestData & {
            return QTest::addRow("%s%s", name, route);
        };
        row("free") << "none"
                    << "none" << link << "" << encoded;
        row("reservation") << "empty"
                           << "none" << link << "" << encoded;
        row("reservation removed meanwhile") << "empty"
                                             << "remove" << link << "" << encoded;
        row("file with content") << "content"
                                 << "none" << link << errorLine(E::OutputExists)
                                 << QByteArray("theirs");
        row("folder") << "folder"
                      << "none" << link << errorLine(E::OutputIsFolder) << QByteArray();
        row("link to an empty file")
            << "link"
            << "none" << link << errorLine(E::OutputExists) << QByteArray();
        row("dangling link") << "dangling"
                             << "none" << link << errorLine(E::OutputExists) << QByteArray();
        row("file appeared meanwhile")
            << "none"
            << "content" << link << errorLine(E::OutputExists) << QByteArray("theirs");
        row("another run's reservation appeared")
            << "none"
            << "empty" << link << errorLine(E::OutputExists) << QByteArray();
        row("reservation filled meanwhile")
            << "empty"
            << "content" << link << errorLine(E::OutputExists) << QByteArray("theirs");
        row("reservation swapped for another")
            << "empty"
            << "swap" << link << errorLine(E::OutputExists) << QByteArray();
        row("nothing encoded") << "none"
                               << "nothing encoded" << link << errorLine(E::NoOutputWritten)
                               << QByteArray("<unreadable>");
    }
}

void TestOutputFile::commit()
{
    QFETCH(QString, before);
    QFETCH(QString, during);
    QFETCH(bool, linkRoute);
    QFETCH(QString, outcome);
    QFETCH(QByteArray, kept);

    QTemporaryDir dir;
    const QString final = dir.filePath(QStringLiteral("clip.mp4"));
    const QString target = dir.filePath(QStringLiteral("target"));
    if (before == QLatin1String("empty"))
        writeFile(final, {});
    else if (before == QLatin1String("content"))
        writeFile(final, "theirs");
    else if (before == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(final));
    else if (before == QLatin1String("link") || before == QLatin1String("dangling")) {
        if (before == QLatin1String("link"))
            writeFile(target, {});
        QVERIFY(QFile::link(target, final));
    }

    QString error;
    try {
        OutputFile output(final.toStdString());
        if (during != QLatin1String("nothing encoded"))
            writeFile(QString::fromStdString(output.temporaryPath()), "encoded");
        if (during == QLatin1String("content"))
            writeFile(final, "theirs");
        else if (during == QLatin1String("empty"))
            writeFile(final, {});
        else if (during == QLatin1String("remove"))
            QVERIFY(QFile::remove(final));
        else if (during == QLatin1String("swap")) {
            // Another empty file under the same name: not the one reserved for this run.
            writeFile(target, {});
            QVERIFY(::rename(QFile::encodeName(target).constData(),
                             QFile::encodeName(final).constData()) == 0);
        }
        output.commit(linkRoute ? OutputFile::Route::Link : OutputFile::Route::Rename);
    } catch (const ToolFailure &failure) {
        error = QString::fromUtf8(failure.what());
    }

    if (outcome.isEmpty())
        QVERIFY2(error.isEmpty(), qPrintable(error));
    else
        QVERIFY2(error.startsWith(outcome), qPrintable(error));
    const QFileInfo info(final);
    if (before == QLatin1String("folder"))
        QVERIFY(info.isDir() && !info.isSymLink());
    else if (before == QLatin1String("link") || before == QLatin1String("dangling"))
        QVERIFY(info.isSymLink());
    else
        QCOMPARE(readFile(final), kept);
    // Whatever the outcome, no hidden partial file is left.
    QCOMPARE(QDir(dir.path())
                 .entryList({QString::fromUtf8(ToolContract::TemporaryPrefix) + '*'},
                            QDir::AllEntries | QDir::Hidden | QDir::System),
             QStringList());
}

QTEST_GUILESS_MAIN(TestOutputFile)
#include "test_outputfile.moc"
