#include "convert/CommandBuilder.h"
#include "convert/Formats.h"
#include "convert/PathFunctions.h"

#include <QSet>
#include <QTest>

using namespace CommandBuilder;

namespace {

const QString App = QStringLiteral("/opt/Vid morph");
const QString Tmp = QStringLiteral("/home/li/.cache/vidmorph/tmp/tmp.mp4");

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT
private slots:
    void todaysFormats_data();
    void todaysFormats();
    void frameRateListKeepsItsItems();
    void stageOneText_data();
    void stageOneText();
    void twoStageFormatsShareTheirFirstCommand();
    void stageTwoText_data();
    void stageTwoText();
    void oneStageFormatsHaveNoSecondCommand();
    void argumentsKeepPathsWhole();
    void noFormatBuildsNothing();
    void outputPath_data();
    void outputPath();
    void outputPathNeverReusesATakenName();
    void pathFunctions_data();
    void pathFunctions();
};

void TestCommands::todaysFormats_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QStringList>("names"); // item text, short name, extension
    QTest::addColumn<QStringList>("texts"); // video bitrate, frame rate, size, rate, bitrate
    QTest::addColumn<bool>("keepsFrameRate");
    const QString keepSize = Formats::keepSourceSize();
    const QString keepRate = Formats::keepSourceFrameRate();
    const QString quality = Formats::qualityItem();
    QTest::newRow("9 H264") << 9 << QStringList{"MP4(H.264通用格式)", "H264", ".mp4"}
                            << QStringList{quality, keepRate, keepSize, "48000", "128"} << true;
    QTest::newRow("10 H265") << 10 << QStringList{"MP4(H.265高效格式)", "H265", ".mp4"}
                             << QStringList{quality, keepRate, keepSize, "48000", "128"} << true;
    QTest::newRow("11 AV1") << 11 << QStringList{"WebM(AV1网页格式)", "AV1", ".webm"}
                            << QStringList{quality, keepRate, keepSize, "48000", "96"} << true;
    // The audio formats leave the video lists alone, and FLAC the bitrate list too.
    QTest::newRow("12 M4A") << 12 << QStringList{"M4A(AAC音频)", "M4A", ".m4a"}
                            << QStringList{"", "", "", "48000", "192"} << false;
    QTest::newRow("13 FLAC") << 13 << QStringList{"FLAC(无损音频)", "FLAC", ".flac"}
                             << QStringList{"", "", "", "48000", ""} << false;
}

void TestCommands::todaysFormats()
{
    QFETCH(int, format);
    QFETCH(QStringList, names);
    QFETCH(QStringList, texts);
    QFETCH(bool, keepsFrameRate);
    QVERIFY(Formats::isValid(format));
    QCOMPARE(QStringList({Formats::itemText(format), Formats::shortName(format),
                          Formats::extension(format)}),
             names);
    QVERIFY(!Formats::isTwoStage(format));
    QCOMPARE(Formats::keepsFrameRate(format), keepsFrameRate);
    const Formats::Defaults d = *Formats::defaults(format);
    QCOMPARE(QStringList({d.videoBitrate.value_or(""), d.frameRate.value_or(""),
                          d.frameSize.value_or(""), d.sampleRate, d.audioBitrate.value_or("")}),
             texts);
    QCOMPARE(d.channelIndex, 1);
}

// The keep-the-rate entry is not one of the list's own items; the window offers it for the
// formats that read it.
void TestCommands::frameRateListKeepsItsItems()
{
    QCOMPARE(Formats::parameterList(Formats::FrameRate).items, QStringList({"15", "23", "29"}));
    for (int format = 0; format < Formats::H264; ++format) {
        QVERIFY(!Formats::keepsFrameRate(format));
        QVERIFY(Formats::defaults(format)->frameRate != Formats::keepSourceFrameRate());
    }
}

void TestCommands::stageOneText_data()
{
    QTest::addColumn<ParameterSet>("parameters");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("tool");
    QTest::addColumn<bool>("ffmpegRunner");

    const QString in = QStringLiteral("/media/my clips/holiday.part1.avi");
    QTest::newRow("MPG defaults: 64, 600, 24")
        << Formats::defaultParameters(Formats::MPG)
        << App + "/data/conv \"" + in +
               "\" -oac lavc -lavcopts acodec=mp2:abitrate=64 -ovc lavc -lavcopts "
               "vcodec=mpeg2video:vbitrate=600:vpass=1 -ofps 24 -of lavf -lavfopts "
               "format=yuv4mpeg -o \"/out dir/OUT\""
        << "conv" << false;
    ParameterSet avi = Formats::defaultParameters(Formats::AVI);
    avi.audioBitrate = "128";
    avi.videoBitrate = "1500";
    avi.frameRate = "15";
    QTest::newRow("AVI typed values")
        << avi
        << App + "/data/conv \"" + in +
               "\" -oac lavc -lavcopts acodec=mp2:abitrate=128 -ovc lavc -lavcopts "
               "vcodec=mpeg2video:vbitrate=1500:vpass=1 -ofps 15 -of lavf -lavfopts "
               "format=yuv4mpeg -o \"/out dir/OUT\""
        << "conv" << false;
    QTest::newRow("MPEG4 defaults")
        << Formats::defaultParameters(Formats::MPEG4)
        << App + "/data/conv \"" + in +
               "\" -oac mp3lame -lameopts preset=320 -ovc lavc -lavcopts "
               "vcodec=mpeg4:vbitrate=1200 -of avi -o \"/out dir/OUT\""
        << "conv" << false;
    ParameterSet mp3 = Formats::defaultParameters(Formats::MP3);
    mp3.channelCount = 1;
    QTest::newRow("MP3 mono") << mp3
                              << App + "/data/coder -i \"" + in +
                                     "\" -y -vn -ar 48000 -ab 320k -ac 1 \"/out dir/OUT\""
                              << "coder" << true;
    const QString coder = App + "/data/coder -i \"" + in + "\" -y ";
    QTest::newRow("H264 defaults keep size and frame rate")
        << Formats::defaultParameters(Formats::H264)
        << coder + "-vcodec libx264 -crf 22 -acodec aac -ar 48000 -ab 128k -ac 2 \"/out dir/OUT\""
        << "coder" << true;
    ParameterSet h264 = Formats::defaultParameters(Formats::H264);
    h264.frameSize = "640x360";
    h264.frameRate = "25";
    h264.videoBitrate = "800";
    h264.sampleRate = "44100";
    h264.audioBitrate = "96";
    h264.channelCount = 1;
    QTest::newRow("H264, every list read")
        << h264
        << coder + "-vcodec libx264 -b 800k -s 640x360 -r 25 -acodec aac -ar 44100 -ab 96k -ac 1 "
                   "\"/out dir/OUT\""
        << "coder" << true;
    ParameterSet h265 = Formats::defaultParameters(Formats::H265);
    h265.frameRate = "15";
    QTest::newRow("H265, frame rate 15, source size")
        << h265
        << coder + "-vcodec libx265 -crf 26 -r 15 -acodec aac -ar 48000 -ab 128k -ac 2 "
                   "\"/out dir/OUT\""
        << "coder" << true;
    ParameterSet level = Formats::defaultParameters(Formats::H265);
    level.quality = 0;
    QTest::newRow("H265, quality level 0 asked for")
        << level
        << coder + "-vcodec libx265 -crf 0 -acodec aac -ar 48000 -ab 128k -ac 2 \"/out dir/OUT\""
        << "coder" << true;
    ParameterSet av1 = Formats::defaultParameters(Formats::AV1);
    av1.frameSize = "320x240";
    QTest::newRow("AV1 sized, Opus")
        << av1
        << coder + "-vcodec libsvtav1 -crf 35 -s 320x240 -acodec libopus -ar 48000 -ab 96k -ac 2 "
                   "\"/out dir/OUT\""
        << "coder" << true;
    QTest::newRow("M4A defaults") << Formats::defaultParameters(Formats::M4A)
                                  << coder +
                                         "-vn -acodec aac -ar 48000 -ab 192k -ac 2 \"/out dir/OUT\""
                                  << "coder" << true;
    ParameterSet flac = Formats::defaultParameters(Formats::FLAC);
    flac.audioBitrate = "64";
    flac.channelCount = 1;
    QTest::newRow("FLAC reads no bitrate")
        << flac << coder + "-vn -acodec flac -ar 48000 -ac 1 \"/out dir/OUT\""
        << "coder" << true;
    QTest::newRow("RMVB writes the intermediate file")
        << Formats::defaultParameters(Formats::RMVB)
        << App + "/data/conv \"" + in +
               "\" -oac mp3lame -lameopts preset=320 -ovc lavc -lavcopts "
               "vcodec=mpeg4:vbitrate=1200 -of avi -o " +
               Tmp
        << "conv" << false;
}

void TestCommands::stageOneText()
{
    QFETCH(ParameterSet, parameters);
    QFETCH(QString, text);
    QFETCH(QString, tool);
    QFETCH(bool, ffmpegRunner);
    const Command c = BuildStageOneCommand(App, "/media/my clips/holiday.part1.avi", "/out dir/OUT",
                                           parameters, Tmp);
    QCOMPARE(c.line.text(), text);
    QCOMPARE(c.toolName, tool);
    QCOMPARE(c.runner == Runner::Ffmpeg, ffmpegRunner);
    QCOMPARE(c.line.program(), App + "/data/" + tool);
}

void TestCommands::twoStageFormatsShareTheirFirstCommand()
{
    QSet<QString> texts;
    for (int format :
         {Formats::RMVB, Formats::RM, Formats::MOV, Formats::MobileMP4, Formats::ThreeGP}) {
        ParameterSet odd = Formats::defaultParameters(format);
        odd.videoBitrate = "7";
        odd.audioBitrate = "1";
        odd.frameSize = "1x1";
        odd.sampleRate = "9";
        odd.channelCount = 0;
        texts.insert(BuildStageOneCommand(App, "/in.avi", "/o/x", odd, Tmp).line.text());
        texts.insert(
            BuildStageOneCommand(App, "/in.avi", "/o/y", Formats::defaultParameters(format), Tmp)
                .line.text());
    }
    QCOMPARE(texts.size(), 1);
}

void TestCommands::stageTwoText_data()
{
    QTest::addColumn<ParameterSet>("parameters");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("tool");
    const QString out = " \"/o/v.x\"";
    QTest::newRow("RMVB fixed: two blanks, 1200k, 128k, 2 channels")
        << Formats::defaultParameters(Formats::RMVB)
        << App + "/data/coder -i " + Tmp + " -y -vcodec rv10 -b 1200k -f rm  -ab 128k -ac 2" + out
        << "coder";
    ParameterSet rmvbSized = Formats::defaultParameters(Formats::RMVB);
    rmvbSized.frameSize = "640x480";
    rmvbSized.videoBitrate = "600";
    rmvbSized.sampleRate = "44100";
    rmvbSized.audioBitrate = "64";
    rmvbSized.channelCount = 1;
    QTest::newRow("RMVB sized 640x480/600/44100/64/mono")
        << rmvbSized
        << App + "/data/coder -i " + Tmp +
               " -y -s 640x480 -vcodec rv10 -b 600k -f rm -ar 44100 -ab 64k -ac 1" + out
        << "coder";
    ParameterSet rm = rmvbSized;
    rm.format = Formats::RM;
    rm.channelCount = 0; // typed channel text
    QTest::newRow("RM sized with no channel selected")
        << rm
        << App + "/data/coder -i " + Tmp +
               " -y -s 640x480 -vcodec rv10 -b 600k -f rm -ar 44100 -ab 64k -ac 0" + out
        << "coder";
    QTest::newRow("MOV fixed") << Formats::defaultParameters(Formats::MOV)
                               << App + "/data/coder -i " + Tmp + " -y -ac 2 -ar 48000 -ab 128k" +
                                      out
                               << "coder";
    ParameterSet movSized = Formats::defaultParameters(Formats::MOV);
    movSized.frameSize = "320x180";
    QTest::newRow("MOV sized") << movSized
                               << App + "/data/coder -i " + Tmp +
                                      " -y -s 320x180 -ac 2 -ar 48000 -ab 128k" + out
                               << "coder";
    ParameterSet mobileKeep = Formats::defaultParameters(Formats::MobileMP4);
    mobileKeep.frameSize = Formats::keepSourceSize();
    QTest::newRow("mobile MP4 keeping the size uses 320x240")
        << mobileKeep
        << App + "/data/coder2 -i " + Tmp +
               " -y -s 320x240 -vcodec mpeg4 -acodec amr_nb -ac 1 -ar 8000 -ab 12.2k" + out
        << "coder2";
    ParameterSet threeGp = Formats::defaultParameters(Formats::ThreeGP);
    threeGp.frameSize = "176x144";
    QTest::newRow("3GP 176x144")
        << threeGp
        << App + "/data/coder2 -i " + Tmp +
               " -y -s 176x144 -vcodec mpeg4 -acodec amr_nb -ac 1 -ar 8000 -ab 12.2k" + out
        << "coder2";
}

void TestCommands::stageTwoText()
{
    QFETCH(ParameterSet, parameters);
    QFETCH(QString, text);
    QFETCH(QString, tool);
    const Command c = BuildStageTwoCommand(App, "/o/v.x", parameters, Tmp);
    QCOMPARE(c.line.text(), text);
    QCOMPARE(c.toolName, tool);
    QVERIFY(c.runner == Runner::Ffmpeg);
    QCOMPARE(c.line.arguments().at(1), Tmp);
    QCOMPARE(c.line.arguments().last(), QStringLiteral("/o/v.x"));
}

void TestCommands::oneStageFormatsHaveNoSecondCommand()
{
    for (int format : {Formats::MPG, Formats::AVI, Formats::MPEG4, Formats::MP3, Formats::H264,
                       Formats::H265, Formats::AV1, Formats::M4A, Formats::FLAC})
        QVERIFY(BuildStageTwoCommand(App, "/o/v", Formats::defaultParameters(format), Tmp)
                    .line.isEmpty());
}

void TestCommands::argumentsKeepPathsWhole()
{
    const QString in = QStringLiteral("/m/-rf \"quoted\" 视频.avi");
    const QString out = QStringLiteral("/o d/-x 输出.mpg");
    const Command c =
        BuildStageOneCommand(App, in, out, Formats::defaultParameters(Formats::MPG), Tmp);
    const QStringList args = c.line.arguments();
    QCOMPARE(c.line.program(), App + "/data/conv");
    QCOMPARE(args.first(), in);
    QCOMPARE(args.last(), out);
    QCOMPARE(args,
             QStringList({in, "-oac", "lavc", "-lavcopts", "acodec=mp2:abitrate=64", "-ovc", "lavc",
                          "-lavcopts", "vcodec=mpeg2video:vbitrate=600:vpass=1", "-ofps", "24",
                          "-of", "lavf", "-lavfopts", "format=yuv4mpeg", "-o", out}));
    // A typed parameter with a blank stays one argument; it cannot add an option.
    ParameterSet typed = Formats::defaultParameters(Formats::MP3);
    typed.sampleRate = QStringLiteral("44100 -f null");
    const QStringList mp3 = BuildStageOneCommand(App, in, out, typed, Tmp).line.arguments();
    QCOMPARE(mp3.at(mp3.indexOf("-ar") + 1), QStringLiteral("44100 -f null"));
    // The intermediate file under a home folder with a blank is one argument too.
    const QString spaced = QStringLiteral("/home/a b/.cache/tmp.mp4");
    const QStringList two =
        BuildStageTwoCommand(App, out, Formats::defaultParameters(Formats::RMVB), spaced)
            .line.arguments();
    QCOMPARE(two.mid(0, 2), QStringList({"-i", spaced}));
}

void TestCommands::noFormatBuildsNothing()
{
    ParameterSet none = Formats::defaultParameters(Formats::MPG);
    none.format = -1;
    QVERIFY(BuildStageOneCommand(App, "/a", "/b", none, Tmp).line.isEmpty());
    none.format = Formats::Count;
    QVERIFY(BuildStageOneCommand(App, "/a", "/b", none, Tmp).line.isEmpty());
}

void TestCommands::outputPath_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QTime>("now");
    QTest::addColumn<QString>("path");
    QTest::newRow("09:05:03") << "/in/holiday.part1.avi"
                              << ".mpg" << QTime(9, 5, 3) << "/out/holiday-953.mpg";
    QTest::newRow("14:30:07") << "/in/holiday.part1.avi"
                              << ".mpg" << QTime(14, 30, 7) << "/out/holiday-14307.mpg";
    QTest::newRow("no dot") << "/in/clip"
                            << ".avi" << QTime(0, 0, 0) << "/out/clip-000.avi";
    QTest::newRow("leading dot") << "/in/.hidden.avi"
                                 << ".avi" << QTime(1, 2, 3) << "/out/-123.avi";
    // A whole name may have 255 bytes; "-1200.mp3" leaves 246 for the base name, which is cut
    // only when it is longer, by whole characters.
    const QString a = QStringLiteral("a"), shi = QString(QChar(0x89C6)); // 1 and 3 bytes
    const QString smile = QString::fromUcs4(U"\U0001F600");              // 4 bytes, 2 units
    QTest::newRow("255 bytes whole")
        << "/in/" + a.repeated(246) + ".avi"
        << ".mp3" << QTime(12, 0, 0) << "/out/" + a.repeated(246) + "-1200.mp3";
    QTest::newRow("one byte over") << "/in/" + a.repeated(247) << ".mp3" << QTime(12, 0, 0)
                                   << "/out/" + a.repeated(246) + "-1200.mp3";
    QTest::newRow("long Chinese name")
        << "/in/" + shi.repeated(85) + ".avi"
        << ".mp3" << QTime(12, 0, 0) << "/out/" + shi.repeated(82) + "-1200.mp3";
    QTest::newRow("no half character") << "/in/" + a + shi.repeated(85) << ".mp3" << QTime(12, 0, 0)
                                       << "/out/" + a + shi.repeated(81) + "-1200.mp3";
    QTest::newRow("no half surrogate pair")
        << "/in/" + smile.repeated(70) << ".mp3" << QTime(12, 0, 0)
        << "/out/" + smile.repeated(61) + "-1200.mp3";
    QTest::newRow("midnight hour 23") << "/in/a b.mov"
                                      << ".rmvb" << QTime(23, 59, 59) << "/out/a b-235959.rmvb";
}

void TestCommands::outputPath()
{
    QFETCH(QString, input);
    QFETCH(QString, extension);
    QFETCH(QTime, now);
    QFETCH(QString, path);
    QCOMPARE(MakeOutputPath("/out/", input, extension, now), path);
}

void TestCommands::outputPathNeverReusesATakenName()
{
    QSet<QString> written;
    auto taken = [&](const QString &p) { return written.contains(p); };
    // 01:23:45 and 12:03:45 give the same stamp; the second file must not overwrite the first.
    written.insert(MakeOutputPath("/o/", "/a/clip.avi", ".avi", QTime(1, 23, 45), taken));
    const QString second = MakeOutputPath("/o/", "/b/clip.avi", ".avi", QTime(12, 3, 45), taken);
    written.insert(second);
    const QString third = MakeOutputPath("/o/", "/c/clip.avi", ".avi", QTime(12, 3, 45), taken);
    QCOMPARE(written.values().size(), 2);
    QVERIFY(written.contains("/o/clip-12345.avi"));
    QCOMPARE(second, QStringLiteral("/o/clip-12345-2.avi"));
    QCOMPARE(third, QStringLiteral("/o/clip-12345-3.avi"));
    // A counter that would take the name past 255 bytes shortens the base name instead.
    const QString longest = QString(246, QLatin1Char('x'));
    written.insert(MakeOutputPath("/o/", "/a/" + longest, ".mp3", QTime(12, 0, 0), taken));
    QCOMPARE(MakeOutputPath("/o/", "/b/" + longest, ".mp3", QTime(12, 0, 0), taken),
             "/o/" + longest.left(244) + "-1200-2.mp3");
}

void TestCommands::pathFunctions_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("baseName");
    const QChar back('\\'), slash('/');
    QTest::newRow("D:\\v\\clip.avi") << "D:\\v\\clip.avi" << back << "D:\\v\\"
                                     << "clip.avi"
                                     << "clip";
    QTest::newRow("C:clip.avi") << "C:clip.avi" << back << "C:"
                                << "C:clip.avi"
                                << "C:clip";
    QTest::newRow("clip.avi") << "clip.avi" << back << ""
                              << "clip.avi"
                              << "clip";
    QTest::newRow("D:\\v\\my.clip.avi") << "D:\\v\\my.clip.avi" << back << "D:\\v\\"
                                        << "my.clip.avi"
                                        << "my";
    QTest::newRow("slash is no separator in backslash paths") << "a/b\\c/d.e" << back << "a/b\\"
                                                              << "c/d.e"
                                                              << "c/d";
    QTest::newRow("native") << "/home/li/视频/clip.part1.avi" << slash << "/home/li/视频/"
                            << "clip.part1.avi"
                            << "clip";
    QTest::newRow("native colon is a character") << "/v/a:b.avi" << slash << "/v/"
                                                 << "a:b.avi"
                                                 << "a:b";
    QTest::newRow("native leading dot") << "/v/.hidden.avi" << slash << "/v/"
                                        << ".hidden.avi"
                                        << "";
    QTest::newRow("empty") << "" << slash << ""
                           << ""
                           << "";
}

void TestCommands::pathFunctions()
{
    QFETCH(QString, path);
    QFETCH(QChar, separator);
    QFETCH(QString, folder);
    QFETCH(QString, fileName);
    QFETCH(QString, baseName);
    QCOMPARE(PathFunctions::ParsePath(path, separator), folder);
    QCOMPARE(PathFunctions::GetFileName(path, separator), fileName);
    QCOMPARE(PathFunctions::GetBaseName(path, separator), baseName);
}

QTEST_GUILESS_MAIN(TestCommands)
#include "test_commands.moc"
