#include "ToolCommands.h"

#include "convert/ProgressParser.h"

namespace ToolCommands {

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

QStringList modern(const QString &videoCodec, const QString &audioCodec, const QStringList &video,
                   const QStringList &audio)
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

QStringList mobile(const QString &size)
{
    return {"-i",     "SCRATCH", "-y", "-s",  size,   "-vcodec", "mpeg4", "-acodec",
            "amr_nb", "-ac",     "1",  "-ar", "8000", "-ab",     "12.2k", "OUT"};
}

bool isModern(const QStringList &arguments)
{
    return arguments.contains(QLatin1String("-acodec")) &&
           !arguments.contains(QLatin1String("amr_nb"));
}

int requestedAudioBitrate(const QStringList &arguments)
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

QList<FormatCommand> formats()
{
    const QStringList intermediate = QStringList{"IN"} + StageOneIntermediate;
    QStringList realSized = RealSized;
    realSized.replace(realSized.indexOf("640x480"), "640x360");
    return {
        {"RMVB", "rmvb", intermediate, "conv", RealFixed, "coder"},
        {"RM 640x360", "rm", intermediate, "conv", realSized, "coder"},
        {"MPG", "mpg", videoCommand("MPG").arguments, "conv", {}, {}},
        {"AVI", "avi", videoCommand("AVI").arguments, "conv", {}, {}},
        {"MPEG4", "mp4", videoCommand("MPEG4").arguments, "conv", {}, {}},
        {"MOV", "mov", intermediate, "conv", MovFixed, "coder"},
        {"MP4", "mp4", intermediate, "conv", mobile("320x240"), "coder2"},
        {"3GP", "3gp", intermediate, "conv", mobile("320x240"), "coder2"},
        {"MP3", "mp3", Mp3, "coder", {}, {}},
        {"H264", "mp4", H264, "coder", {}, {}},
        {"H265", "mp4", H265, "coder", {}, {}},
        {"AV1", "webm", AV1, "coder", {}, {}},
        {"M4A", "m4a", M4A, "coder", {}, {}},
        {"FLAC", "flac", Flac, "coder", {}, {}},
    };
}

FormatCommand format(const QString &name)
{
    for (const FormatCommand &command : formats())
        if (command.name == name)
            return command;
    return {};
}

QSize sizeOf(const QString &text)
{
    return QSize(text.section(QLatin1Char('x'), 0, 0).toInt(),
                 text.section(QLatin1Char('x'), 1, 1).toInt());
}

QList<double> shownProgress(const QString &output, bool stageOne, qint32 *durationRead)
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

} // namespace ToolCommands
