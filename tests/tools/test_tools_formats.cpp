// Every row of the format table through the real program and tools, on one short clip: a row
// that misses a step (an encoder setting, a codec the tools do not know, a sample rate its
// encoder lacks) fails here by its name, whatever else passes. And what each format keeps of a
// source: its tracks, subtitles, chapters, dates and cover, and its peaks below full scale.
#include "TestMedia.h"
#include "convert/Formats.h"
#include "tools/Codecs.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
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
    void keepsWhatTheContainerCarries_data();
    void keepsWhatTheContainerCarries();
    void drawsTheSubtitlesAPlayerShows_data();
    void drawsTheSubtitlesAPlayerShows();
    void coversStay_data();
    void coversStay();
    void loudMastersStayBelowFullScale_data();
    void loudMastersStayBelowFullScale();

private:
    QString convert(const QStringList &options, QByteArray &printed, const QString &input = {});
    QString made(const QString &name, const QStringList &arguments);
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

// The file's streams as "kind(language)", a star on those flagged default; chapters, the
// creation time and the modification time after them.
QString contents(const QString &path)
{
    const TestMedia::Run run = TestMedia::runProgram(
        "ffprobe", {"-v", "error", "-show_entries",
                    "stream=codec_type:stream_tags=language:stream_disposition=default:format_"
                    "tags=creation_time",
                    "-show_chapters", "-of", "compact=nk=0", path});
    QStringList streams;
    int chapters = 0;
    QString created;
    for (const QString &line : QString::fromUtf8(run.out).split('\n')) {
        const QStringList fields = line.split('|');
        const auto value = [&fields](const QString &key) {
            for (const QString &field : fields)
                if (field.startsWith(key + '='))
                    return field.mid(key.size() + 1);
            return QString();
        };
        if (fields.first() == QLatin1String("chapter"))
            ++chapters;
        if (fields.first() == QLatin1String("format"))
            created = value("tag:creation_time");
        const QString kind = value("codec_type");
        if (fields.first() != QLatin1String("stream") ||
            (kind != "video" && kind != "audio" && kind != "subtitle"))
            continue;
        const QString language = value("tag:language");
        streams.append(kind +
                       (language.isEmpty() || language == "und" ? "" : "(" + language + ")") +
                       (kind != "video" && value("disposition:default") == "1" ? "*" : ""));
    }
    return streams.join(',') +
           QStringLiteral(" chapters %1 created %2 dated %3")
               .arg(chapters)
               .arg(created.left(19))
               .arg(QFileInfo(path).lastModified().toUTC().toString(Qt::ISODate));
}

// The highest peak of the file's sound, in dB of full scale.
double peak(const QString &path)
{
    const TestMedia::Run run =
        TestMedia::runProgram("ffmpeg", {"-nostdin", "-i", path, "-af",
                                         "astats=measure_perchannel=none", "-f", "null", "-"});
    const int at = run.err.lastIndexOf("Peak level dB: ");
    return at < 0 ? 99 : run.err.mid(at + 15).split('\n').first().toDouble();
}

} // namespace

QString TestToolsFormats::made(const QString &name, const QStringList &arguments)
{
    const QString path = m_folder.filePath(name);
    const QString error = TestMedia::makeWith(path, arguments);
    return error.isEmpty() ? path : QString();
}

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
QString TestToolsFormats::convert(const QStringList &options, QByteArray &printed,
                                  const QString &input)
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
                      options + QStringList{input.isEmpty() ? m_clip : input});
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

void TestToolsFormats::keepsWhatTheContainerCarries_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QStringList>("dropped");
    const QString all = "video,audio(chi)*,audio(eng),subtitle(chi)*,subtitle(eng) chapters 2 "
                        "created 2021-06-01T10:20:30";
    const QStringList lost = {"audio#2(eng)", "subtitle#1(chi)", "subtitle#2(eng)"};
    QTest::newRow("H264") << "H264" << all << QStringList();
    QTest::newRow("H264 dated when converted")
        << "H264 --conversion-time" << all + " now" << QStringList();
    QTest::newRow("AV1") << "AV1" << all << QStringList();
    QTest::newRow("M4A") << "M4A"
                         << "audio(chi)*,audio(eng) chapters 2 created 2021-06-01T10:20:30"
                         << QStringList{"subtitle#1(chi)", "subtitle#2(eng)"};
    // The formats of old draw the subtitles a player shows unasked into the picture.
    const QStringList drawn = {"audio#2(eng)", "subtitle#2(eng)"};
    QTest::newRow("MOV, through the intermediate file")
        << "MOV"
        << "video,audio* chapters 0 created 2021-06-01T10:20:30" << drawn;
    QTest::newRow("RMVB") << "RMVB"
                          << "video,audio chapters 0 created " << drawn;
    QTest::newRow("MP3") << "MP3"
                         << "audio chapters 2 created 2021-06-01T10:20:30" << lost;
}

// A recording in two languages with subtitles and chapters: today's formats keep it all, the
// others the picture and the sound a player plays, and say what they left out. Every output
// is dated as its source.
void TestToolsFormats::keepsWhatTheContainerCarries()
{
    QFETCH(QString, format);
    QFETCH(QString, kept);
    QFETCH(QStringList, dropped);
    const auto text = [this](const QString &name, const QByteArray &content) {
        QFile file(m_folder.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size()
                   ? file.fileName()
                   : QString();
    };
    const QString source =
        made("two languages.mkv",
             {"-f",
              "lavfi",
              "-i",
              "testsrc=size=320x240:rate=25:duration=2",
              "-f",
              "lavfi",
              "-i",
              "sine=frequency=440:duration=2",
              "-f",
              "lavfi",
              "-i",
              "sine=frequency=1000:duration=2",
              "-i",
              text("zh.srt", "1\n00:00:00,000 --> 00:00:01,500\n你好\n\n"),
              "-i",
              text("en.srt", "1\n00:00:00,000 --> 00:00:01,500\nHello\n\n"),
              "-i",
              text("chapters.txt", ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\n"
                                   "title=开始\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\n"
                                   "title=End\n"),
              "-map",
              "0",
              "-map",
              "1",
              "-map",
              "2",
              "-map",
              "3",
              "-map",
              "4",
              "-map_chapters",
              "5",
              "-c:v",
              "libx264",
              "-preset",
              "ultrafast",
              "-c:a",
              "aac",
              "-c:s",
              "srt",
              "-metadata:s:a:0",
              "language=chi",
              "-metadata:s:a:1",
              "language=eng",
              "-metadata:s:s:0",
              "language=chi",
              "-metadata:s:s:1",
              "language=eng",
              "-disposition:a:1",
              "0",
              "-disposition:s:0",
              "default",
              "-disposition:s:1",
              "0",
              "-metadata",
              "creation_time=2021-06-01T10:20:30.000000Z"});
    QVERIFY(!source.isEmpty());
    const QDateTime recorded = QDateTime::fromString("2020-01-02T03:04:05Z", Qt::ISODate);
    QFile dated(source);
    QVERIFY(dated.open(QIODevice::ReadWrite) &&
            dated.setFileTime(recorded, QFileDevice::FileModificationTime));
    dated.close();
    QByteArray printed;
    const QString written = convert(QStringList{"-f"} + format.split(' '), printed, source);
    QVERIFY2(!written.isEmpty(), printed.constData());
    if (kept.endsWith(QLatin1String(" now"))) {
        QVERIFY(QFileInfo(written).lastModified().secsTo(QDateTime::currentDateTime()) < 600);
        QVERIFY(contents(written).startsWith(kept.chopped(4) + " dated "));
    } else {
        QCOMPARE(contents(written), kept + " dated 2020-01-02T03:04:05Z");
    }
    QStringList said;
    for (const QByteArray &line : printed.split('\n'))
        for (const QJsonValue &stream :
             QJsonDocument::fromJson(line).object().value("dropped").toArray())
            said.append(stream.toString());
    QCOMPARE(said, dropped);
}

void TestToolsFormats::drawsTheSubtitlesAPlayerShows_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("MPG") << "MPG";
    QTest::newRow("3GP, through the intermediate file") << "3GP";
}

// A black picture with a default Chinese subtitle for its first second: white letters at the
// bottom while it lasts, none after.
void TestToolsFormats::drawsTheSubtitlesAPlayerShows()
{
    QFETCH(QString, format);
    QFile subtitle(m_folder.filePath("shown.srt"));
    QVERIFY(subtitle.open(QIODevice::WriteOnly));
    subtitle.write("1\n00:00:00,000 --> 00:00:01,000\n你好，世界\n\n");
    subtitle.close();
    const QString source = made("subtitled.mkv", {"-f",
                                                  "lavfi",
                                                  "-i",
                                                  "color=black:size=320x240:rate=25:duration=2",
                                                  "-f",
                                                  "lavfi",
                                                  "-i",
                                                  "sine=duration=2",
                                                  "-i",
                                                  subtitle.fileName(),
                                                  "-map",
                                                  "0",
                                                  "-map",
                                                  "1",
                                                  "-map",
                                                  "2",
                                                  "-c:v",
                                                  "libx264",
                                                  "-c:a",
                                                  "aac",
                                                  "-disposition:s:0",
                                                  "default"});
    QVERIFY(!source.isEmpty());
    QByteArray printed;
    const QString written = convert({"-f", format}, printed, source);
    QVERIFY2(!written.isEmpty(), printed.constData());
    const auto brightest = [&written](const char *at) {
        const TestMedia::Run run = TestMedia::runProgram(
            "ffmpeg",
            {"-nostdin", "-ss", at, "-i", written, "-frames:v", "1", "-vf",
             "crop=iw:ih/4:0:ih*3/4,signalstats,metadata=print:key=lavfi.signalstats.YMAX", "-f",
             "null", "-"});
        const int value = run.err.lastIndexOf("YMAX=");
        return value < 0 ? -1 : run.err.mid(value + 5).split('\n').first().toInt();
    };
    QVERIFY2(brightest("0.5") > 180, qPrintable(QString::number(brightest("0.5"))));
    QVERIFY2(brightest("1.6") < 60, qPrintable(QString::number(brightest("1.6"))));
}

void TestToolsFormats::coversStay_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("video"); // the cover becomes the picture, else it stays a cover
    QTest::newRow("H264") << "H264" << true;
    QTest::newRow("MPG") << "MPG" << true;
    QTest::newRow("MP3") << "MP3" << false;
    QTest::newRow("M4A") << "M4A" << false;
    QTest::newRow("FLAC") << "FLAC" << false;
}

// A song with its cover: a video shows the cover for the whole song, a sound format keeps it as
// its cover.
void TestToolsFormats::coversStay()
{
    QFETCH(QString, format);
    QFETCH(bool, video);
    const QString song =
        made("song.mp3", {"-f", "lavfi", "-i", "color=red:size=200x200:duration=0.04", "-f",
                          "lavfi", "-i", "sine=duration=3", "-map", "1", "-map", "0", "-c:v",
                          "mjpeg", "-disposition:v", "attached_pic", "-frames:v", "1"});
    QVERIFY(!song.isEmpty());
    QByteArray printed;
    const QString written = convert({"-f", format}, printed, song);
    QVERIFY2(!written.isEmpty(), printed.constData());
    const TestMedia::Run frames = TestMedia::runProgram(
        "ffprobe",
        {"-v", "error", "-select_streams", "v", "-count_packets", "-show_entries",
         "stream=nb_read_packets:stream_disposition=attached_pic", "-of", "csv=p=0", written});
    const QStringList picture = QString::fromUtf8(frames.out).trimmed().split(',');
    QVERIFY2(picture.size() >= 2, frames.out.constData());
    QCOMPARE(picture[1], video ? QStringLiteral("0") : QStringLiteral("1"));
    if (video) {
        QVERIFY2(picture[0].toInt() > 1, qPrintable(picture.join(',')));
        QVERIFY(qAbs(TestMedia::probe(written).duration - 3) < 0.3);
    }
}

void TestToolsFormats::loudMastersStayBelowFullScale_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("lossless");
    QTest::newRow("M4A") << "M4A" << false;
    QTest::newRow("MP3") << "MP3" << false;
    QTest::newRow("FLAC, untouched") << "FLAC" << true;
}

// Pink noise mastered to -0.1 dBFS: no lossy encoder's output reaches full scale, and the lossless
// one keeps the peaks as they are.
void TestToolsFormats::loudMastersStayBelowFullScale()
{
    QFETCH(QString, format);
    QFETCH(bool, lossless);
    const QString master =
        made("master.wav", {"-f", "lavfi", "-i",
                            "anoisesrc=color=pink:amplitude=1:duration=3:sample_rate=48000,"
                            "volume=6dB,alimiter=limit=0.989:level=false:attack=1,"
                            "aformat=channel_layouts=stereo",
                            "-c:a", "pcm_s16le"});
    QVERIFY(!master.isEmpty());
    QVERIFY(peak(master) > -0.2);
    QByteArray printed;
    const QString written = convert({"-f", format}, printed, master);
    QVERIFY2(!written.isEmpty(), printed.constData());
    const double reached = peak(written);
    if (lossless)
        QVERIFY2(qAbs(reached - peak(master)) < 0.05, qPrintable(QString::number(reached)));
    else
        QVERIFY2(reached < 0, qPrintable(QString::number(reached)));
}

QTEST_GUILESS_MAIN(TestToolsFormats)
#include "test_tools_formats.moc"
