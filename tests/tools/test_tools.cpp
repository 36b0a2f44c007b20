#include "ProcessTable.h"
#include "TestMedia.h"
#include "convert/FailureReason.h"
#include "convert/ProgressParser.h"
#include "tools/ToolContract.h"
#include "tools/common/FrameLimits.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>
#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

// A file's first video stream as ffprobe tells it.
struct VideoInfo
{
    QString codec;
    QString tag; // the codec tag of an ISO file, "hvc1"
    QSize size;
    double sampleAspect = 1; // 1 when the file does not say
    double displayAspect() const
    {
        return size.isEmpty() ? 0 : size.width() * sampleAspect / size.height();
    }
};

// The three encoder tools run for real over the system's ffmpeg, with the command lines the
// converter builds, on small clips made here.
class TestTools : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void converterKnowsEveryErrorText_data();
    void converterKnowsEveryErrorText();
    void encodes_data();
    void encodes();
    void anySizeAnyContent_data();
    void anySizeAnyContent();
    void fails_data();
    void fails();
    void failsWhenTheDiskIsFull_data();
    void failsWhenTheDiskIsFull();
    void awkwardInputs_data();
    void awkwardInputs();
    void stopWhileMeasuringTheOutput();
    void refusesPlaylistsAndLists_data();
    void refusesPlaylistsAndLists();
    void nonUtf8Names_data();
    void nonUtf8Names();
    void oddNames_data();
    void oddNames();
    void stopSignalEndsEncoderAndRemovesOutput_data();
    void stopSignalEndsEncoderAndRemovesOutput();
    void killedToolTakesItsEncoderAlong_data();
    void progressWhileTheEncoderIsSilent_data();
    void progressWhileTheEncoderIsSilent();
    void killedToolTakesItsEncoderAlong();
    void softwareWhenTheChipCannot_data();
    void softwareWhenTheChipCannot();
    void encoderSettings_data();
    void encoderSettings();

private:
    struct Run
    {
        int exitCode = -1;
        QString output;
    };
    Run runTool(const QString &tool, const QStringList &arguments, const QString &folder,
                qint64 fileSizeLimit = 0, const QProcessEnvironment &environment = {});
    // For arguments that are bytes, not text: names in another encoding than UTF-8.
    Run runToolWithBytes(const QString &tool, const QList<QByteArray> &arguments,
                         const QString &folder);
    QString input(const QString &name) const
    {
        return m_dir.filePath(QStringLiteral("in/") + name);
    }
    QString intermediate(const QString &inputName);
    // A clip of a lavfi video source (and a second of sine audio) made once.
    QString clip(const QString &name, const QString &source, int frames, const QString &codec);
    QString freshFolder();
    // An input made once by ffmpeg from its arguments (sources and codecs, no output).
    QString made(const QString &name, const QStringList &ffmpegArguments);
    // A folder holding an executable "ffmpeg" (or another program) that runs the shell script
    // body, to be put first on a tool's PATH.
    QString standInFfmpeg(const QByteArray &body, const QString &program = "ffmpeg");
    QString toolArgument(const QString &text, const QString &inputPath, const QString &output);

    QTemporaryDir m_dir;
    QHash<QString, double> m_inputSeconds;
    QHash<QString, QString> m_intermediates;
    QHash<QString, VideoInfo> m_videoInfo;
    int m_folders = 0;
};

namespace {
const QStringList StageOneIntermediate = {
    "-oac", "mp3lame", "-lameopts", "preset=320",
    "-ovc", "lavc",    "-lavcopts", "vcodec=mpeg4:vbitrate=1200",
    "-of",  "avi",     "-o",        "SCRATCH"};
const QStringList StageOneMpeg2 = {"-oac",      "lavc",
                                   "-lavcopts", "acodec=mp2:abitrate=64",
                                   "-ovc",      "lavc",
                                   "-lavcopts", "vcodec=mpeg2video:vbitrate=600:vpass=1",
                                   "-ofps",     "24",
                                   "-of",       "lavf",
                                   "-lavfopts", "format=yuv4mpeg",
                                   "-o",        "OUT"};
const QStringList StageOneMpeg4 = {"-oac", "mp3lame", "-lameopts", "preset=320",
                                   "-ovc", "lavc",    "-lavcopts", "vcodec=mpeg4:vbitrate=1200",
                                   "-of",  "avi",     "-o",        "OUT"};
const QStringList Mp3 = {"-i", "IN", "-y", "-vn", "-ar", "48000", "-ab", "320k", "-ac", "2", "OUT"};
const QStringList RealFixed = {"-i", "SCRATCH", "-y",  "-vcodec", "rv10", "-b", "1200k",
                               "-f", "rm",      "-ab", "128k",    "-ac",  "2",  "OUT"};
const QStringList RealSized = {"-i",    "SCRATCH", "-y",   "-s",  "640x480", "-vcodec",
                               "rv10",  "-b",      "600k", "-f",  "rm",      "-ar",
                               "44100", "-ab",     "64k",  "-ac", "1",       "OUT"};
const QStringList MovFixed = {"-i",  "SCRATCH", "-y",  "-ac",  "2",
                              "-ar", "48000",   "-ab", "128k", "OUT"};
const QStringList MovSized = {"-i", "SCRATCH", "-y",    "-s",  "320x240", "-ac",
                              "2",  "-ar",     "48000", "-ab", "128k",    "OUT"};
// Today's formats, one run of coder each: {video codec or "-vn", audio codec, the rest}.
QStringList modern(const QString &videoCodec, const QString &audioCodec,
                   const QStringList &video = {"-b", "1500k"},
                   const QStringList &audio = {"-ar", "48000", "-ab", "128k", "-ac", "2"})
{
    QStringList arguments = {"-i", "IN", "-y"};
    arguments += videoCodec.isEmpty() ? QStringList{"-vn"} : QStringList{"-vcodec", videoCodec};
    if (!videoCodec.isEmpty())
        arguments += video;
    return arguments + QStringList{"-acodec", audioCodec} + audio + QStringList{"OUT"};
}
const QStringList H264 = modern("libx264", "aac");
const QStringList H265 = modern("libx265", "aac", {"-b", "1000k"});
const QStringList AV1 =
    modern("libsvtav1", "libopus", {"-b", "800k"}, {"-ar", "48000", "-ab", "96k", "-ac", "2"});
const QStringList M4A = modern("", "aac", {}, {"-ar", "48000", "-ab", "192k", "-ac", "2"});
const QStringList Flac = modern("", "flac", {}, {"-ar", "48000", "-ac", "2"});

// Whether the command is one of today's formats, which name their codecs.
bool isModern(const QStringList &arguments)
{
    return arguments.contains(QLatin1String("-acodec")) &&
           !arguments.contains(QLatin1String("amr_nb"));
}

QStringList mobile(const QString &size)
{
    return {"-i",     "SCRATCH", "-y", "-s",  size,   "-vcodec", "mpeg4", "-acodec",
            "amr_nb", "-ac",     "1",  "-ar", "8000", "-ab",     "12.2k", "OUT"};
}

// The progress a window would show for this output, fed to the parser in chunks that end at
// line breaks as the runner delivers them.
QList<double> shownProgress(const QString &output, bool stageOne, qint32 *durationRead = nullptr)
{
    QChar spinner('-');
    qint32 duration = 0;
    QList<double> values;
    qsizetype start = 0;
    while (start < output.size()) {
        qsizetype end = start;
        while (end < output.size() && output[end] != QLatin1Char('\r') &&
               output[end] != QLatin1Char('\n'))
            ++end;
        const QStringView chunk = QStringView(output).mid(start, end - start + 1);
        const auto display = stageOne ? ProgressParser::parseStageOne(chunk, spinner)
                                      : ProgressParser::parseStageTwo(chunk, spinner, duration);
        if (display)
            values.append(display->pbValue);
        start = end + 1;
    }
    if (durationRead)
        *durationRead = duration;
    return values;
}
} // namespace

// The audio bitrate a command line asks for, in bit/s.
static int requestedAudioBitrate(const QStringList &arguments)
{
    if (arguments.contains(QLatin1String("preset=320")))
        return 320000;
    if (arguments.contains(QLatin1String("acodec=mp2:abitrate=64")))
        return 64000;
    const qsizetype ab = arguments.indexOf(QLatin1String("-ab"));
    if (ab < 0 || ab + 1 >= arguments.size())
        return 0;
    return qRound(arguments[ab + 1].chopped(1).toDouble() * 1000);
}

TestTools::Run TestTools::runTool(const QString &tool, const QStringList &arguments,
                                  const QString &folder, qint64 fileSizeLimit,
                                  const QProcessEnvironment &environment)
{
    QProcess process;
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    // A file size limit stands in for a full disk: with SIGXFSZ ignored (which the tool and
    // its ffmpeg inherit), writes past the limit fail the way they fail on a full disk.
    if (fileSizeLimit > 0)
        process.setChildProcessModifier([fileSizeLimit] {
            const rlimit limit = {rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
            signal(SIGXFSZ, SIG_IGN);
        });
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setWorkingDirectory(folder);
    process.start(TestMedia::toolPath(tool), arguments);
    Run run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        run.output = QStringLiteral("did not finish");
        return run;
    }
    run.output = QString::fromUtf8(process.readAll());
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

TestTools::Run TestTools::runToolWithBytes(const QString &tool, const QList<QByteArray> &arguments,
                                           const QString &folder)
{
    const QByteArray program = QFile::encodeName(TestMedia::toolPath(tool));
    const QByteArray workingFolder = QFile::encodeName(folder);
    std::vector<char *> argv = {const_cast<char *>(program.constData())};
    for (const QByteArray &argument : arguments)
        argv.push_back(const_cast<char *>(argument.constData()));
    argv.push_back(nullptr);
    int out[2];
    Run run;
    if (pipe(out) != 0)
        return run;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(out[0]);
        const int nothing = open("/dev/null", O_RDONLY);
        dup2(nothing, 0);
        if (chdir(workingFolder.constData()) == 0)
            execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    QByteArray output;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, n);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.output = QString::fromUtf8(output);
    return run;
}

QString TestTools::standInFfmpeg(const QByteArray &body, const QString &program)
{
    const QString folder = freshFolder();
    QFile script(folder + QLatin1Char('/') + program);
    if (!script.open(QIODevice::WriteOnly))
        return QString();
    script.write("#!/bin/bash\n" + body);
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return folder;
}

// A command line's placeholders: IN and SCRATCH read the named input, OUT is the output.
QString TestTools::toolArgument(const QString &text, const QString &inputPath,
                                const QString &output)
{
    if (text == QLatin1String("IN") || text == QLatin1String("SCRATCH"))
        return inputPath;
    if (text == QLatin1String("OUT"))
        return output;
    return text;
}

QString TestTools::freshFolder()
{
    const QString path = m_dir.filePath(QStringLiteral("run%1").arg(++m_folders));
    QDir().mkpath(path);
    return path;
}

// Stage two reads what stage one wrote; each input's intermediate file is made once.
QString TestTools::intermediate(const QString &inputName)
{
    if (m_intermediates.contains(inputName))
        return m_intermediates.value(inputName);
    const QString scratch = freshFolder();
    const QString path = scratch + QStringLiteral("/tmp.mp4");
    QStringList arguments = StageOneIntermediate;
    arguments.replace(arguments.indexOf("SCRATCH"), path);
    arguments.prepend(input(inputName));
    const Run run = runTool("conv", arguments, scratch);
    if (run.exitCode != 0 || !QFile::exists(path))
        return QString();
    m_intermediates.insert(inputName, path);
    return path;
}

void TestTools::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // H.264 and H.265 go to a graphics chip where one works; the tests know which encoder runs
    // because none does, whatever machine they run on.
    qputenv("VIDMORPH_VAAPI_DEVICE", m_dir.filePath("no-render-node").toUtf8());
    QVERIFY(QDir().mkpath(m_dir.filePath("in")));
    struct Clip
    {
        QString name;
        QSize size;
        double seconds;
        int channels;
        int frameRate;
    };
    const QList<Clip> clips = {
        {"stereo.mp4", {320, 180}, 2, 2, 25}, {"mono.mp4", {640, 360}, 1, 1, 25},
        {"odd.mkv", {321, 241}, 1, 2, 25},    {"silent.mp4", {320, 180}, 1, 0, 25},
        {"audio.wav", {}, 1, 2, 25},          {"large.mkv", {1920, 1080}, 1, 1, 5},
        {"long.mp4", {640, 360}, 30, 2, 25},
    };
    for (const Clip &clip : clips) {
        const QString error = TestMedia::make(input(clip.name), clip.size, clip.seconds,
                                              clip.channels, 44100, clip.frameRate);
        QVERIFY2(error.isEmpty(), qPrintable(clip.name + ": " + error));
        m_inputSeconds.insert(clip.name, clip.seconds);
    }
    // A real clip for playlists to name.
    QProcess segment;
    segment.start("ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i",
                             "testsrc=size=160x120:rate=25:duration=1", "-c:v", "mpeg2video", "-f",
                             "mpegts", input("segment.ts")});
    QVERIFY(segment.waitForFinished() && segment.exitCode() == 0);
    QFile text(input("text.avi"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("This is a text file, not a video.\n");
    text.close();
    QFile empty(input("empty.avi"));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
}

// The converter tells the user why a tool failed by the beginning of its error line; a text
// that drifts from what the converter knows shows only as an exit code.
void TestTools::converterKnowsEveryErrorText_data()
{
    namespace E = ToolContract::Error;
    QTest::addColumn<QString>("line");
    const auto row = [](const char *text, const char *detail) {
        QTest::newRow(text) << QString::fromUtf8(ToolContract::ErrorPrefix) + text + detail;
    };
    row(E::StoppedBySignal, "15");
    row(E::InputNotFound, "/a/b.avi");
    row(E::InputNotAFile, "/a/b");
    row(E::InputEmpty, "/a/b.avi");
    row(E::InputUnreadable, "/a/b.avi: Invalid data found when processing input");
    row(E::NoVideoStream, "");
    row(E::NoAudioStream, "");
    row(E::AudioUndecodable, "Invalid data");
    row(E::BadParameter, " -ac 0");
    row(E::UnknownOption, "-vx");
    row(E::OptionNeedsValue, "-i needs a value");
    row(E::OutputIsFolder, "/a/b.mp4");
    row(E::OutputFolderUnwritable, "/a: Permission denied");
    row(E::TemporaryFileUnavailable, "Too many open files");
    row(E::CannotCreate, "/a/b.mp4: Invalid argument");
    row(E::NoOutputWritten, "");
    row(E::AmrEncoderUnavailable, "");
    row(E::AmrWriteFailed, "Bad address");
    row(E::CannotStart, "ffmpeg: No such file or directory");
    row(E::EncodingFailed, "Invalid argument");
}

void TestTools::converterKnowsEveryErrorText()
{
    QFETCH(QString, line);
    const QString reason = FailureReason::describe(QStringLiteral("time=1.00 \r") + line + '\n',
                                                   ToolContract::ExitFailed, false, false);
    QVERIFY2(!reason.startsWith(QStringLiteral("转换程序报告错误")) &&
                 reason != QStringLiteral("转换失败"),
             qPrintable(line + QStringLiteral(" -> ") + reason));
}

void TestTools::encodes_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("inputName");
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("videoCodec");
    QTest::addColumn<QString>("audioCodec");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("frameRate"); // 0: not checked

    const QString mov = "mov,mp4,m4a,3gp,3g2,mj2";
    QTest::newRow("intermediate") << "conv" << StageOneIntermediate << "stereo.mp4"
                                  << "tmp.mp4"
                                  << "avi"
                                  << "mpeg4"
                                  << "mp3" << QSize(320, 180) << 44100 << 2 << 0.0;
    QTest::newRow("MPG") << "conv" << StageOneMpeg2 << "stereo.mp4"
                         << "clip.mpg"
                         << "mpeg"
                         << "mpeg2video"
                         << "mp2" << QSize(320, 180) << 44100 << 2 << 24.0;
    QTest::newRow("AVI") << "conv" << StageOneMpeg2 << "stereo.mp4"
                         << "clip.avi"
                         << "avi"
                         << "mpeg2video"
                         << "mp2" << QSize(320, 180) << 44100 << 2 << 24.0;
    QTest::newRow("MPEG4") << "conv" << StageOneMpeg4 << "stereo.mp4"
                           << "clip.mp4"
                           << "avi"
                           << "mpeg4"
                           << "mp3" << QSize(320, 180) << 44100 << 2 << 0.0;
    QTest::newRow("MP3") << "coder" << Mp3 << "stereo.mp4"
                         << "clip.mp3"
                         << "mp3"
                         << ""
                         << "mp3" << QSize() << 48000 << 2 << 0.0;
    QTest::newRow("RMVB") << "coder" << RealFixed << "stereo.mp4"
                          << "clip.rmvb"
                          << "rm"
                          << "rv10"
                          << "ac3" << QSize(320, 192) << 44100 << 2 << 0.0;
    QTest::newRow("RM") << "coder" << RealFixed << "stereo.mp4"
                        << "clip.rm"
                        << "rm"
                        << "rv10"
                        << "ac3" << QSize(320, 192) << 44100 << 2 << 0.0;
    QTest::newRow("MOV") << "coder" << MovFixed << "stereo.mp4"
                         << "clip.mov" << mov << "h264"
                         << "aac" << QSize(320, 180) << 48000 << 2 << 0.0;
    QTest::newRow("mobile MP4") << "coder2" << mobile("320x240") << "stereo.mp4"
                                << "clip.mp4" << mov << "mpeg4"
                                << "amr_nb" << QSize(320, 240) << 8000 << 1 << 0.0;
    QTest::newRow("3GP") << "coder2" << mobile("320x240") << "stereo.mp4"
                         << "clip.3gp" << mov << "mpeg4"
                         << "amr_nb" << QSize(320, 240) << 8000 << 1 << 0.0;
    QTest::newRow("RMVB sized") << "coder" << RealSized << "stereo.mp4"
                                << "clip.rmvb"
                                << "rm"
                                << "rv10"
                                << "ac3" << QSize(640, 480) << 44100 << 1 << 0.0;
    QTest::newRow("MOV sized") << "coder" << MovSized << "stereo.mp4"
                               << "clip.mov" << mov << "h264"
                               << "aac" << QSize(320, 240) << 48000 << 2 << 0.0;
    QTest::newRow("3GP sized") << "coder2" << mobile("176x144") << "stereo.mp4"
                               << "clip.3gp" << mov << "mpeg4"
                               << "amr_nb" << QSize(176, 144) << 8000 << 1 << 0.0;
    QStringList oddRate = StageOneMpeg2;
    oddRate.replace(oddRate.indexOf("24"), "13");
    QTest::newRow("MPG, rate MPEG-2 lacks")
        << "conv" << oddRate << "stereo.mp4"
        << "clip.mpg"
        << "mpeg"
        << "mpeg2video"
        << "mp2" << QSize(320, 180) << 44100 << 2 << 24000.0 / 1001;
    QTest::newRow("mono MPG") << "conv" << StageOneMpeg2 << "mono.mp4"
                              << "clip.mpg"
                              << "mpeg"
                              << "mpeg2video"
                              << "mp2" << QSize(640, 360) << 44100 << 1 << 24.0;
    QTest::newRow("mono MP3") << "coder" << Mp3 << "mono.mp4"
                              << "clip.mp3"
                              << "mp3"
                              << ""
                              << "mp3" << QSize() << 48000 << 2 << 0.0;
    QTest::newRow("mono RMVB") << "coder" << RealFixed << "mono.mp4"
                               << "clip.rmvb"
                               << "rm"
                               << "rv10"
                               << "ac3" << QSize(640, 368) << 44100 << 2 << 0.0;
    QTest::newRow("odd MPEG4") << "conv" << StageOneMpeg4 << "odd.mkv"
                               << "clip.mp4"
                               << "avi"
                               << "mpeg4"
                               << "mp3" << QSize(322, 242) << 44100 << 2 << 0.0;
    QTest::newRow("odd RMVB") << "coder" << RealFixed << "odd.mkv"
                              << "clip.rmvb"
                              << "rm"
                              << "rv10"
                              << "ac3" << QSize(336, 256) << 44100 << 2 << 0.0;
    QTest::newRow("odd MOV") << "coder" << MovFixed << "odd.mkv"
                             << "clip.mov" << mov << "h264"
                             << "aac" << QSize(322, 242) << 48000 << 2 << 0.0;
    QTest::newRow("silent MPEG4") << "conv" << StageOneMpeg4 << "silent.mp4"
                                  << "clip.mp4"
                                  << "avi"
                                  << "mpeg4"
                                  << "" << QSize(320, 180) << 0 << 0 << 0.0;
    QTest::newRow("silent 3GP") << "coder2" << mobile("176x144") << "silent.mp4"
                                << "clip.3gp" << mov << "mpeg4"
                                << "" << QSize(176, 144) << 0 << 0 << 0.0;
    QTest::newRow("audio-only MP3") << "coder" << Mp3 << "audio.wav"
                                    << "clip.mp3"
                                    << "mp3"
                                    << ""
                                    << "mp3" << QSize() << 48000 << 2 << 0.0;
    // 1920x1080 is 8160 macroblocks: too many for RealVideo 1, so it shrinks.
    QTest::newRow("large RMVB") << "coder" << RealFixed << "large.mkv"
                                << "clip.rmvb"
                                << "rm"
                                << "rv10"
                                << "ac3" << QSize(1344, 768) << 44100 << 2 << 0.0;
    // Today's formats keep the size and frame rate they are not told to change.
    QTest::newRow("H264") << "coder" << H264 << "stereo.mp4"
                          << "clip.mp4" << mov << "h264"
                          << "aac" << QSize(320, 180) << 48000 << 2 << 25.0;
    QTest::newRow("H265 176x144, 15 fps, mono 44100 Hz")
        << "coder"
        << modern("libx265", "aac", {"-b", "1000k", "-s", "176x144", "-r", "15"},
                  {"-ar", "44100", "-ab", "64k", "-ac", "1"})
        << "stereo.mp4"
        << "clip.mp4" << mov << "hevc"
        << "aac" << QSize(176, 144) << 44100 << 1 << 15.0;
    QTest::newRow("odd H265") << "coder" << H265 << "odd.mkv"
                              << "clip.mp4" << mov << "hevc"
                              << "aac" << QSize(322, 242) << 48000 << 2 << 25.0;
    // Opus has no 44100 Hz: the next rate it has.
    QTest::newRow("AV1 at 29 fps, 44100 Hz")
        << "coder"
        << modern("libsvtav1", "libopus", {"-b", "800k", "-r", "29"},
                  {"-ar", "44100", "-ab", "96k", "-ac", "2"})
        << "stereo.mp4"
        << "clip.webm"
        << "matroska,webm"
        << "av1"
        << "opus" << QSize(320, 180) << 48000 << 2 << 29.0;
    // SVT-AV1 takes at most 240 frames a second.
    QTest::newRow("AV1 at 300 fps")
        << "coder" << modern("libsvtav1", "libopus", {"-b", "800k", "-r", "300"}) << "mono.mp4"
        << "clip.webm"
        << "matroska,webm"
        << "av1"
        << "opus" << QSize(640, 360) << 48000 << 2 << 240.0;
    QTest::newRow("silent AV1") << "coder" << AV1 << "silent.mp4"
                                << "clip.webm"
                                << "matroska,webm"
                                << "av1"
                                << "" << QSize(320, 180) << 0 << 0 << 25.0;
    QTest::newRow("M4A") << "coder" << M4A << "mono.mp4"
                         << "clip.m4a" << mov << ""
                         << "aac" << QSize() << 48000 << 2 << 0.0;
    QTest::newRow("FLAC, 12050 Hz mono")
        << "coder" << modern("", "flac", {}, {"-ar", "12050", "-ac", "1"}) << "audio.wav"
        << "clip.flac"
        << "flac"
        << ""
        << "flac" << QSize() << 12050 << 1 << 0.0;
}

namespace {
VideoInfo videoInfo(const QString &path);

// Whether an ISO file's index (moov) comes before its media data (mdat).
bool indexFirst(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    qint64 at = 0;
    while (at + 8 <= file.size()) {
        file.seek(at);
        const QByteArray head = file.read(16);
        quint64 size = qFromBigEndian<quint32>(head.constData());
        if (size == 1 && head.size() == 16)
            size = qFromBigEndian<quint64>(head.constData() + 8);
        const QByteArray type = head.mid(4, 4);
        if (type == "moov" || type == "mdat")
            return type == "moov";
        if (size < 8)
            return false;
        at += qint64(size);
    }
    return false;
}

// What mplayer says of a file it plays for ten frames: its -identify values without "ID_"
// ("VIDEO_CODEC", "AUDIO_CODEC", "EXIT"), and all it printed as "OUTPUT".
QMap<QString, QString> mplayerIdentify(const QString &path)
{
    QMap<QString, QString> values;
    QProcess mplayer;
    mplayer.setProcessChannelMode(QProcess::MergedChannels);
    mplayer.setStandardInputFile(QProcess::nullDevice());
    mplayer.start("mplayer", {"-really-quiet", "-identify", "-nolirc", "-vo", "null", "-ao", "null",
                              "-frames", "10", "--", path});
    if (!mplayer.waitForFinished(60000)) {
        values.insert("OUTPUT", "mplayer did not start or end (is it installed?)");
        return values;
    }
    const QString output = QString::fromUtf8(mplayer.readAll());
    values.insert("OUTPUT", output);
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("ID_")) && line.contains(QLatin1Char('=')))
            values.insert(line.mid(3).section(QLatin1Char('='), 0, 0),
                          line.section(QLatin1Char('='), 1).trimmed());
    }
    return values;
}
} // namespace

void TestTools::encodes()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, inputName);
    QFETCH(QString, outputName);
    QFETCH(QString, container);
    QFETCH(QString, videoCodec);
    QFETCH(QString, audioCodec);
    QFETCH(QSize, size);
    QFETCH(int, sampleRate);
    QFETCH(int, channels);
    QFETCH(double, frameRate);

    const QString folder = freshFolder();
    const QString output = folder + QLatin1Char('/') + outputName;
    if (arguments.contains("SCRATCH")) {
        const QString source = tool == QLatin1String("conv") ? output : intermediate(inputName);
        QVERIFY2(!source.isEmpty(), "stage one failed");
        arguments.replace(arguments.indexOf("SCRATCH"), source);
    }
    if (arguments.contains("OUT"))
        arguments.replace(arguments.indexOf("OUT"), output);
    if (arguments.contains("IN"))
        arguments.replace(arguments.indexOf("IN"), input(inputName));
    if (tool == QLatin1String("conv"))
        arguments.prepend(input(inputName));

    const Run run = runTool(tool, arguments, folder);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));

    // Nothing but the output is left: no hidden partial file, no pass log.
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{outputName});

    const TestMedia::Info info = TestMedia::probe(output);
    QVERIFY(info.readable);
    QCOMPARE(info.container, container);
    QCOMPARE(info.videoCodec, videoCodec);
    QCOMPARE(info.audioCodec, audioCodec);
    if (!videoCodec.isEmpty())
        QCOMPARE(info.size, size);
    QCOMPARE(info.sampleRate, sampleRate);
    QCOMPARE(info.channels, channels);
    if (frameRate > 0)
        QCOMPARE(info.frameRate, frameRate);
    // Constant-rate audio codecs must carry the bitrate the command asked for.
    const QStringList constantRate = {"mp3", "mp2", "ac3"};
    if (constantRate.contains(audioCodec))
        QCOMPARE(info.audioBitrate, requestedAudioBitrate(arguments));
    // AMR-NB 12.2k is stored as 32-byte frames (a header byte and 244 bits of speech) every
    // 20 ms; any other mode has a smaller frame.
    if (audioCodec == QLatin1String("amr_nb")) {
        QCOMPARE(requestedAudioBitrate(arguments), 12200);
        QCOMPARE(info.audioBitrate, 32 * 8 * 50);
    }
    if (audioCodec == QLatin1String("amr_nb"))
        QVERIFY2(info.majorBrand.startsWith(QLatin1String("3g")), qPrintable(info.majorBrand));
    if (isModern(arguments)) {
        // H.265 under the tag Apple's players want, the index of an MP4 ahead of its data so
        // that a browser plays it while it loads, and a second player besides ffmpeg.
        if (videoCodec == QLatin1String("hevc"))
            QCOMPARE(videoInfo(output).tag, QStringLiteral("hvc1"));
        if (container == QLatin1String("mov,mp4,m4a,3gp,3g2,mj2"))
            QVERIFY2(indexFirst(output), "the moov box follows the media data");
        const QMap<QString, QString> played = mplayerIdentify(output);
        QVERIFY2(played.value("EXIT") == QLatin1String("EOF"), qPrintable(played.value("OUTPUT")));
        QCOMPARE(played.contains("VIDEO_CODEC"), !videoCodec.isEmpty());
        QCOMPARE(played.contains("AUDIO_CODEC"), !audioCodec.isEmpty());
    }
    const double seconds = m_inputSeconds.value(inputName);
    QVERIFY2(qAbs(info.duration - seconds) <= 0.2,
             qPrintable(QStringLiteral("%1 s for %2 s").arg(info.duration).arg(seconds)));
    const QString errors = TestMedia::decodeErrors(output);
    QVERIFY2(errors.isEmpty(), qPrintable(errors));

    qint32 durationRead = 0;
    const QList<double> progress =
        shownProgress(run.output, tool == QLatin1String("conv"), &durationRead);
    // Without the length every position would show as finished.
    if (tool != QLatin1String("conv"))
        QCOMPARE(durationRead, qint32(qRound(seconds)));
    QVERIFY2(!progress.isEmpty(), qPrintable(run.output));
    for (int i = 1; i < progress.size(); ++i)
        QVERIFY2(progress[i] >= progress[i - 1], qPrintable(run.output));
    QCOMPARE(progress.last(), 100.0);
}

namespace {
// The command lines of each video format with the bitrates they read, as the converter builds
// them: {format, tool, arguments, extension}.
struct VideoCommand
{
    QString tool;
    QStringList arguments;
    QString extension;
    QString codec;
};

VideoCommand videoCommand(const QString &format, bool lowest)
{
    const QString audio = lowest ? "10.2" : "64";
    const QString video = lowest ? "40" : "600";
    if (format == QLatin1String("MPG") || format == QLatin1String("AVI"))
        return {"conv",
                {"IN", "-oac", "lavc", "-lavcopts", "acodec=mp2:abitrate=" + audio, "-ovc", "lavc",
                 "-lavcopts", "vcodec=mpeg2video:vbitrate=" + video + ":vpass=1", "-ofps", "24",
                 "-of", "lavf", "-lavfopts", "format=yuv4mpeg", "-o", "OUT"},
                format == QLatin1String("MPG") ? "mpg" : "avi",
                "mpeg2video"};
    if (format == QLatin1String("MPEG4"))
        return {"conv",
                {"IN", "-oac", "mp3lame", "-lameopts", "preset=" + QString(lowest ? "10.2" : "320"),
                 "-ovc", "lavc", "-lavcopts",
                 "vcodec=mpeg4:vbitrate=" + QString(lowest ? "40" : "1200"), "-of", "avi", "-o",
                 "OUT"},
                "mp4",
                "mpeg4"};
    if (format == QLatin1String("RMVB"))
        return {"coder", RealFixed, "rmvb", "rv10"};
    if (format == QLatin1String("RM 640x480"))
        return {"coder",
                {"-i", "SCRATCH", "-y", "-s", "640x480", "-vcodec", "rv10", "-b", video + "k", "-f",
                 "rm", "-ar", "44100", "-ab", (lowest ? "10.2" : "64") + QString("k"), "-ac", "1",
                 "OUT"},
                "rm",
                "rv10"};
    if (format == QLatin1String("MOV"))
        return {"coder", MovFixed, "mov", "h264"};
    if (format == QLatin1String("3GP"))
        return {"coder2", mobile("320x240"), "3gp", "mpeg4"};
    if (format == QLatin1String("3GP 8192x4320")) // a size typed into the list
        return {"coder2", mobile("8192x4320"), "3gp", "mpeg4"};
    const QStringList bitrate = {"-b", lowest ? "40k" : "1000k"};
    if (format == QLatin1String("H264"))
        return {"coder", modern("libx264", "aac", bitrate), "mp4", "h264"};
    if (format == QLatin1String("H265"))
        return {"coder", modern("libx265", "aac", bitrate), "mp4", "hevc"};
    if (format == QLatin1String("AV1"))
        return {"coder", modern("libsvtav1", "libopus", bitrate), "webm", "av1"};
    return {};
}

QSize sizeOf(const QString &text)
{
    return QSize(text.section(QLatin1Char('x'), 0, 0).toInt(),
                 text.section(QLatin1Char('x'), 1, 1).toInt());
}

VideoInfo videoInfo(const QString &path)
{
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                            "stream=codec_name,codec_tag_string,width,height,sample_aspect_ratio",
                            "-of", "default=noprint_wrappers=1", "file:" + path});
    VideoInfo info;
    if (!probe.waitForFinished(60000))
        return info;
    QMap<QString, QString> fields;
    for (const QString &line : QString::fromUtf8(probe.readAllStandardOutput()).split('\n'))
        fields.insert(line.section('=', 0, 0), line.section('=', 1).trimmed());
    info.codec = fields.value("codec_name");
    info.tag = fields.value("codec_tag_string");
    info.size = QSize(fields.value("width").toInt(), fields.value("height").toInt());
    const QString aspect = fields.value("sample_aspect_ratio");
    const double sar = aspect.section(':', 0, 0).toDouble() / aspect.section(':', 1, 1).toDouble();
    if (sar > 0)
        info.sampleAspect = sar;
    return info;
}
} // namespace

QString TestTools::clip(const QString &name, const QString &source, int frames,
                        const QString &codec)
{
    const QString path = input(name);
    if (QFile::exists(path))
        return path;
    const QString seconds = QString::number(frames / 25.0);
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-nostdin",
                            "-v",
                            "error",
                            "-f",
                            "lavfi",
                            "-i",
                            source,
                            "-f",
                            "lavfi",
                            "-i",
                            "sine=frequency=440:sample_rate=44100:duration=" + seconds,
                            "-frames:v",
                            QString::number(frames),
                            "-c:v",
                            codec,
                            "-preset",
                            "ultrafast",
                            "-c:a",
                            "flac",
                            "file:" + path});
    if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitCode() != 0) {
        qWarning() << ffmpeg.readAllStandardError();
        return QString();
    }
    return path;
}

void TestTools::anySizeAnyContent_data()
{
    QTest::addColumn<QString>("clipName");
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("frames");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("lowest");

    const auto testsrc = [](const char *size) {
        return QStringLiteral("testsrc2=size=%1:rate=25").arg(QLatin1String(size));
    };
    const auto noise = [](const char *size) {
        return QStringLiteral("color=gray:size=%1:rate=25,noise=alls=100:allf=u")
            .arg(QLatin1String(size));
    };
    for (const char *format : {"MPG", "AVI", "MPEG4", "RMVB", "MOV", "3GP"}) {
        QTest::addRow("4096x2160 %s", format)
            << "4096x2160" << testsrc("4096x2160") << 2 << format << false;
        QTest::addRow("7680x4320 %s", format)
            << "7680x4320" << testsrc("7680x4320") << 2 << format << false;
    }
    for (const char *format : {"MPG", "MPEG4"})
        QTest::addRow("8192x4320 %s", format)
            << "8192x4320" << testsrc("8192x4320") << 2 << format << false;
    QTest::newRow("4096x2160 3GP 8192x4320")
        << "4096x2160" << testsrc("4096x2160") << 2 << "3GP 8192x4320" << false;
    for (const char *format : {"MPG", "MPEG4", "RMVB", "MOV", "3GP", "H264", "H265", "AV1"})
        QTest::addRow("16x16 %s", format) << "16x16" << testsrc("16x16") << 10 << format << false;
    // SVT-AV1 takes at most 8704 rows.
    QTest::newRow("200x9000 AV1") << "200x9000" << testsrc("200x9000") << 2 << "AV1" << false;
    for (const char *format : {"AVI", "RMVB", "MOV", "H265", "AV1"})
        QTest::addRow("333x187 %s", format)
            << "333x187" << testsrc("333x187") << 10 << format << false;
    for (const char *size : {"640x480", "1920x1080"}) {
        const int frames = QByteArray(size) == "640x480" ? 10 : 4;
        const QString name = QStringLiteral("noise ") + size;
        QTest::addRow("noise %s RMVB", size) << name << noise(size) << frames << "RMVB" << false;
        QTest::addRow("noise %s RM 640x480", size)
            << name << noise(size) << frames << "RM 640x480" << false;
        QTest::addRow("noise %s RM 640x480, lowest", size)
            << name << noise(size) << frames << "RM 640x480" << true;
    }
    for (const char *format : {"MPG", "AVI", "MPEG4"})
        QTest::addRow("noise 640x480 %s, lowest", format)
            << "noise 640x480" << noise("640x480") << 10 << format << true;
}

// Any picture from 16x16 to 8K, tiny or full of noise, converts to every video format, at the
// default bitrates and the lowest of the lists. A size an encoder cannot take is scaled down
// as Frames::fitted says, keeping its shape, and the tool says so; RealMedia's
// 64 kB packets hold any picture.
void TestTools::anySizeAnyContent()
{
    QFETCH(QString, clipName);
    QFETCH(QString, source);
    QFETCH(int, frames);
    QFETCH(QString, format);
    QFETCH(bool, lowest);

    const bool noisy = clipName.startsWith(QLatin1String("noise"));
    const QString original =
        clip(clipName + (noisy ? ".nut" : ".mkv"), source, frames,
             noisy || clipName == QLatin1String("333x187") ? "ffv1" : "libx264");
    QVERIFY(!original.isEmpty());
    const VideoCommand command = videoCommand(format, lowest);
    const QString folder = freshFolder();
    const QString output = folder + QStringLiteral("/clip.") + command.extension;

    // Stage two reads the intermediate file of stage one, made once per clip.
    QString stageTwoInput = original;
    if (command.arguments.contains(QLatin1String("SCRATCH"))) {
        if (!m_intermediates.contains(clipName)) {
            const QString scratch = freshFolder() + QStringLiteral("/tmp.mp4");
            QStringList arguments = QStringList{original} + StageOneIntermediate;
            arguments.replace(arguments.indexOf("SCRATCH"), scratch);
            const Run run = runTool("conv", arguments, folder);
            QVERIFY2(run.exitCode == 0, qPrintable(run.output));
            m_intermediates.insert(clipName, scratch);
        }
        stageTwoInput = m_intermediates.value(clipName);
    }
    QStringList arguments = command.arguments;
    for (QString &argument : arguments)
        argument = toolArgument(argument, stageTwoInput, output);
    const Run run = runTool(command.tool, arguments, folder);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output.right(2000)));

    const VideoInfo info = videoInfo(output);
    QCOMPARE(info.codec, command.codec);
    const Frames::Limits *limits = Frames::limitsOf(command.codec.toUtf8().constData());
    QVERIFY(limits);
    QVERIFY2(Frames::takes(*limits, info.size.width(), info.size.height()),
             qPrintable(QStringLiteral("%1x%2").arg(info.size.width()).arg(info.size.height())));

    // The size asked for: the -s size, or the picture the tool read.
    if (!m_videoInfo.contains(stageTwoInput))
        m_videoInfo.insert(stageTwoInput, videoInfo(stageTwoInput));
    const QSize read = m_videoInfo.value(stageTwoInput).size;
    const qsizetype s = arguments.indexOf(QLatin1String("-s"));
    const QSize wanted = s >= 0 ? sizeOf(arguments[s + 1]) : read;
    const Frames::Size fitted = Frames::fitted(*limits, wanted.width(), wanted.height());
    const QString note = QString::fromUtf8(ToolContract::NotePrefix) +
                         ToolContract::FrameScaledNote +
                         QStringLiteral("%1x%2 to %3x%4: ")
                             .arg(wanted.width())
                             .arg(wanted.height())
                             .arg(info.size.width())
                             .arg(info.size.height());
    if (noisy && command.codec == QLatin1String("rv10")) {
        // Too detailed for a packet: made smaller still, and said so.
        QVERIFY(info.size.width() <= fitted.width && info.size.height() <= fitted.height);
        if (info.size != QSize(fitted.width, fitted.height))
            QVERIFY2(run.output.contains(note), qPrintable(run.output));
    } else {
        QCOMPARE(info.size, QSize(fitted.width, fitted.height));
        const bool smaller = fitted.width < wanted.width() || fitted.height < wanted.height();
        QCOMPARE(run.output.contains(note), smaller);
        if (!smaller)
            QVERIFY2(!run.output.contains(QString::fromUtf8(ToolContract::NotePrefix) +
                                          ToolContract::FrameScaledNote),
                     qPrintable(run.output));
    }

    // The shape is kept, within what whole pixels and the encoder's units allow: the stored
    // picture's against the size asked for, and, without -s, the shape on screen against the
    // clip's (RealMedia stores no pixel shape, so -s there gives the shape of the -s size).
    const double units = double(limits->alignment);
    const double rounding = units / info.size.width() + units / info.size.height() + 0.002;
    const double stored = double(info.size.width()) / info.size.height();
    QVERIFY2(
        qAbs(stored / (double(wanted.width()) / wanted.height()) - 1) <= rounding,
        qPrintable(
            QStringLiteral("%1 for %2x%3").arg(stored).arg(wanted.width()).arg(wanted.height())));
    if (s < 0) {
        if (!m_videoInfo.contains(original))
            m_videoInfo.insert(original, videoInfo(original));
        const double shown = m_videoInfo.value(original).displayAspect();
        QVERIFY2(qAbs(info.displayAspect() / shown - 1) <= rounding,
                 qPrintable(QStringLiteral("%1 for %2").arg(info.displayAspect()).arg(shown)));
    }
    // MP2 has no 10.2 kbit/s: the nearest rate it always takes, and a word about it.
    if (lowest && command.codec == QLatin1String("mpeg2video")) {
        QVERIFY2(run.output.contains(QString::fromUtf8(ToolContract::NotePrefix) +
                                     ToolContract::Mp2BitrateNote +
                                     "10.2 kbit/s, it is written at 32 kbit/s\n"),
                 qPrintable(run.output));
        QCOMPARE(TestMedia::probe(output).audioBitrate, 32000);
    }
    const QString errors = TestMedia::decodeErrors(output);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.left(2000)));
}

void TestTools::fails_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("inputName");
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<QString>("reason");

    QTest::newRow("text renamed .avi") << "conv" << StageOneMpeg4 << "text.avi"
                                       << "clip.mp4"
                                       << "Invalid data";
    QTest::newRow("missing input") << "coder" << Mp3 << "nothing.avi"
                                   << "clip.mp3"
                                   << "not found";
    QTest::newRow("zero-byte input") << "coder2" << mobile("176x144") << "empty.avi"
                                     << "clip.3gp"
                                     << "empty";
    QStringList badPreset = StageOneMpeg4;
    badPreset.replace(badPreset.indexOf("preset=320"), "preset=loud");
    QTest::newRow("preset=loud") << "conv" << badPreset << "stereo.mp4"
                                 << "clip.mp4"
                                 << "preset=loud";
    QStringList hugePreset = StageOneMpeg4;
    hugePreset.replace(hugePreset.indexOf("preset=320"), "preset=320.5");
    QTest::newRow("preset=320.5") << "conv" << hugePreset << "stereo.mp4"
                                  << "clip.mp4"
                                  << "preset=320.5";
    // Found by fuzz_coder: these were taken as bitrates and reached ffmpeg as garbage.
    QStringList infiniteRate = Mp3;
    infiniteRate.replace(infiniteRate.indexOf("320k"), "inf");
    QTest::newRow("-ab inf") << "coder" << infiniteRate << "stereo.mp4"
                             << "clip.mp3"
                             << "-ab inf";
    QStringList hugeRate = RealFixed;
    hugeRate.replace(hugeRate.indexOf("1200k"), "1e300k");
    QTest::newRow("-b 1e300k") << "coder" << hugeRate << "stereo.mp4"
                               << "clip.rmvb"
                               << "-b 1e300k";
    QTest::newRow("audio only for MPG") << "conv" << StageOneMpeg2 << "audio.wav"
                                        << "clip.mpg"
                                        << "no video";
    QTest::newRow("audio only for MOV") << "coder" << MovFixed << "audio.wav"
                                        << "clip.mov"
                                        << "no video";
    QTest::newRow("audio only for 3GP") << "coder2" << mobile("176x144") << "audio.wav"
                                        << "clip.3gp"
                                        << "no video";
    QTest::newRow("audio only for RMVB") << "coder" << RealFixed << "audio.wav"
                                         << "clip.rmvb"
                                         << "no video";
    QTest::newRow("video only for MP3") << "coder" << Mp3 << "silent.mp4"
                                        << "clip.mp3"
                                        << "no audio";
    QStringList noChannels = Mp3;
    noChannels.replace(noChannels.indexOf("2"), "0");
    QTest::newRow("zero channels") << "coder" << noChannels << "stereo.mp4"
                                   << "clip.mp3"
                                   << "-ac 0";
    QStringList unknownOption = Mp3;
    unknownOption.replace(unknownOption.indexOf("-vn"), "-vx");
    QTest::newRow("unknown option") << "coder" << unknownOption << "stereo.mp4"
                                    << "clip.mp3"
                                    << "-vx";
    QStringList badContainer = StageOneMpeg4;
    badContainer.replace(badContainer.indexOf("avi"), "wmv");
    QTest::newRow("unknown -of") << "conv" << badContainer << "stereo.mp4"
                                 << "clip.mp4"
                                 << "-of wmv";
    QTest::newRow("audio only for H264") << "coder" << H264 << "audio.wav"
                                         << "clip.mp4"
                                         << "no video";
    QTest::newRow("video only for M4A") << "coder" << M4A << "silent.mp4"
                                        << "clip.m4a"
                                        << "no audio";
    QTest::newRow("-r fast") << "coder"
                             << modern("libsvtav1", "libopus", {"-b", "800k", "-r", "fast"})
                             << "stereo.mp4"
                             << "clip.webm"
                             << "-r fast";
    QStringList badRate = mobile("176x144");
    badRate.replace(badRate.indexOf("12.2k"), "12k");
    QTest::newRow("AMR bitrate") << "coder2" << badRate << "stereo.mp4"
                                 << "clip.3gp"
                                 << "12.2k";
}

void TestTools::fails()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, inputName);
    QFETCH(QString, outputName);
    QFETCH(QString, reason);

    const QString folder = freshFolder();
    const QString output = folder + QLatin1Char('/') + outputName;
    const QString source = input(inputName);
    for (const char *placeholder : {"SCRATCH", "IN"})
        if (arguments.contains(placeholder))
            arguments.replace(arguments.indexOf(placeholder), source);
    arguments.replace(arguments.indexOf("OUT"), output);
    if (tool == QLatin1String("conv"))
        arguments.prepend(source);

    const Run run = runTool(tool, arguments, folder);
    QVERIFY2(run.exitCode > 0, qPrintable(run.output));
    const QStringList lines = run.output.split(QRegularExpression("[\r\n]"), Qt::SkipEmptyParts);
    QVERIFY2(!lines.isEmpty() && lines.last().startsWith(QLatin1String("Error: ")),
             qPrintable(run.output));
    QVERIFY2(lines.last().contains(reason), qPrintable(lines.last()));
    QVERIFY(
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    // A failed conv must not show a percentage the progress reader could take.
    if (tool == QLatin1String("conv")) {
        QChar spinner('-');
        QVERIFY(!ProgressParser::parseStageOne(run.output, spinner));
    }
}

void TestTools::failsWhenTheDiskIsFull_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("outputName");
    QTest::newRow("conv MPEG4") << "conv" << QStringList{"IN"} + StageOneMpeg4 << "clip.mp4";
    QTest::newRow("coder MP3") << "coder" << Mp3 << "clip.mp3";
    QTest::newRow("coder RMVB") << "coder" << RealFixed << "clip.rmvb";
    QTest::newRow("coder2 3GP") << "coder2" << mobile("176x144") << "clip.3gp";
}

void TestTools::failsWhenTheDiskIsFull()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, outputName);
    const QString folder = freshFolder();
    for (const char *placeholder : {"SCRATCH", "IN"})
        if (arguments.contains(placeholder))
            arguments.replace(arguments.indexOf(placeholder), input("stereo.mp4"));
    arguments.replace(arguments.indexOf("OUT"), folder + QLatin1Char('/') + outputName);

    const Run run = runTool(tool, arguments, folder, 20000);
    QVERIFY2(run.exitCode > 0, qPrintable(run.output));
    QVERIFY2(run.output.contains(QLatin1String("Error: ")), qPrintable(run.output));
    QVERIFY2(run.output.contains(QLatin1String("File too large")), qPrintable(run.output));
    QVERIFY(
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

// The file written looked short, and the tool measures it with ffprobe; a stop that comes
// then still stops the tool, and the output is not kept.
void TestTools::stopWhileMeasuringTheOutput()
{
    const QString cut = input("cut.mp4");
    if (!QFile::exists(cut))
        QCOMPARE(TestMedia::makeCutShort(cut, QSize(160, 120), 5, 0.4), QString());
    const QString folder = freshFolder();
    const QString mark = folder + QStringLiteral("/.measuring");
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", standInFfmpeg("touch \"$MARK\"; exec sleep 30\n", "ffprobe") +
                                   QLatin1Char(':') + environment.value("PATH"));
    environment.insert("MARK", mark);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments = Mp3;
    arguments.replace(arguments.indexOf("IN"), cut);
    arguments.replace(arguments.indexOf("OUT"), folder + QStringLiteral("/clip.mp3"));
    process.start(TestMedia::toolPath("coder"), arguments);
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(mark), 30000);
    QFile::remove(mark);
    QCOMPARE(kill(pid_t(process.processId()), SIGTERM), 0);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitCode(), 128 + SIGTERM);
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

QString TestTools::made(const QString &name, const QStringList &ffmpegArguments)
{
    const QString path = input(name);
    if (QFile::exists(path))
        return path;
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList{"-nostdin", "-v", "error"} + ffmpegArguments +
                               QStringList{"file:" + path});
    if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitCode() != 0) {
        qWarning() << ffmpeg.readAllStandardError();
        return QString();
    }
    return path;
}

void TestTools::awkwardInputs_data()
{
    QTest::addColumn<QString>("inputName");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("cutShort");

    for (const char *format : {"MPG", "MPEG4", "H264", "H265", "AV1"}) {
        QTest::addRow("cover picture %s", format) << "cover.mp3" << format << false;
        QTest::addRow("one frame %s", format) << "oneframe.mp4" << format << false;
        QTest::addRow("5 fps %s", format) << "5fps.mp4" << format << false;
    }
    for (const char *format : {"MPG", "H264", "AV1"})
        QTest::addRow("300 fps %s", format) << "300fps.mp4" << format << false;
    for (const char *format : {"MP3", "M4A"}) {
        QTest::addRow("sound ends first %s", format) << "soundends.mp4" << format << false;
        QTest::addRow("cut short %s", format) << "cut.mp4" << format << true;
    }
    QTest::newRow("cut short H264") << "cut.mp4"
                                    << "H264" << true;
    QTest::newRow("Flash movie H264") << "movie.swf"
                                      << "H264" << false;
}

// Inputs an ordinary collection holds: a song with its cover picture, a single frame, few
// frames a second, slow motion, sound that ends before the picture, an old Flash movie. Each
// converts, and none is called shorter than it is; a file cut short still is.
void TestTools::awkwardInputs()
{
    QFETCH(QString, inputName);
    QFETCH(QString, format);
    QFETCH(bool, cutShort);

    const QStringList sine = {"-f", "lavfi", "-i", "sine=duration=3"};
    const auto video = [](const char *rate, const char *seconds) {
        return QStringList{"-f", "lavfi", "-i",
                           QStringLiteral("testsrc2=size=160x120:rate=%1:duration=%2")
                               .arg(QLatin1String(rate), QLatin1String(seconds))};
    };
    const QHash<QString, QStringList> sources = {
        {"cover.mp3",
         sine + QStringList{"-f", "lavfi", "-i", "color=red:size=300x300:duration=0.04", "-map",
                            "0", "-map", "1", "-c:v", "mjpeg", "-disposition:v", "attached_pic"}},
        {"oneframe.mp4", video("25", "0.04") + QStringList{"-c:v", "libx264"}},
        {"movie.swf", video("25", "1") + QStringList{"-c:v", "flv1"}},
        {"movie.swf", video("25", "1") + QStringList{"-c:v", "flv1"}},
        {"5fps.mp4", video("5", "3") + QStringList{"-c:v", "libx264", "-bf", "3"}},
        {"300fps.mp4", video("300", "1") + QStringList{"-c:v", "libx264", "-preset", "ultrafast"}},
        {"soundends.mp4",
         video("25", "3") + sine + QStringList{"-t", "3", "-af", "atrim=end=1", "-c:v", "libx264"}},
    };
    QString path;
    if (inputName == QLatin1String("cut.mp4")) {
        path = input(inputName);
        if (!QFile::exists(path))
            QCOMPARE(TestMedia::makeCutShort(path, QSize(160, 120), 5, 0.4), QString());
    } else {
        path = made(inputName, sources.value(inputName));
    }
    QVERIFY(!path.isEmpty());

    VideoCommand command = videoCommand(format, false);
    if (format == QLatin1String("MP3"))
        command = {"coder", Mp3, "mp3", {}};
    else if (format == QLatin1String("M4A"))
        command = {"coder", M4A, "m4a", {}};
    QVERIFY(!command.tool.isEmpty());
    const QString folder = freshFolder();
    const QString output = folder + QStringLiteral("/clip.") + command.extension;
    QStringList arguments = command.arguments;
    for (QString &argument : arguments)
        argument = toolArgument(argument, path, output);
    const Run run = runTool(command.tool, arguments, folder);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output.right(2000)));

    const QString note =
        QString::fromUtf8(ToolContract::NotePrefix) + ToolContract::ShortOutputNote;
    QVERIFY2(run.output.contains(note) == cutShort, qPrintable(run.output));
    if (!command.codec.isEmpty())
        QCOMPARE(videoInfo(output).codec, command.codec);
    const QString errors = TestMedia::decodeErrors(output);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.left(2000)));
}

void TestTools::refusesPlaylistsAndLists_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QString>("outputName");

    // Each names a real clip beside it (or a server of the test's own); followed, it would
    // convert, or make a request.
    const QByteArray hls = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n"
                           "#EXT-X-MEDIA-SEQUENCE:0\n#EXTINF:1.0,\nSEGMENT\n#EXT-X-ENDLIST\n";
    const QByteArray concat = "ffconcat version 1.0\nfile seg.ts\n";
    const QByteArray remote = QByteArray(hls).replace("SEGMENT", "http://127.0.0.1:PORT/x.ts");
    const QStringList mpeg4 = QStringList{"IN"} + StageOneMpeg4;
    for (const auto &[tool, arguments, output] :
         {std::tuple{QStringLiteral("conv"), mpeg4, QStringLiteral("clip.mp4")},
          std::tuple{QStringLiteral("coder"), Mp3, QStringLiteral("clip.mp3")},
          std::tuple{QStringLiteral("coder"), RealFixed, QStringLiteral("clip.rmvb")},
          std::tuple{QStringLiteral("coder2"), mobile("176x144"), QStringLiteral("clip.3gp")}}) {
        const QString name = tool + QLatin1Char(' ') + output.section(QLatin1Char('.'), 1);
        QTest::addRow("%s, HLS playlist", qPrintable(name)) << tool << arguments << hls << output;
        QTest::addRow("%s, ffconcat list", qPrintable(name))
            << tool << arguments << concat << output;
        QTest::addRow("%s, playlist naming a server", qPrintable(name))
            << tool << arguments << remote << output;
    }
}

// A playlist or list file named like a video must fail as what it is, and open nothing it
// names: neither the clip beside it nor an address on the network.
void TestTools::refusesPlaylistsAndLists()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, list);
    QFETCH(QString, outputName);

    const int server = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    QVERIFY(server >= 0);
    const auto closeServer = qScopeGuard([server] { close(server); });
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QVERIFY(bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
    QVERIFY(listen(server, 4) == 0);
    QVERIFY(getsockname(server, reinterpret_cast<sockaddr *>(&address), &length) == 0);

    const QString folder = freshFolder();
    const QString segment = folder + QStringLiteral("/seg.ts");
    QVERIFY(QFile::copy(input("segment.ts"), segment));
    const QString holiday = folder + QStringLiteral("/holiday.mp4");
    QFile file(holiday);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(list.replace("SEGMENT", segment.toUtf8())
                   .replace("PORT", QByteArray::number(ntohs(address.sin_port))));
    file.close();
    const QString output = folder + QLatin1Char('/') + outputName;
    for (QString &argument : arguments)
        argument = toolArgument(argument, holiday, output);

    const Run run = runTool(tool, arguments, folder);
    QCOMPARE(run.exitCode, ToolContract::ExitFailed);
    const QStringList lines = run.output.split(QRegularExpression("[\r\n]"), Qt::SkipEmptyParts);
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.last(), QString::fromUtf8(ToolContract::ErrorPrefix) +
                               ToolContract::Error::NotMediaFile + holiday);
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{"holiday.mp4", "seg.ts"}));
    pollfd waiting = {server, POLLIN, 0};
    QVERIFY2(poll(&waiting, 1, 0) == 0, "the tool connected to the address in the playlist");
}

void TestTools::nonUtf8Names_data()
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
void TestTools::nonUtf8Names()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, outputName);
    QFETCH(QString, videoCodec);
    QFETCH(QString, audioCodec);

    const QString folder = freshFolder();
    const QByteArray gbkName = "\xc6\xb5\xca\xd3.mp4"; // 视频.mp4 in GBK
    const QByteArray source = QFile::encodeName(folder) + '/' + gbkName;
    {
        QFile original(input("stereo.mp4"));
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

    const Run run = runToolWithBytes(tool, bytes, folder);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    const TestMedia::Info info = TestMedia::probe(folder + QLatin1Char('/') + outputName);
    QCOMPARE(info.videoCodec, videoCodec);
    QCOMPARE(info.audioCodec, audioCodec);
    QVERIFY(qAbs(info.duration - m_inputSeconds.value("stereo.mp4")) <= 0.2);
}

void TestTools::oddNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("blanks") << "my clip  2.mp4";
    QTest::newRow("double quotes") << "say \"hi\".mp4";
    QTest::newRow("Chinese") << "视频 文件.mp4";
    QTest::newRow("leading dash") << "-y.mp4";
    QTest::newRow("parentheses") << "clip(2024).mp4";
}

// Names go to the tools relative to the working folder, so a leading dash really leads.
void TestTools::oddNames()
{
    QFETCH(QString, name);
    const QString folder = freshFolder();
    QVERIFY(QFile::copy(input("silent.mp4"), folder + QLatin1Char('/') + name));
    const QString converted = QStringLiteral("-out ") + name.chopped(4) + QStringLiteral(".avi");
    const QString scratch = QStringLiteral("-tmp ") + name;
    const QString final = QStringLiteral("-final ") + name.chopped(4) + QStringLiteral(".3gp");

    QStringList stageOne = StageOneMpeg4;
    stageOne.replace(stageOne.indexOf("OUT"), converted);
    Run run = runTool("conv", QStringList{name} + stageOne, folder);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    QCOMPARE(shownProgress(run.output, true).last(), 100.0);
    QCOMPARE(TestMedia::probe(folder + QLatin1Char('/') + converted).videoCodec,
             QStringLiteral("mpeg4"));

    run = runTool("conv",
                  QStringList{name} + StageOneIntermediate.mid(0, StageOneIntermediate.size() - 1) +
                      QStringList{scratch},
                  folder);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    QStringList stageTwo = mobile("176x144");
    stageTwo.replace(stageTwo.indexOf("SCRATCH"), scratch);
    stageTwo.replace(stageTwo.indexOf("OUT"), final);
    run = runTool("coder2", stageTwo, folder);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    QCOMPARE(TestMedia::probe(folder + QLatin1Char('/') + final).size, QSize(176, 144));

    QStringList entries =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    entries.sort();
    QStringList expected = {name, converted, scratch, final};
    expected.sort();
    QCOMPARE(entries, expected);
}

static QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> children;
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == pid)
            children.append(entry.toLongLong());
    }
    return children;
}

void TestTools::stopSignalEndsEncoderAndRemovesOutput_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<int>("signal");
    QTest::newRow("conv, SIGTERM")
        << "conv" << QStringList{"IN"} + StageOneMpeg2 << "clip.mpg" << int(SIGTERM);
    QTest::newRow("conv, SIGINT") << "conv" << QStringList{"IN"} + StageOneMpeg4 << "clip.mp4"
                                  << int(SIGINT);
    QTest::newRow("coder, SIGTERM") << "coder" << RealFixed << "clip.rmvb" << int(SIGTERM);
    QTest::newRow("coder2, SIGINT") << "coder2" << mobile("320x240") << "clip.3gp" << int(SIGINT);
    QTest::newRow("coder H265, SIGTERM") << "coder" << H265 << "clip.mp4" << int(SIGTERM);
}

void TestTools::stopSignalEndsEncoderAndRemovesOutput()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, outputName);
    QFETCH(int, signal);

    const QString folder = freshFolder();
    const QString temporary = freshFolder();
    for (const char *placeholder : {"SCRATCH", "IN"})
        if (arguments.contains(placeholder))
            arguments.replace(arguments.indexOf(placeholder), input("long.mp4"));
    arguments.replace(arguments.indexOf("OUT"), folder + QLatin1Char('/') + outputName);

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", temporary);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(folder);
    process.start(TestMedia::toolPath(tool), arguments);
    QVERIFY(process.waitForStarted());

    // Wait until the encoder writes its partial file, then stop the tool as the runner does.
    QElapsedTimer timer;
    timer.start();
    QList<qint64> encoders;
    while (timer.elapsed() < 30000 && encoders.isEmpty() && process.state() == QProcess::Running) {
        if (!QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty())
            encoders = childrenOf(process.processId());
        QThread::msleep(20);
    }
    QVERIFY2(!encoders.isEmpty(), "no encoder child seen");
    QCOMPARE(process.state(), QProcess::Running);
    QCOMPARE(kill(pid_t(process.processId()), signal), 0);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 128 + signal);
    for (qint64 pid : encoders)
        QVERIFY2(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)), "encoder still running");
    QVERIFY(
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    QVERIFY(QDir(temporary)
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                .isEmpty());
}

void TestTools::killedToolTakesItsEncoderAlong_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("outputName");
    // A real ffmpeg also ends when it next writes into the pipe of its dead tool; a silent
    // encoder (busy on a slow frame, or coder2's AMR decoder) writes nothing that could fail.
    QTest::addColumn<bool>("silentEncoder");
    const QStringList mpg = QStringList{"IN"} + StageOneMpeg2;
    QTest::newRow("conv") << "conv" << mpg << "clip.mpg" << false;
    QTest::newRow("coder") << "coder" << RealFixed << "clip.rmvb" << false;
    QTest::newRow("coder2") << "coder2" << mobile("320x240") << "clip.3gp" << false;
    QTest::newRow("conv, silent encoder") << "conv" << mpg << "clip.mpg" << true;
    QTest::newRow("coder, silent encoder") << "coder" << RealFixed << "clip.rmvb" << true;
    QTest::newRow("coder2, silent AMR decoder")
        << "coder2" << mobile("320x240") << "clip.3gp" << true;
}

// SIGKILL cannot be caught: the tool cannot stop its ffmpeg or remove anything. The kernel
// must end the encoder with it, and nothing of the run may be left in $TMPDIR.
void TestTools::killedToolTakesItsEncoderAlong()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, outputName);
    QFETCH(bool, silentEncoder);
    const bool inAmrPass = silentEncoder && tool == QLatin1String("coder2");

    // Every ffmpeg of this run names a file in this folder, so /proc shows which are left.
    const QString folder =
        freshFolder() + QStringLiteral("/sigkill-%1").arg(QTest::currentDataTag());
    QVERIFY(QDir().mkpath(folder));
    const QString source = folder + QStringLiteral("/long.mp4");
    QVERIFY(QFile::link(input("long.mp4"), source));
    const QString temporary = freshFolder();
    for (QString &argument : arguments)
        argument = toolArgument(argument, source, folder + QLatin1Char('/') + outputName);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", temporary);
    if (silentEncoder)
        environment.insert("PATH", standInFfmpeg("out=${@: -1}; out=${out#file:}\n"
                                                 "[ \"$out\" = pipe:1 ] || : > \"$out\"\n"
                                                 "while :; do sleep 0.1; done\n") +
                                       QLatin1Char(':') + environment.value("PATH"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(TestMedia::toolPath(tool), arguments);
    QVERIFY(process.waitForStarted());

    // Killed once the encoder is at work: the AMR decoder, or the ffmpeg writing the output.
    const auto childAtWork = [&] {
        const QList<qint64> children = childrenOf(process.processId());
        if (children.size() != 1)
            return false;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(children.first()));
        // The AMR decoder writes to its standard output, the last argument.
        const bool decoder = cmdline.open(QIODevice::ReadOnly) &&
                             cmdline.readAll().endsWith(QByteArray("\0pipe:1\0", 8));
        const bool writing =
            !QDir(folder)
                 .entryList({QString::fromUtf8(ToolContract::TemporaryPrefix) + '*'},
                            QDir::Files | QDir::Hidden)
                 .isEmpty();
        return inAmrPass ? decoder : !decoder && writing;
    };
    QTRY_VERIFY_WITH_TIMEOUT(childAtWork(), 30000);
    const auto encoders = [&] { return processesMentioning({folder}); };
    // Should the encoder outlive the test, it must not go on running after it.
    const auto leftovers = qScopeGuard([&] {
        for (const QString &line : encoders())
            kill(pid_t(line.section(QLatin1Char(' '), 0, 0).toLongLong()), SIGKILL);
    });
    QCOMPARE(kill(pid_t(process.processId()), SIGKILL), 0);
    QVERIFY(process.waitForFinished(5000));
    QElapsedTimer timer;
    timer.start();
    QTRY_VERIFY2_WITH_TIMEOUT(encoders().isEmpty(), qPrintable(encoders().join('\n')), 3000);
    qInfo("encoder gone %lld ms after the tool", timer.elapsed());
    QCOMPARE(QDir(temporary).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

void TestTools::progressWhileTheEncoderIsSilent_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<bool>("working"); // the silent encoder uses the processor
    QTest::newRow("conv") << "conv" << QStringList{"IN"} + StageOneMpeg4 << "clip.mp4" << true;
    QTest::newRow("coder") << "coder" << RealFixed << "clip.rmvb" << true;
    QTest::newRow("coder2, AMR pass") << "coder2" << mobile("176x144") << "clip.3gp" << true;
    QTest::newRow("conv, encoder stuck")
        << "conv" << QStringList{"IN"} + StageOneMpeg4 << "clip.mp4" << false;
}

// The converter ends a tool that prints nothing for ten minutes. A stand-in for ffmpeg names
// the input's length and then works for a few seconds without a word (a slow first frame, or
// coder2's AMR decoder): the tool still shows its progress at least every two seconds. One
// that is stuck (no processor time) gets no such help, so the converter can still end it.
void TestTools::progressWhileTheEncoderIsSilent()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, outputName);
    QFETCH(bool, working);

    const QByteArray wait =
        working ? "end=$((SECONDS + 5)); while [ $SECONDS -lt $end ]; do :; done\n" : "sleep 5\n";
    const QString standIn = standInFfmpeg(
        "out=${@: -1}; out=${out#file:}\n"
        "printf \"Input #0, avi, from 'x':\\n  Duration: 00:00:10.00, start: 0.0\\n\" >&2\n" +
        wait + "[ \"$out\" = pipe:1 ] && exit 1\nprintf x > \"$out\"\n");
    const QString folder = freshFolder();
    for (QString &argument : arguments)
        argument = toolArgument(argument, input("stereo.mp4"), folder + '/' + outputName);

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", standIn + QLatin1Char(':') + environment.value("PATH"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer clock;
    clock.start();
    process.start(TestMedia::toolPath(tool), arguments);
    QVERIFY(process.waitForStarted());
    // When each progress line arrived, from the start to the end of the run.
    QList<qint64> times = {0};
    QByteArray printed;
    while (process.state() != QProcess::NotRunning && clock.elapsed() < 30000) {
        process.waitForReadyRead(50);
        const QByteArray chunk = process.readAllStandardOutput();
        printed += chunk;
        for (char c : chunk)
            if (c == '\r' || c == '\n')
                times.append(clock.elapsed());
    }
    QCOMPARE(process.state(), QProcess::NotRunning);
    printed += process.readAllStandardOutput();
    times.append(clock.elapsed());
    qint64 longest = 0;
    for (int i = 1; i < times.size(); ++i)
        longest = qMax(longest, times[i] - times[i - 1]);
    QVERIFY2(clock.elapsed() >= 3500, "the stand-in did not hold the run");
    qInfo("longest time without a line: %lld ms of %lld ms", longest, clock.elapsed());
    if (working)
        QVERIFY2(longest <= 2000, qPrintable(QStringLiteral("%1 ms without a line: %2")
                                                 .arg(longest)
                                                 .arg(QString::fromUtf8(printed))));
    else
        QVERIFY2(longest >= 3000, qPrintable(QStringLiteral("%1 ms without a line: %2")
                                                 .arg(longest)
                                                 .arg(QString::fromUtf8(printed))));
    // The repeated lines are progress the converter reads, and never more than done.
    const QString text = QString::fromUtf8(printed);
    const QList<double> progress = shownProgress(text, tool == QLatin1String("conv"));
    if (working)
        QVERIFY2(progress.size() >= 2 && progress.first() == 0.0, qPrintable(text));
}

void TestTools::softwareWhenTheChipCannot_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("device"); // VIDMORPH_VAAPI_DEVICE; "FILE": a plain file
    QTest::addColumn<QString>("note");
    QTest::addColumn<QByteArray>("signature"); // what the software encoder leaves in the stream
    const QString none = m_dir.filePath("no-render-node");
    QTest::newRow("no render node, H.264")
        << H264 << none << "libx264: no VAAPI render device at " + none
        << QByteArray("x264 - core");
    QTest::newRow("a plain file for a render node, H.265")
        << H265 << "FILE"
        << "libx265: hevc_vaapi does not work on " + m_dir.filePath("plain-file")
        << QByteArray("x265 (build");
    QTest::newRow("hardware switched off, H.264")
        << H264 << ""
        << "libx264: no VAAPI render device" << QByteArray("x264 - core");
}

// Without a graphics chip that encodes, H.264 and H.265 are encoded in software, and the
// tool's output (which the batch log keeps) says so and why.
void TestTools::softwareWhenTheChipCannot()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, device);
    QFETCH(QString, note);
    QFETCH(QByteArray, signature);
    if (device == QLatin1String("FILE")) {
        device = m_dir.filePath("plain-file");
        QFile plain(device);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("not a device\n");
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VIDMORPH_VAAPI_DEVICE", device);
    const QString folder = freshFolder();
    const QString output = folder + QStringLiteral("/clip.mp4");
    for (QString &argument : arguments)
        argument = toolArgument(argument, input("stereo.mp4"), output);

    const Run run = runTool("coder", arguments, folder, 0, environment);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    const QString line = QString::fromUtf8(ToolContract::NotePrefix) +
                         ToolContract::SoftwareEncoderNote + note + QLatin1Char('\n');
    QVERIFY2(run.output.contains(line), qPrintable(run.output));
    QVERIFY(!run.output.contains(QString::fromUtf8(ToolContract::HardwareEncoderNote)));
    QFile file(output);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY2(file.readAll().contains(signature), signature.constData());
    QCOMPARE(TestMedia::decodeErrors(output), QString());
}

void TestTools::encoderSettings_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("threads");     // VIDMORPH_ENCODER_THREADS, empty: not set
    QTest::addColumn<QString>("chip");        // "none", "works", "refuses the file"
    QTest::addColumn<QString>("note");        // the encoder's note, empty for none
    QTest::addColumn<QStringList>("present"); // in the encoding's ffmpeg command line
    QTest::addColumn<QStringList>("absent");
    QTest::newRow("H.264 in software")
        << H264 << ""
        << "none"
        << "software video encoder libx264: no VAAPI render device at DEV"
        << QStringList{"-c:v libx264 -preset veryfast -b:v 1500000", "-pix_fmt yuv420p",
                       "-movflags +faststart"}
        << QStringList{"-threads", "vaapi"};
    QTest::newRow("H.264 on the chip")
        << H264 << ""
        << "works"
        << "hardware video encoder h264_vaapi on DEV"
        << QStringList{"-vaapi_device DEV", "-c:v h264_vaapi -b:v 1500000",
                       ",format=nv12,hwupload -movflags +faststart"}
        << QStringList{"-pix_fmt", "libx264"};
    QTest::newRow("H.265 on the chip, tagged hvc1")
        << H265 << ""
        << "works"
        << "hardware video encoder hevc_vaapi on DEV"
        << QStringList{"-c:v hevc_vaapi -tag:v hvc1", "format=nv12,hwupload"}
        << QStringList{"-pix_fmt", "libx265"};
    QTest::newRow("a chip that refuses the file: software after all")
        << H264 << ""
        << "refuses the file"
        << "software video encoder libx264: h264_vaapi failed on this input, "
        << QStringList{"-c:v libx264 -preset veryfast", "-pix_fmt yuv420p"} << QStringList{"vaapi"};
    QTest::newRow("H.264, two threads")
        << H264 << "2"
        << "none"
        << "software video encoder libx264"
        << QStringList{"-filter_threads 2 -threads 2 -protocol_whitelist",
                       "-c:v libx264 -preset veryfast -threads 2"}
        << QStringList{};
    QTest::newRow("H.265, one thread")
        << H265 << "1"
        << "none"
        << "software video encoder libx265"
        << QStringList{"-c:v libx265 -preset veryfast -tag:v hvc1 -x265-params "
                       "log-level=error:pools=1"}
        << QStringList{"-threads 1 -b:v"};
    QTest::newRow("H.265, threads left to x265")
        << H265 << ""
        << "none"
        << "software video encoder libx265" << QStringList{"-x265-params log-level=error -b:v"}
        << QStringList{"pools", "-threads"};
    QTest::newRow("AV1, one thread: no chip to ask")
        << AV1 << "1"
        << "works"
        << "" << QStringList{"-c:v libsvtav1 -preset 10 -svtav1-params lp=1", "-c:a libopus"}
        << QStringList{"vaapi", "-movflags"};
    QTest::newRow("not a number of threads: the encoder's choice")
        << H264 << "many"
        << "none"
        << "software video encoder libx264" << QStringList{"-c:v libx264"}
        << QStringList{"-threads"};
}

// The settings each encoder gets, read from the command line of a stand-in for ffmpeg: the
// graphics chip when its one-frame test passes, software when it does not or when it refuses
// the file itself, and the thread limit of VIDMORPH_ENCODER_THREADS.
void TestTools::encoderSettings()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, threads);
    QFETCH(QString, chip);
    QFETCH(QString, note);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);

    const QString folder = freshFolder();
    const QString log = folder + QStringLiteral("/ffmpeg.log");
    const QString standIn = standInFfmpeg(
        "printf '%s\\n' \"$*\" >> \"$STANDIN_LOG\"\n"
        "case \"$*\" in\n"
        "*lavfi*) [ \"$STANDIN_CHIP\" != none ]; exit ;;\n"
        "*_vaapi*) if [ \"$STANDIN_CHIP\" = 'refuses the file' ]; then\n"
        "    printf \"Input #0, avi, from 'x':\\nError while opening encoder\\n\" >&2; exit 1; fi "
        ";;\n"
        "esac\n"
        "printf \"Input #0, avi, from 'x':\\n  Duration: 00:00:02.00, start: 0.0\\n\" >&2\n"
        "out=${@: -1}; cat \"$STANDIN_MEDIA\" > \"${out#file:}\"\n");
    // A plain file stands for the render node: the chip is what the stand-in says it is.
    const QString device = folder + QStringLiteral("/renderD128");
    QFile node(device);
    QVERIFY(node.open(QIODevice::WriteOnly));
    node.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", standIn + QLatin1Char(':') + environment.value("PATH"));
    environment.insert("STANDIN_LOG", log);
    environment.insert("STANDIN_CHIP", chip);
    // What it writes must play: the tool checks.
    environment.insert("STANDIN_MEDIA", input("stereo.mp4"));
    environment.insert("VIDMORPH_VAAPI_DEVICE",
                       chip == QLatin1String("none") ? folder + "/none" : device);
    if (!threads.isEmpty())
        environment.insert("VIDMORPH_ENCODER_THREADS", threads);
    const QString output =
        folder + QStringLiteral("/clip.") + (arguments.contains("libsvtav1") ? "webm" : "mp4");
    for (QString &argument : arguments)
        argument = toolArgument(argument, input("stereo.mp4"), output);

    const Run run = runTool("coder", arguments, folder, 0, environment);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    note.replace("DEV", chip == QLatin1String("none") ? folder + "/none" : device);
    if (note.isEmpty())
        QVERIFY2(!run.output.contains("video encoder"), qPrintable(run.output));
    else
        QVERIFY2(run.output.contains(QString::fromUtf8(ToolContract::NotePrefix) + note),
                 qPrintable(run.output));
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList runs = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(!runs.isEmpty());
    // The chip's test comes first, and the file's encoding last.
    QCOMPARE(runs.first().contains("lavfi"), chip != QLatin1String("none") && !note.isEmpty());
    const QString encoding = runs.last();
    for (QString text : present) {
        text.replace("DEV", device);
        QVERIFY2(encoding.contains(text), qPrintable(text + QStringLiteral(" not in ") + encoding));
    }
    for (const QString &text : absent)
        QVERIFY2(!encoding.contains(text), qPrintable(text + QStringLiteral(" in ") + encoding));
}

QTEST_GUILESS_MAIN(TestTools)
#include "test_tools.moc"
