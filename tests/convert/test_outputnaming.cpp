#include "convert/OutputNaming.h"
#include "process/NativePath.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

// Where an output goes and what it is called: the folder (a kept tree's folders made byte for
// byte), the window's names and the plain ones, and the outputs a re-run finds there already.
class TestOutputNaming : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void names_data();
    void names();
    void existingOutputs_data();
    void existingOutputs();
    void keptTreeFolderIsMadeByteForByte();

private:
    void touch(const QString &relative, const QByteArray &content = {});

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_out;
};

void TestOutputNaming::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(m_out));
}

void TestOutputNaming::touch(const QString &relative, const QByteArray &content)
{
    const QString path = m_out + QLatin1Char('/') + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

void TestOutputNaming::names_data()
{
    QTest::addColumn<bool>("plain");
    QTest::addColumn<QStringList>("roots");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QStringList>("taken"); // below the output folder
    QTest::addColumn<QString>("expected");  // below the output folder
    const QStringList none;
    QTest::newRow("time") << false << none << "/in/clip.avi" << none << "clip-9305.mp3";
    QTest::newRow("time, cut at the first dot")
        << false << none << "/in/a.b.avi" << none << "a-9305.mp3";
    QTest::newRow("time, taken") << false << none << "/in/clip.avi" << QStringList{"clip-9305.mp3"}
                                 << "clip-9305-2.mp3";
    QTest::newRow("plain") << true << none << "/in/clip.avi" << none << "clip.mp3";
    QTest::newRow("plain keeps all but the last extension")
        << true << none << "/in/a.b.avi" << none << "a.b.mp3";
    QTest::newRow("plain, no extension") << true << none << "/in/clip" << none << "clip.mp3";
    QTest::newRow("plain, hidden input") << true << none << "/in/.clip" << none << ".clip.mp3";
    QTest::newRow("plain, taken twice")
        << true << none << "/in/clip.avi" << QStringList{"clip.mp3", "clip-2.mp3"} << "clip-3.mp3";
    QTest::newRow("plain, long Chinese name shortened")
        << true << none << QStringLiteral("/in/") + QString(100, QChar(0x89c6)) + ".avi" << none
        << QString(83, QChar(0x89c6)) + ".mp3";
    QTest::newRow("tree") << true << QStringList{"/in"} << "/in/a/b/clip.avi" << none
                          << "a/b/clip.mp3";
    QTest::newRow("tree, the root's own file")
        << true << QStringList{"/in"} << "/in/clip.avi" << none << "clip.mp3";
    QTest::newRow("tree, the deepest root counts")
        << true << QStringList{"/in", "/in/a"} << "/in/a/b/clip.avi" << none << "b/clip.mp3";
    QTest::newRow("tree, a root's namesake is not below it")
        << true << QStringList{"/in"} << "/input/clip.avi" << none << "clip.mp3";
    QTest::newRow("tree at the top")
        << true << QStringList{"/"} << "/in/clip.avi" << none << "in/clip.mp3";
}

void TestOutputNaming::names()
{
    QFETCH(bool, plain);
    QFETCH(QStringList, roots);
    QFETCH(QString, input);
    QFETCH(QStringList, taken);
    QFETCH(QString, expected);
    const OutputNaming naming(
        m_out, plain ? OutputNaming::Names::Plain : OutputNaming::Names::Timed, roots);
    const QString path = naming.pathFor(
        input, QStringLiteral(".mp3"), QTime(9, 30, 5),
        [&](const QString &candidate) { return taken.contains(candidate.mid(m_out.size() + 1)); });
    QCOMPARE(path, m_out + QLatin1Char('/') + expected);
    QCOMPARE(naming.folderFor(input), QFileInfo(path).path() + QLatin1Char('/'));
}

void TestOutputNaming::existingOutputs_data()
{
    QTest::addColumn<bool>("plain");
    QTest::addColumn<QStringList>("there");
    QTest::addColumn<QString>("found"); // empty: none
    QTest::newRow("plain, there") << true << QStringList{"clip.mp3"} << "clip.mp3";
    QTest::newRow("plain, another format's") << true << QStringList{"clip.avi"} << "";
    QTest::newRow("plain, a time name is not the plain one")
        << true << QStringList{"clip-9305.mp3"} << "";
    QTest::newRow("time, any time") << false << QStringList{"clip-1234.mp3"} << "clip-1234.mp3";
    QTest::newRow("time, with a counter")
        << false << QStringList{"clip-235959-3.mp3"} << "clip-235959-3.mp3";
    QTest::newRow("time, a longer name is another input's")
        << false << QStringList{"clipper-1234.mp3", "clip.mp3", "clip-x.mp3"} << "";
    QTest::newRow("time, a hidden temporary is not an output")
        << false << QStringList{".vidmorph-77-clip-1234.mp3"} << "";
    QTest::newRow("time, an empty reservation is not an output")
        << false << QStringList{"clip-1234.mp3="} << "";
}

void TestOutputNaming::existingOutputs()
{
    QFETCH(bool, plain);
    QFETCH(QStringList, there);
    QFETCH(QString, found);
    // A name ending in "=" is made empty, as a reservation is; the others hold an output.
    for (const QString &name : there)
        if (name.endsWith(QLatin1Char('=')))
            touch(name.chopped(1));
        else
            touch(name, "encoded");
    const OutputNaming naming(m_out,
                              plain ? OutputNaming::Names::Plain : OutputNaming::Names::Timed);
    const QString existing =
        naming.existingOutput(QStringLiteral("/in/clip.avi"), QStringLiteral(".mp3"));
    QCOMPARE(existing, found.isEmpty() ? QString() : m_out + QLatin1Char('/') + found);
}

void TestOutputNaming::keptTreeFolderIsMadeByteForByte()
{
    // A folder named in GBK below the root, as an unpacked archive leaves it.
    const QString input =
        NativePath::decode(QFile::encodeName(m_dir->path()) + "/in/\xca\xd3\xc6\xb5/clip.avi");
    const OutputNaming naming(m_out, OutputNaming::Names::Plain, {m_dir->filePath("in")});
    QVERIFY(naming.makeFolderFor(input));
    QVERIFY(::access((QFile::encodeName(m_out) + "/\xca\xd3\xc6\xb5").constData(), F_OK) == 0);
    const QString path = naming.pathFor(input, QStringLiteral(".mp3"), QTime());
    QCOMPARE(NativePath::encode(path), QFile::encodeName(m_out) + "/\xca\xd3\xc6\xb5/clip.mp3");
}

QTEST_GUILESS_MAIN(TestOutputNaming)
#include "test_outputnaming.moc"
