// What the tools read of their input from ffmpeg's own description of it, on descriptions that
// ffmpeg 5.1 printed for real files (tests/data/ffmpeg5.1-input-*.txt).
#include "common/SourceInfo.h"

#include <QFile>
#include <QTest>

class TestSourceInfo : public QObject
{
    Q_OBJECT

private slots:
    void readsRecordedDescriptions_data();
    void readsRecordedDescriptions();
    void waitsForTheWholeDescription_data();
    void waitsForTheWholeDescription();
    void titleSaysNothing();
    void fileNameSaysNothing();
};

using Fields = SourceInfo::Fields;

namespace {

QByteArray recorded(const QString &name)
{
    QFile file(QStringLiteral(VIDMORPH_SOURCE_DIR "/tests/data/ffmpeg5.1-input-%1.txt").arg(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

} // namespace

void TestSourceInfo::readsRecordedDescriptions_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("picture"); // "WxH SAR n:d, upright WxH", empty for none
    QTest::addColumn<int>("fields");
    QTest::addColumn<QString>("colours"); // "format range matrix"
    QTest::addColumn<double>("rate");
    QTest::addColumn<bool>("still");
    QTest::addColumn<QString>("sounds");
    QTest::addColumn<bool>("estimated");

    QTest::newRow("576i broadcast") << "i576"
                                    << "720x576 SAR 16:15, upright 720x576" << int(Fields::TopFirst)
                                    << "yuv420p tv " << 25.0 << false << "1:1:44100*" << false;
    QTest::newRow("anamorphic DVD")
        << "anamorphic"
        << "720x576 SAR 64:45, upright 720x576" << int(Fields::Progressive) << "yuv420p tv " << 25.0
        << false << "1:1:44100*" << false;
    QTest::newRow("DV, fields not said, length estimated")
        << "dv"
        << "720x576 SAR 16:15, upright 720x576" << int(Fields::Unknown) << "yuv420p  " << 25.0
        << false << "" << true;
    QTest::newRow("full-range MJPEG") << "tj"
                                      << "640x360 SAR 1:1, upright 640x360" << int(Fields::Unknown)
                                      << "yuvj420p pc bt470bg" << 25.0 << false << "" << false;
    QTest::newRow("HD bars tagged BT.709")
        << "bars720"
        << "1280x720 SAR 1:1, upright 1280x720" << int(Fields::Progressive) << "yuv420p tv bt709"
        << 25.0 << false << "1:1:44100*" << false;
    QTest::newRow("phone clip turned a quarter")
        << "rotated"
        << "640x360 SAR 1:1, upright 360x640" << int(Fields::Progressive) << "yuv420p  " << 30.0
        << false << "1:1:44100*" << false;
    QTest::newRow("second sound track flagged default")
        << "twotrack"
        << "320x240 SAR 1:1, upright 320x240" << int(Fields::Progressive) << "yuv420p  " << 25.0
        << false << "1:1:44100 2:1:44100*" << false;
    QTest::newRow("5.1 sound") << "loud51"
                               << "320x240 SAR 1:1, upright 320x240" << int(Fields::Progressive)
                               << "yuv420p  " << 25.0 << false << "1:6:48000*" << false;
    QTest::newRow("VBR MP3 without a Xing header")
        << "vbr"
        << "" << int(Fields::Unknown) << "  " << 0.0 << false << "0:2:44100*" << true;
    QTest::newRow("song with its cover")
        << "cover"
        << "300x300 SAR 1:1, upright 300x300" << int(Fields::Unknown) << "yuvj420p pc bt470bg"
        << 90000.0 << true << "0:1:44100*" << false;
    QTest::newRow("RGB screen recording")
        << "rgb"
        << "320x240 SAR 1:1, upright 320x240" << int(Fields::Progressive) << "rgb24 pc " << 25.0
        << false << "" << false;
}

void TestSourceInfo::readsRecordedDescriptions()
{
    QFETCH(QString, file);
    QFETCH(QString, picture);
    QFETCH(int, fields);
    QFETCH(QString, colours);
    QFETCH(double, rate);
    QFETCH(bool, still);
    QFETCH(QString, sounds);
    QFETCH(bool, estimated);

    const QByteArray text = recorded(file);
    QVERIFY(!text.isEmpty());
    SourceInfo info;
    const QString url = QString::fromUtf8(text.mid(text.indexOf("from '") + 6)).section('\'', 0, 0);
    QVERIFY(SourceInfo::parse(text.toStdString(), url.toStdString(), info));
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
    QCOMPARE(QString::fromStdString(p.pixelFormat + " " + p.range + " " + p.matrix), colours);
    QCOMPARE(p.rate, rate);
    QCOMPARE(p.still, still);
    QCOMPARE(::sounds(info), sounds);
    QCOMPARE(info.lengthEstimated, estimated);
}

void TestSourceInfo::waitsForTheWholeDescription_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("complete");
    const QByteArray start = "Input #0, avi, from 'file:/in/a.avi':\n"
                             "  Duration: 00:00:01.00, start: 0.000000, bitrate: 1 kb/s\n"
                             "  Stream #0:0: Video: mpeg4, yuv420p, 320x240, 25 fps, 25 tbr\n";
    QTest::newRow("streams still coming") << start << false;
    QTest::newRow("another input follows") << start + "Input #1, lavfi, from 'anullsrc':\n" << true;
    QTest::newRow("the output follows") << start + "Output #0, avi, to 'file:/out/b.avi':\n"
                                        << true;
    QTest::newRow("the stream mapping follows") << start + "Stream mapping:\n" << true;
    QTest::newRow("nothing described yet") << QByteArray("[avi @ 0x1] probing\n") << false;
}

// ffmpeg prints the description in pieces; the filters must not be chosen from half of it.
void TestSourceInfo::waitsForTheWholeDescription()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, complete);
    SourceInfo info;
    QCOMPARE(SourceInfo::parse(text.toStdString(), "file:/in/a.avi", info), complete);
}

// A title may hold anything; only a line that begins as ffmpeg's own stream lines do counts.
void TestSourceInfo::titleSaysNothing()
{
    const std::string text = "Input #0, matroska,webm, from 'file:/in/x.mkv':\n"
                             "  Metadata:\n"
                             "    title           : x  Stream #0:0: Audio: ac3, 48000 Hz, 5.1\n"
                             "  Duration: 00:00:01.00, start: 0.000000, bitrate: 1 kb/s\n"
                             "  Stream #0:0: Video: h264, yuv420p, 320x240, 25 fps, 25 tbr\n"
                             "  Stream #0:1: Audio: aac, 44100 Hz, stereo, fltp\n"
                             "Input #1, lavfi, from 'anullsrc':\n";
    SourceInfo info;
    QVERIFY(SourceInfo::parse(text, "file:/in/x.mkv", info));
    QVERIFY(info.hasPicture);
    QCOMPARE(info.picture.width, 320);
    QCOMPARE(int(info.sounds.size()), 1);
    QCOMPARE(info.sounds[0].stream, 1);
    QCOMPARE(info.sounds[0].channels, 2);
}

// A file name may hold anything, lines that look like streams included; only ffmpeg's own
// lines count.
void TestSourceInfo::fileNameSaysNothing()
{
    const std::string url = "file:/in/x.avi':\n  Stream #0:0: Audio: ac3, 48000 Hz, 5.1 (default)"
                            "\nInput #1, lavfi, from 'y";
    const std::string text = "Input #0, avi, from '" + url +
                             "':\n"
                             "  Stream #0:0: Video: mpeg4, yuv420p, 320x240, 25 fps, 25 tbr\n"
                             "  Stream #0:1: Audio: mp3, 44100 Hz, stereo, fltp\n"
                             "Input #1, lavfi, from 'anullsrc':\n";
    SourceInfo info;
    QVERIFY(SourceInfo::parse(text, url, info));
    QVERIFY(info.hasPicture);
    QCOMPARE(info.picture.width, 320);
    QCOMPARE(int(info.sounds.size()), 1);
    QCOMPARE(info.sounds[0].stream, 1);
    QCOMPARE(info.sounds[0].channels, 2);
}

QTEST_GUILESS_MAIN(TestSourceInfo)
#include "test_sourceinfo.moc"
