// File names as users have them: not UTF-8, blanks, quotes, Chinese, a leading dash.
#include "ToolCommands.h"
#include "ToolsFixture.h"

#include "TestMedia.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTest>
#include <fcntl.h>
#include <unistd.h>

class TestToolsNames : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void nonUtf8Names_data();
    void nonUtf8Names();
    void oddNames_data();
    void oddNames();

private:
    ToolsFixture m_tools;
};

using namespace ToolCommands;

void TestToolsNames::initTestCase()
{
    const QString error = m_tools.prepare({"stereo.mp4", "silent.mp4"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestToolsNames::nonUtf8Names_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<QString>("videoCodec");
    QTest::addColumn<QString>("audioCodec");
    QTest::newRow("conv") << "conv" << QStringList{"IN"} + StageOneMpeg4 << "输出.mp4"
                          << "mpeg4"
                          << "mp3";
    QTest::newRow("coder MP3") << "coder" << Mp3 << "输出.mp3"
                               << ""
                               << "mp3";
    QTest::newRow("coder RMVB") << "coder" << RealFixed << "输出.rmvb"
                                << "rv10"
                                << "ac3";
    QTest::newRow("coder2") << "coder2" << mobile("176x144") << "输出.3gp"
                            << "mpeg4"
                            << "amr_nb";
}

// A file named in GBK (as copied from an old Chinese system) is a name of bytes that are not
// UTF-8; the tools pass them on untouched.
void TestToolsNames::nonUtf8Names()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, outputName);
    QFETCH(QString, videoCodec);
    QFETCH(QString, audioCodec);

    const QString folder = m_tools.freshFolder();
    const QByteArray gbkName = "\xc6\xb5\xca\xd3.mp4"; // 视频.mp4 in GBK
    const QByteArray source = QFile::encodeName(folder) + '/' + gbkName;
    {
        QFile original(m_tools.input("stereo.mp4"));
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray content = original.readAll();
        const int fd = ::open(source.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, content.constData(), size_t(content.size())), content.size());
        ::close(fd);
    }
    // QTemporaryDir removes by text names, which cannot spell this one.
    const auto removeSource = qScopeGuard([&source] { ::unlink(source.constData()); });
    QList<QByteArray> bytes;
    for (const QString &argument : arguments)
        bytes.append(argument == QLatin1String("IN") || argument == QLatin1String("SCRATCH")
                         ? gbkName
                     : argument == QLatin1String("OUT") ? outputName.toUtf8()
                                                        : argument.toUtf8());

    const ToolsFixture::Run run = m_tools.runToolWithBytes(tool, bytes, folder);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    const TestMedia::Info info = TestMedia::probe(folder + QLatin1Char('/') + outputName);
    QCOMPARE(info.videoCodec, videoCodec);
    QCOMPARE(info.audioCodec, audioCodec);
    QVERIFY(qAbs(info.duration - m_tools.inputSeconds("stereo.mp4")) <= 0.2);
}

void TestToolsNames::oddNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("blanks") << "my clip  2.mp4";
    QTest::newRow("double quotes") << "say \"hi\".mp4";
    QTest::newRow("Chinese") << "视频 文件.mp4";
    QTest::newRow("leading dash") << "-y.mp4";
    QTest::newRow("parentheses") << "m_tools.clip(2024).mp4";
}

// Names go to the tools relative to the working folder, so a leading dash really leads.
void TestToolsNames::oddNames()
{
    QFETCH(QString, name);
    const QString folder = m_tools.freshFolder();
    QVERIFY(QFile::copy(m_tools.input("silent.mp4"), folder + QLatin1Char('/') + name));
    const QString converted = QStringLiteral("-out ") + name.chopped(4) + QStringLiteral(".avi");
    const QString scratch = QStringLiteral("-tmp ") + name;
    const QString final = QStringLiteral("-final ") + name.chopped(4) + QStringLiteral(".3gp");

    QStringList stageOne = StageOneMpeg4;
    stageOne.replace(stageOne.indexOf("OUT"), converted);
    ToolsFixture::Run run = m_tools.runTool("conv", QStringList{name} + stageOne, folder);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    QCOMPARE(shownProgress(run.output, true).last(), 100.0);
    QCOMPARE(TestMedia::probe(folder + QLatin1Char('/') + converted).videoCodec,
             QStringLiteral("mpeg4"));

    run = m_tools.runTool("conv",
                          QStringList{name} +
                              StageOneIntermediate.mid(0, StageOneIntermediate.size() - 1) +
                              QStringList{scratch},
                          folder);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    QStringList stageTwo = mobile("176x144");
    stageTwo.replace(stageTwo.indexOf("SCRATCH"), scratch);
    stageTwo.replace(stageTwo.indexOf("OUT"), final);
    run = m_tools.runTool("coder2", stageTwo, folder);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    QCOMPARE(TestMedia::probe(folder + QLatin1Char('/') + final).size, QSize(176, 144));

    QStringList entries =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    entries.sort();
    QStringList expected = {name, converted, scratch, final};
    expected.sort();
    QCOMPARE(entries, expected);
}

QTEST_GUILESS_MAIN(TestToolsNames)
#include "test_tools_names.moc"
