// Every row of the format table through the real program and tools, on one short clip: a row
// that misses a step (an encoder setting, a codec the tools do not know, a sample rate its
// encoder lacks) fails here by its name, whatever else passes.
#include "TestMedia.h"
#include "convert/Formats.h"
#include "tools/Codecs.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestToolsFormats : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyFormatConverts_data();
    void everyFormatConverts();
    void everySampleRateHasSound_data();
    void everySampleRateHasSound();

private:
    QString convert(const QStringList &options, QByteArray &printed);
    QTemporaryDir m_folder;
    QString m_clip;
};

namespace {

constexpr double ClipSeconds = 1.0;

// "codec colour_space" of the file's first stream of a kind, empty when it has none.
QString streamOf(const QString &path, const char *kind)
{
    const TestMedia::Run run = TestMedia::runProgram(
        "ffprobe", {"-v", "error", "-select_streams", QLatin1String(kind) + ":0", "-show_entries",
                    "stream=codec_name,color_space,sample_rate", "-of", "csv=p=0", path});
    return QString::fromUtf8(run.out).trimmed();
}

} // namespace

void TestToolsFormats::initTestCase()
{
    QVERIFY(m_folder.isValid());
    // Standard-definition bars that say they are BT.709, which no player would guess for them:
    // a format that can tell the matrix must keep it.
    m_clip = m_folder.filePath("bars.mkv");
    QCOMPARE(TestMedia::makeWith(m_clip, {"-f",
                                          "lavfi",
                                          "-i",
                                          "smptebars=size=320x240:rate=25:duration=1",
                                          "-f",
                                          "lavfi",
                                          "-i",
                                          "sine=duration=1:sample_rate=44100",
                                          "-c:v",
                                          "libx264",
                                          "-preset",
                                          "ultrafast",
                                          "-colorspace",
                                          "bt709",
                                          "-color_primaries",
                                          "bt709",
                                          "-color_trc",
                                          "bt709",
                                          "-color_range",
                                          "tv",
                                          "-c:a",
                                          "flac"}),
             QString());
    for (const char *name : {"home", "cache", "data", "config"})
        QVERIFY(QDir(m_folder.path()).mkpath(QLatin1String(name)));
}

// The written file of one run of the program on the clip, with these options; empty when it
// failed, and `printed` says why.
QString TestToolsFormats::convert(const QStringList &options, QByteArray &printed)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", m_folder.filePath("home"));
    environment.insert("XDG_CACHE_HOME", m_folder.filePath("cache"));
    environment.insert("XDG_DATA_HOME", m_folder.filePath("data"));
    environment.insert("XDG_CONFIG_HOME", m_folder.filePath("config"));
    program.setProcessEnvironment(environment);
    program.setStandardInputFile(QProcess::nullDevice());
    program.start(VIDMORPH_APP_DIR "/vidmorph",
                  QStringList{"--convert", "-o", m_folder.filePath("out"), "--progress", "json",
                              "--jobs", "1"} +
                      options + QStringList{m_clip});
    if (!program.waitForFinished(300000))
        program.kill();
    program.waitForFinished();
    printed = program.readAllStandardOutput();
    for (const QByteArray &line : printed.split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (event.value("state") == QLatin1String("done"))
            return event.value("output").toString();
    }
    return QString();
}

void TestToolsFormats::everyFormatConverts_data()
{
    QTest::addColumn<int>("format");
    for (int format = 0; format < Formats::Count; ++format)
        QTest::newRow(qPrintable(Formats::shortName(format))) << format;
}

void TestToolsFormats::everyFormatConverts()
{
    QFETCH(int, format);
    const Formats::FormatInfo &row = Formats::info(format);
    QByteArray printed;
    const QString written = convert({"-f", Formats::shortName(format)}, printed);
    QVERIFY2(written.endsWith(QLatin1String(row.extension)), printed.constData());
    QCOMPARE(TestMedia::decodeErrors(written), QString());
    const TestMedia::Info info = TestMedia::probe(written);
    QVERIFY2(qAbs(info.duration - ClipSeconds) < 0.35, qPrintable(QString::number(info.duration)));

    // Sound in every format; a picture in every one that has video settings.
    const QStringList sound = streamOf(written, "a").split(',');
    QVERIFY(!sound.first().isEmpty());
    const QStringList picture = streamOf(written, "v").split(',');
    QCOMPARE(!picture.first().isEmpty(), row.videoBitrate != nullptr);
    // Today's formats write the codecs their row names, as the codec table knows them.
    if (row.stageOne == Formats::StageOne::Coder) {
        const Codecs::Audio *audio = Codecs::audioEncoder(row.audioCodec);
        QVERIFY(audio);
        QCOMPARE(sound.value(1).toInt(),
                 Codecs::sampleRate(*audio, QString(row.sampleRate).toInt()));
        if (row.videoCodec) {
            const Codecs::Video *video = Codecs::videoEncoder(row.videoCodec);
            QVERIFY(video);
            QCOMPARE(picture.first(), QLatin1String(video->codec));
        }
    }
    // A stream that says its colour matrix says the source's.
    if (picture.size() > 1 && picture.value(1) != QLatin1String("unknown"))
        QCOMPARE(picture.value(1), QStringLiteral("bt709"));
}

void TestToolsFormats::everySampleRateHasSound_data()
{
    QTest::addColumn<QStringList>("options");
    // The formats whose sound encoders lack some of the list's rates: RealMedia's AC-3 (with a
    // frame size, the only way its commands name a rate), LAME, AAC and Opus.
    const QList<QStringList> formats = {
        {"-f", "RM", "--size", "320x240"}, {"-f", "MP3"}, {"-f", "M4A"}, {"-f", "AV1"}};
    for (const QStringList &format : formats)
        for (const QString &rate : Formats::parameterList(Formats::SampleRate).items)
            QTest::addRow("%s %s Hz", qPrintable(format[1]), qPrintable(rate))
                << format + QStringList{"--sample-rate", rate};
}

void TestToolsFormats::everySampleRateHasSound()
{
    QFETCH(QStringList, options);
    QByteArray printed;
    const QString written = convert(options, printed);
    QVERIFY2(!written.isEmpty(), printed.constData());
    const QStringList sound = streamOf(written, "a").split(',');
    QVERIFY2(sound.value(1).toInt() > 0, qPrintable(sound.join(',')));
    QCOMPARE(TestMedia::decodeErrors(written), QString());
}

QTEST_GUILESS_MAIN(TestToolsFormats)
#include "test_tools_formats.moc"
