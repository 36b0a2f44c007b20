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

private:
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
    const QString output = m_folder.filePath(Formats::shortName(format));
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", m_folder.filePath("home"));
    environment.insert("XDG_CACHE_HOME", m_folder.filePath("cache"));
    environment.insert("XDG_DATA_HOME", m_folder.filePath("data"));
    environment.insert("XDG_CONFIG_HOME", m_folder.filePath("config"));
    program.setProcessEnvironment(environment);
    program.setStandardInputFile(QProcess::nullDevice());
    program.start(VIDMORPH_APP_DIR "/vidmorph",
                  {"--convert", "-f", Formats::shortName(format), "-o", output, "--progress",
                   "json", "--jobs", "1", m_clip});
    QVERIFY(program.waitForFinished(300000));
    const QByteArray printed = program.readAllStandardOutput();
    QVERIFY2(program.exitCode() == 0, printed.constData());
    QString written;
    for (const QByteArray &line : printed.split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (event.value("state") == QLatin1String("done"))
            written = event.value("output").toString();
    }
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

QTEST_GUILESS_MAIN(TestToolsFormats)
#include "test_tools_formats.moc"
