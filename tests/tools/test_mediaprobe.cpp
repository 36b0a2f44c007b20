// What the tools learn of a file in process (MediaProbe): the facts its filters follow and the
// time its packets span, on small files made by ffmpeg, headers that lie and leaps included.
#include "TestMedia.h"
#include "common/MediaProbe.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <unistd.h>

class TestMediaProbe : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readsWhatTheFileHolds_data();
    void readsWhatTheFileHolds();
    void refusesWhatIsNoMediaFile_data();
    void refusesWhatIsNoMediaFile();

private:
    QString made(const QString &name, const QStringList &arguments, int copies = 1);
    QTemporaryDir m_folder;
};

using Fields = SourceInfo::Fields;

namespace {

const QStringList Picture = {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=2"};
const QStringList Tone = {"-f", "lavfi", "-i", "sine=frequency=440:duration=2"};
// The video's timestamps leap by an hour after its first second; the sound's too with `sound`.
QStringList leaping(bool sound)
{
    QStringList arguments = Picture + Tone + QStringList{"-vf", "setpts='PTS+gte(T,1)*3600/TB'"};
    if (sound)
        arguments += QStringList{"-af", "asetpts='PTS+gte(T,1)*3600/TB'"};
    return arguments;
}

MediaProbe::Facts read(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const MediaProbe::Facts facts =
        MediaProbe::read(fd, QFile::encodeName(path).toStdString(), true);
    ::close(fd);
    return facts;
}

// The sound streams as "stream:channels:rate", the one a player picks marked with a star.
QString sounds(const SourceInfo &info)
{
    QStringList described;
    for (int i = 0; i < int(info.sounds.size()); ++i) {
        const SourceInfo::Sound &sound = info.sounds[size_t(i)];
        described.append(QStringLiteral("%1:%2:%3%4")
                             .arg(sound.stream)
                             .arg(sound.channels)
                             .arg(sound.sampleRate)
                             .arg(i == info.chosenSound() ? "*" : ""));
    }
    return described.join(' ');
}

QString leaps(const MediaProbe::Facts &facts)
{
    QStringList described;
    for (const MediaProbe::Leap &leap : facts.leaps)
        described.append(QString::fromStdString((leap.video ? "video " : "audio ") +
                                                MediaProbe::describe(leap)));
    return described.join(", ");
}

} // namespace

void TestMediaProbe::initTestCase()
{
    QVERIFY(m_folder.isValid());
}

// A file made once for the test; `copies` of it end to end, as `cat` joins recordings.
QString TestMediaProbe::made(const QString &name, const QStringList &arguments, int copies)
{
    const QString one = m_folder.filePath(QStringLiteral("one-") + name);
    const QString error = TestMedia::makeWith(one, arguments);
    if (!error.isEmpty() || copies == 1)
        return error.isEmpty() ? one : QString();
    QFile single(one), joined(m_folder.filePath(name));
    if (!single.open(QIODevice::ReadOnly) || !joined.open(QIODevice::WriteOnly))
        return QString();
    const QByteArray bytes = single.readAll();
    for (int i = 0; i < copies; ++i)
        joined.write(bytes);
    return joined.fileName();
}

void TestMediaProbe::readsWhatTheFileHolds_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("copies");
    QTest::addColumn<QString>("picture"); // "WxH SAR n:d, upright WxH", empty for none
    QTest::addColumn<int>("fields");
    QTest::addColumn<bool>("still");
    QTest::addColumn<QString>("sounds");
    QTest::addColumn<double>("length"); // of the content, whatever the header says
    QTest::addColumn<QString>("leaps");

    const QStringList h264 = {"-c:v", "libx264", "-preset", "ultrafast"};
    QTest::newRow("576i broadcast")
        << "i576.mpg"
        << QStringList{"-f", "lavfi", "-i", "testsrc2=size=720x576:rate=50:duration=1"} + Tone +
               QStringList{"-vf",    "interlace=scan=tff,setsar=16/15",
                           "-c:v",   "mpeg2video",
                           "-flags", "+ildct+ilme",
                           "-top",   "1",
                           "-c:a",   "mp2",
                           "-t",     "1"}
        << 1 << "720x576 SAR 16:15, upright 720x576" << int(Fields::TopFirst) << false
        << "1:1:44100*" << 1.0 << "";
    // ffmpeg 5.1 writes the turn only into a copy.
    const QString landscape = made("landscape.mp4", Picture + Tone + h264);
    QTest::newRow("phone clip turned a quarter")
        << "portrait.mp4"
        << QStringList{"-i", "file:" + landscape, "-c", "copy", "-metadata:s:v:0", "rotate=90"} << 1
        << "320x240 SAR 1:1, upright 240x320" << int(Fields::Progressive) << false << "1:1:44100*"
        << 2.0 << "";
    QTest::newRow("second sound track flagged default")
        << "twotracks.mkv"
        << Picture + Tone +
               QStringList{"-f",
                           "lavfi",
                           "-i",
                           "sine=frequency=1000:duration=2:sample_rate=48000",
                           "-map",
                           "0",
                           "-map",
                           "1",
                           "-map",
                           "2",
                           "-ac:a:1",
                           "6",
                           "-disposition:a:0",
                           "0",
                           "-disposition:a:1",
                           "default"} +
               h264
        << 1 << "320x240 SAR 1:1, upright 320x240" << int(Fields::Progressive) << false
        << "1:1:44100 2:6:48000*" << 2.0 << "";
    QTest::newRow("song with its cover")
        << "cover.mp3"
        << QStringList{"-f", "lavfi", "-i", "color=red:size=64x64:duration=0.04"} + Tone +
               QStringList{"-map",      "1",     "-map",           "0",
                           "-c:v",      "mjpeg", "-disposition:v", "attached_pic",
                           "-frames:v", "1"}
        << 1 << "64x64 SAR 1:1, upright 64x64" << int(Fields::Unknown) << true << "0:1:44100*"
        << 2.0 << "";
    // A header with no length of its own: what LAME's frames hold, not a guess from the bitrate.
    QTest::newRow("VBR MP3 without a Xing header")
        << "vbr.mp3" << Tone + QStringList{"-q:a", "0", "-write_xing", "0"} << 1 << ""
        << int(Fields::Unknown) << false << "0:1:44100*" << 2.0 << "";
    QTest::newRow("camcorder clips joined with cat")
        << "joined.ts" << Picture + Tone + QStringList{"-c:v", "mpeg2video", "-c:a", "mp2"} << 3
        << "320x240 SAR 1:1, upright 320x240" << int(Fields::Progressive) << false << "1:1:44100*"
        << 6.0 << "";
    QTest::newRow("program streams joined")
        << "joined.mpg" << Picture + Tone + QStringList{"-c:v", "mpeg2video", "-c:a", "mp2"} << 2
        << "320x240 SAR 1:1, upright 320x240" << int(Fields::Progressive) << false << "1:1:44100*"
        << 4.0 << "";
    QTest::newRow("picture leaping an hour in Matroska")
        << "leap.mkv" << leaping(false) + h264 << 1 << "320x240 SAR 1:1, upright 320x240"
        << int(Fields::Progressive) << false << "1:1:44100*" << 2.0 << "video 3600.0 s at 1.0 s";
    QTest::newRow("both leaping an hour in a transport stream")
        << "leap.ts" << leaping(true) + QStringList{"-c:v", "mpeg2video", "-c:a", "mp2"} << 1
        << "320x240 SAR 1:1, upright 320x240" << int(Fields::Progressive) << false << "1:1:44100*"
        << 2.0 << "video 3600.0 s at 1.0 s, audio 3600.0 s at 1.0 s";
}

void TestMediaProbe::readsWhatTheFileHolds()
{
    QFETCH(QString, name);
    QFETCH(QStringList, arguments);
    QFETCH(int, copies);
    QFETCH(QString, picture);
    QFETCH(int, fields);
    QFETCH(bool, still);
    QFETCH(QString, sounds);
    QFETCH(double, length);
    QFETCH(QString, leaps);

    const QString path = made(name, arguments, copies);
    QVERIFY(!path.isEmpty());
    const MediaProbe::Facts facts = read(path);
    QVERIFY2(facts.opened, facts.failure.c_str());
    const SourceInfo &info = facts.source;
    const SourceInfo::Picture &p = info.picture;
    QCOMPARE(info.hasPicture ? QStringLiteral("%1x%2 SAR %3:%4, upright %5x%6")
                                   .arg(p.width)
                                   .arg(p.height)
                                   .arg(p.sarNum)
                                   .arg(p.sarDen)
                                   .arg(p.uprightWidth())
                                   .arg(p.uprightHeight())
                             : QString(),
             picture);
    QCOMPARE(int(p.fields), fields);
    QCOMPARE(p.still, still);
    QCOMPARE(::sounds(info), sounds);
    QVERIFY2(qAbs(facts.length - length) < 0.15,
             qPrintable(QStringLiteral("%1 s, not %2 s").arg(facts.length).arg(length)));
    QCOMPARE(::leaps(facts), leaps);
    // A leap is closed up in the stream's own filters.
    QCOMPARE(p.leaps.size(), size_t(leaps.count(QLatin1String("video"))));
}

void TestMediaProbe::refusesWhatIsNoMediaFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("refused"); // a media format the tools do not read
    QTest::newRow("text") << QByteArray("just some words\n") << ".txt" << false;
    QTest::newRow("a playlist naming another file")
        << QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n/etc/passwd\n#EXT-X-ENDLIST\n")
        << ".m3u8" << true;
    QTest::newRow("a list of files")
        << QByteArray("ffconcat version 1.0\nfile /etc/passwd\n") << ".ffconcat" << true;
}

void TestMediaProbe::refusesWhatIsNoMediaFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, extension);
    QFETCH(bool, refused);
    QFile file(m_folder.filePath(QTest::currentDataTag() + extension));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    const MediaProbe::Facts facts = read(file.fileName());
    QVERIFY(!facts.opened);
    QCOMPARE(facts.refused, refused);
}

QTEST_GUILESS_MAIN(TestMediaProbe)
#include "test_mediaprobe.moc"
