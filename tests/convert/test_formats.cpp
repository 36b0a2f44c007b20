#include "convert/CommandBuilder.h"
#include "convert/Formats.h"

#include <QTest>

using Formats::ParameterListId;

namespace {

const QString Keep = QStringLiteral("原始大小");

QString listName(int list)
{
    return Formats::parameterList(ParameterListId(list)).objectName;
}

// Both commands of a file, as one text: what the tools would be given.
QString commands(const ParameterSet &parameters)
{
    const QString app = QStringLiteral("/app");
    const QString tmp = QStringLiteral("/tmp/tmp.mp4");
    return CommandBuilder::BuildStageOneCommand(app, QStringLiteral("/in/clip.avi"),
                                                QStringLiteral("/out/clip-1.x"), parameters, tmp)
               .line.text() +
           QLatin1Char('\n') +
           CommandBuilder::BuildStageTwoCommand(app, QStringLiteral("/out/clip-2.x"), parameters,
                                                tmp)
               .line.text();
}

// The parameter set with one list's value changed to another the tools would take.
ParameterSet withOtherValue(ParameterSet set, int list)
{
    switch (ParameterListId(list)) {
    case Formats::SampleRate:
        set.sampleRate = set.sampleRate == QLatin1String("22050") ? "32000" : "22050";
        break;
    case Formats::AudioBitrate:
        set.audioBitrate = set.audioBitrate == QLatin1String("96") ? "112" : "96";
        break;
    case Formats::Channel:
        set.channelCount = set.channelCount == 1 ? 2 : 1;
        break;
    case Formats::FrameSize:
        set.frameSize = set.frameSize == QLatin1String("176x144") ? "352x288" : "176x144";
        break;
    case Formats::VideoBitrate:
        set.videoBitrate = set.videoBitrate == QLatin1String("384") ? "512" : "384";
        break;
    case Formats::FrameRate:
        set.frameRate = set.frameRate == QLatin1String("15") ? "23" : "15";
        break;
    }
    return set;
}

} // namespace

// Which parameter lists each format's commands read: the window disables the others.
class TestFormats : public QObject
{
    Q_OBJECT
private slots:
    void readsList_data();
    void readsList();
    void unknownFormatReadsEveryList_data();
    void unknownFormatReadsEveryList();
    void readsListAgreesWithTheCommands_data();
    void readsListAgreesWithTheCommands();
};

void TestFormats::readsList_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("frameSize");
    // Sample rate, audio bitrate, channels, frame size, video bitrate, frame rate.
    QTest::addColumn<QList<bool>>("reads");

    const QList<bool> sizeOnly{false, false, false, true, false, false};
    QTest::newRow("RMVB kept size: only the size") << 0 << Keep << sizeOnly;
    QTest::newRow("RMVB sized: all but the frame rate")
        << 0 << "640x480" << QList<bool>{true, true, true, true, true, false};
    QTest::newRow("RM kept size") << 1 << Keep << sizeOnly;
    QTest::newRow("RM typed size")
        << 1 << "700x400" << QList<bool>{true, true, true, true, true, false};
    QTest::newRow("RMVB empty size text counts as a size")
        << 0 << "" << QList<bool>{true, true, true, true, true, false};
    QTest::newRow("RMVB sentinel compared exactly")
        << 0 << "原始大小 " << QList<bool>{true, true, true, true, true, false};
    const QList<bool> mpg{false, true, false, false, true, true};
    QTest::newRow("MPG") << 2 << Keep << mpg;
    QTest::newRow("MPG sized") << 2 << "320x240" << mpg;
    QTest::newRow("AVI") << 3 << "320x240" << mpg;
    const QList<bool> mpeg4{false, true, false, false, true, false};
    QTest::newRow("MPEG4") << 4 << Keep << mpeg4;
    QTest::newRow("MPEG4 sized") << 4 << "640x480" << mpeg4;
    for (int format : {5, 6, 7})
        for (const QString &size : {Keep, QStringLiteral("176x144")})
            QTest::addRow("%s %s", qPrintable(Formats::shortName(format)), qPrintable(size))
                << format << size << sizeOnly;
    const QList<bool> mp3{true, true, true, false, false, false};
    QTest::newRow("MP3") << 8 << Keep << mp3;
    QTest::newRow("MP3 sized") << 8 << "640x480" << mp3;
    const QList<bool> every{true, true, true, true, true, true};
    for (int format : {9, 10, 11})
        QTest::addRow("%s", qPrintable(Formats::shortName(format))) << format << Keep << every;
    QTest::newRow("M4A") << 12 << "640x480" << mp3;
    QTest::newRow("FLAC: no bitrate")
        << 13 << Keep << QList<bool>{true, false, true, false, false, false};
}

void TestFormats::readsList()
{
    QFETCH(int, format);
    QFETCH(QString, frameSize);
    QFETCH(QList<bool>, reads);
    QCOMPARE(reads.size(), Formats::ParameterListCount);
    for (int list = 0; list < Formats::ParameterListCount; ++list)
        QVERIFY2(Formats::readsList(format, ParameterListId(list), frameSize) == reads.at(list),
                 qPrintable(listName(list)));
}

void TestFormats::unknownFormatReadsEveryList_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("none selected") << -1;
    QTest::newRow("far past the end") << 99;
    QTest::newRow("negative") << -7;
}

void TestFormats::unknownFormatReadsEveryList()
{
    QFETCH(int, format);
    for (int list = 0; list < Formats::ParameterListCount; ++list)
        for (const QString &size : {Keep, QStringLiteral("320x240")})
            QVERIFY2(Formats::readsList(format, ParameterListId(list), size),
                     qPrintable(listName(list)));
}

void TestFormats::readsListAgreesWithTheCommands_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("frameSize");
    for (int format = 0; format < Formats::Count; ++format)
        for (const QString &size : {Keep, QStringLiteral("640x480")})
            QTest::addRow("%s %s", qPrintable(Formats::shortName(format)), qPrintable(size))
                << format << size;
}

// A list counts exactly when another value in it changes what the tools are given.
void TestFormats::readsListAgreesWithTheCommands()
{
    QFETCH(int, format);
    QFETCH(QString, frameSize);
    ParameterSet set = Formats::defaultParameters(format);
    set.frameSize = frameSize;
    const QString before = commands(set);
    QVERIFY(!before.trimmed().isEmpty());
    for (int list = 0; list < Formats::ParameterListCount; ++list) {
        const bool changed = commands(withOtherValue(set, list)) != before;
        QVERIFY2(Formats::readsList(format, ParameterListId(list), frameSize) == changed,
                 qPrintable(listName(list)));
    }
}

QTEST_GUILESS_MAIN(TestFormats)
#include "test_formats.moc"
