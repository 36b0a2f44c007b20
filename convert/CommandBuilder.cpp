#include "convert/CommandBuilder.h"

#include "convert/Formats.h"
#include "convert/PathFunctions.h"
#include "process/NativePath.h"

namespace CommandBuilder {

namespace {

const QString Conv = QStringLiteral("conv");
const QString Coder = QStringLiteral("coder");
const QString Coder2 = QStringLiteral("coder2");

CommandLine startTool(const QString &appFolder, const QString &tool)
{
    CommandLine line;
    line.addValue(appFolder).addLiteral(QStringLiteral("/data/") + tool + QLatin1Char(' '));
    return line;
}

// The one command of H264, H265, AV1, M4A and FLAC, in the form of MP3's: the video codec and
// bitrate, the size unless it is "原始大小", the frame rate unless it is "原始帧率", then the
// audio codec, sample rate, bitrate (not for FLAC) and channels.
CommandLine BuildModernCommand(const QString &appFolder, const QString &inputPath,
                               const QString &outputPath, const ParameterSet &p)
{
    CommandLine line;
    line.addValue(appFolder)
        .addLiteral(QStringLiteral("/data/coder -i "))
        .addQuoted(inputPath)
        .addLiteral(QStringLiteral(" -y"));
    const bool video =
        p.format == Formats::H264 || p.format == Formats::H265 || p.format == Formats::AV1;
    if (video) {
        const QString codec = p.format == Formats::H264   ? QStringLiteral("libx264")
                              : p.format == Formats::H265 ? QStringLiteral("libx265")
                                                          : QStringLiteral("libsvtav1");
        line.addLiteral(QStringLiteral(" -vcodec ") + codec + QStringLiteral(" -b "))
            .addValue(p.videoBitrate)
            .addLiteral(QStringLiteral("k"));
        if (p.frameSize != Formats::keepSourceSize())
            line.addLiteral(QStringLiteral(" -s ")).addValue(p.frameSize);
        if (p.frameRate != Formats::keepSourceFrameRate())
            line.addLiteral(QStringLiteral(" -r ")).addValue(p.frameRate);
    } else {
        line.addLiteral(QStringLiteral(" -vn"));
    }
    const QString audioCodec = p.format == Formats::AV1    ? QStringLiteral("libopus")
                               : p.format == Formats::FLAC ? QStringLiteral("flac")
                                                           : QStringLiteral("aac");
    line.addLiteral(QStringLiteral(" -acodec ") + audioCodec + QStringLiteral(" -ar "))
        .addValue(p.sampleRate);
    // FLAC is lossless: its size follows the sound, and no bitrate can be asked of it.
    if (p.format != Formats::FLAC)
        line.addLiteral(QStringLiteral(" -ab "))
            .addValue(p.audioBitrate)
            .addLiteral(QStringLiteral("k"));
    return line.addLiteral(QStringLiteral(" -ac "))
        .addValue(QString::number(p.channelCount))
        .addLiteral(QStringLiteral(" "))
        .addQuoted(outputPath);
}

} // namespace

namespace {

// The folder, the base name shortened to fit, the suffix, a counter past each taken name.
QString outputPath(const QString &outputFolder, QString base, const QString &suffix,
                   const QString &extension, const std::function<bool(const QString &)> &taken)
{
    // A file name holds at most 255 bytes. The suffix, a counter and the tools' temporary
    // prefix must fit beside the base name, so a long (say Chinese) base name is shortened
    // rather than making the output impossible to create.
    const int room = MaxOutputNameBytes - int((suffix + extension).toUtf8().size());
    while (base.toUtf8().size() > room) {
        base.chop(1);
        if (!base.isEmpty() && base.back().isHighSurrogate())
            base.chop(1);
    }
    const QString stem = outputFolder + base + suffix;
    QString path = stem + extension;
    for (int counter = 2; taken && taken(path); ++counter)
        path = stem + QLatin1Char('-') + QString::number(counter) + extension;
    return path;
}

} // namespace

QString MakeOutputPath(const QString &outputFolder, const QString &inputPath,
                       const QString &extension, const QTime &now,
                       const std::function<bool(const QString &)> &taken)
{
    const QString stamp = QLatin1Char('-') + QString::number(now.hour()) +
                          QString::number(now.minute()) + QString::number(now.second());
    // An input name that is not UTF-8 gives an output name that is, as people read it.
    return outputPath(outputFolder, NativePath::readable(PathFunctions::GetBaseName(inputPath)),
                      stamp, extension, taken);
}

QString MakePlainOutputPath(const QString &outputFolder, const QString &inputPath,
                            const QString &extension,
                            const std::function<bool(const QString &)> &taken)
{
    const QString name = NativePath::readable(PathFunctions::GetFileName(inputPath));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return outputPath(outputFolder, dot > 0 ? name.left(dot) : name, QString(), extension, taken);
}

Command BuildStageOneCommand(const QString &appFolder, const QString &inputPath,
                             const QString &outputPath, const ParameterSet &p,
                             const QString &intermediateFile)
{
    Command command;
    command.toolName = Conv;
    switch (p.format) {
    case Formats::RMVB:
    case Formats::RM:
    case Formats::MOV:
    case Formats::MobileMP4:
    case Formats::ThreeGP:
        command.line =
            startTool(appFolder, Conv)
                .addQuoted(inputPath)
                .addLiteral(QStringLiteral(" -oac mp3lame -lameopts preset=320 -ovc lavc -lavcopts "
                                           "vcodec=mpeg4:vbitrate=1200 -of avi -o "))
                .addValue(intermediateFile);
        break;
    case Formats::MPG:
    case Formats::AVI:
        command.line =
            startTool(appFolder, Conv)
                .addQuoted(inputPath)
                .addLiteral(QStringLiteral(" -oac lavc -lavcopts acodec=mp2:abitrate="))
                .addValue(p.audioBitrate)
                .addLiteral(QStringLiteral(" -ovc lavc -lavcopts vcodec=mpeg2video:vbitrate="))
                .addValue(p.videoBitrate)
                .addLiteral(QStringLiteral(":vpass=1 -ofps "))
                .addValue(p.frameRate)
                .addLiteral(QStringLiteral(" -of lavf -lavfopts format=yuv4mpeg -o "))
                .addQuoted(outputPath);
        break;
    case Formats::MPEG4:
        command.line =
            startTool(appFolder, Conv)
                .addQuoted(inputPath)
                .addLiteral(QStringLiteral(" -oac mp3lame -lameopts preset="))
                .addValue(p.audioBitrate)
                .addLiteral(QStringLiteral(" -ovc lavc -lavcopts vcodec=mpeg4:vbitrate="))
                .addValue(p.videoBitrate)
                .addLiteral(QStringLiteral(" -of avi -o "))
                .addQuoted(outputPath);
        break;
    case Formats::MP3:
        command.toolName = Coder;
        command.runner = Runner::Ffmpeg;
        command.line = CommandLine()
                           .addValue(appFolder)
                           .addLiteral(QStringLiteral("/data/coder -i "))
                           .addQuoted(inputPath)
                           .addLiteral(QStringLiteral(" -y -vn -ar "))
                           .addValue(p.sampleRate)
                           .addLiteral(QStringLiteral(" -ab "))
                           .addValue(p.audioBitrate)
                           .addLiteral(QStringLiteral("k -ac "))
                           .addValue(QString::number(p.channelCount))
                           .addLiteral(QStringLiteral(" "))
                           .addQuoted(outputPath);
        break;
    case Formats::H264:
    case Formats::H265:
    case Formats::AV1:
    case Formats::M4A:
    case Formats::FLAC:
        command.toolName = Coder;
        command.runner = Runner::Ffmpeg;
        command.line = BuildModernCommand(appFolder, inputPath, outputPath, p);
        break;
    default:
        break; // no format selected: the runner reports the empty command
    }
    return command;
}

Command BuildStageTwoCommand(const QString &appFolder, const QString &outputPath,
                             const ParameterSet &p, const QString &intermediateFile)
{
    Command command;
    command.runner = Runner::Ffmpeg;
    const bool mobile = p.format == Formats::MobileMP4 || p.format == Formats::ThreeGP;
    command.toolName = mobile ? Coder2 : Coder;
    if (!Formats::isTwoStage(p.format))
        return command;

    CommandLine line;
    line.addValue(appFolder)
        .addLiteral(QStringLiteral("/data/") + command.toolName + QStringLiteral(" -i "))
        .addValue(intermediateFile);
    const bool keepSize = p.frameSize == Formats::keepSourceSize();
    if (p.format == Formats::RMVB || p.format == Formats::RM) {
        if (keepSize) {
            line.addLiteral(QStringLiteral(" -y -vcodec rv10 -b 1200k -f rm  -ab 128k -ac 2 "));
        } else {
            line.addLiteral(QStringLiteral(" -y -s "))
                .addValue(p.frameSize)
                .addLiteral(QStringLiteral(" -vcodec rv10 -b "))
                .addValue(p.videoBitrate)
                .addLiteral(QStringLiteral("k -f rm -ar "))
                .addValue(p.sampleRate)
                .addLiteral(QStringLiteral(" -ab "))
                .addValue(p.audioBitrate)
                .addLiteral(QStringLiteral("k -ac "))
                .addValue(QString::number(p.channelCount))
                .addLiteral(QStringLiteral(" "));
        }
    } else if (p.format == Formats::MOV) {
        if (keepSize)
            line.addLiteral(QStringLiteral(" -y -ac 2 -ar 48000 -ab 128k "));
        else
            line.addLiteral(QStringLiteral(" -y -s "))
                .addValue(p.frameSize)
                .addLiteral(QStringLiteral(" -ac 2 -ar 48000 -ab 128k "));
    } else {
        line.addLiteral(QStringLiteral(" -y -s "))
            .addValue(keepSize ? QStringLiteral("320x240") : p.frameSize)
            .addLiteral(QStringLiteral(" -vcodec mpeg4 -acodec amr_nb -ac 1 -ar 8000 -ab 12.2k "));
    }
    command.line = line.addQuoted(outputPath);
    return command;
}

} // namespace CommandBuilder
