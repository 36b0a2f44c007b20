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

// The one command of a format coder writes in one run, in the form of MP3's: the video codec
// and its bitrate or quality level, the size unless it is "原始大小", the frame rate unless the
// format keeps the source's, then the audio codec, sample rate, bitrate (when the format reads one)
// and channels.
CommandLine BuildCoderCommand(const QString &appFolder, const QString &inputPath,
                              const QString &outputPath, const ParameterSet &p)
{
    const Formats::FormatInfo &row = Formats::info(p.format);
    CommandLine line;
    line.addValue(appFolder)
        .addLiteral(QStringLiteral("/data/coder -i "))
        .addQuoted(inputPath)
        .addLiteral(QStringLiteral(" -y"));
    if (row.videoCodec) {
        line.addLiteral(QStringLiteral(" -vcodec ") + QLatin1String(row.videoCodec));
        if (row.quality > 0 && p.videoBitrate == Formats::qualityItem())
            line.addLiteral(QStringLiteral(" -crf "))
                .addValue(QString::number(p.quality >= 0 ? p.quality : row.quality));
        else
            line.addLiteral(QStringLiteral(" -b "))
                .addValue(p.videoBitrate)
                .addLiteral(QStringLiteral("k"));
        if (p.frameSize != Formats::keepSourceSize())
            line.addLiteral(QStringLiteral(" -s ")).addValue(p.frameSize);
        if (!row.keepsFrameRate || p.frameRate != Formats::keepSourceFrameRate())
            line.addLiteral(QStringLiteral(" -r ")).addValue(p.frameRate);
    } else {
        line.addLiteral(QStringLiteral(" -vn"));
    }
    line.addLiteral(QStringLiteral(" -acodec ") + QLatin1String(row.audioCodec) +
                    QStringLiteral(" -ar "))
        .addValue(p.sampleRate);
    if (Formats::readsList(p.format, Formats::AudioBitrate, p.frameSize))
        line.addLiteral(QStringLiteral(" -ab "))
            .addValue(p.audioBitrate)
            .addLiteral(QStringLiteral("k"));
    return line.addLiteral(QStringLiteral(" -ac "))
        .addValue(QString::number(p.channelCount))
        .addLiteral(QStringLiteral(" "))
        .addQuoted(outputPath);
}

// The folder, the base name, the suffix and a counter past each taken name. A name the file
// system cannot hold would make the output impossible to create: only then is the base name
// shortened, by whole characters, and the suffix, counter and extension stay as they are.
QString outputPath(const QString &outputFolder, const QString &base, const QString &suffix,
                   const QString &extension, const std::function<bool(const QString &)> &taken)
{
    const auto named = [&](const QString &ending) {
        QString fitted = base;
        while (!fitted.isEmpty() && (fitted + ending).toUtf8().size() > MaxFileNameBytes) {
            fitted.chop(1);
            if (!fitted.isEmpty() && fitted.back().isHighSurrogate())
                fitted.chop(1);
        }
        return outputFolder + fitted + ending;
    };
    QString path = named(suffix + extension);
    for (int counter = 2; taken && taken(path); ++counter)
        path = named(suffix + QLatin1Char('-') + QString::number(counter) + extension);
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
    if (!Formats::isValid(p.format))
        return command; // no format selected: the runner reports the empty command
    switch (Formats::info(p.format).stageOne) {
    case Formats::StageOne::Intermediate:
        command.line =
            startTool(appFolder, Conv)
                .addQuoted(inputPath)
                .addLiteral(QStringLiteral(" -oac mp3lame -lameopts preset=320 -ovc lavc -lavcopts "
                                           "vcodec=mpeg4:vbitrate=1200 -of avi -o "))
                .addValue(intermediateFile);
        break;
    case Formats::StageOne::Mpeg2:
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
    case Formats::StageOne::Mpeg4:
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
    case Formats::StageOne::Mp3:
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
    case Formats::StageOne::Coder:
        command.toolName = Coder;
        command.runner = Runner::Ffmpeg;
        command.line = BuildCoderCommand(appFolder, inputPath, outputPath, p);
        break;
    }
    return command;
}

Command BuildStageTwoCommand(const QString &appFolder, const QString &outputPath,
                             const ParameterSet &p, const QString &intermediateFile)
{
    Command command;
    command.runner = Runner::Ffmpeg;
    const Formats::StageTwo stage =
        Formats::isValid(p.format) ? Formats::info(p.format).stageTwo : Formats::StageTwo::None;
    command.toolName = stage == Formats::StageTwo::Mobile ? Coder2 : Coder;
    if (stage == Formats::StageTwo::None)
        return command;

    CommandLine line;
    line.addValue(appFolder)
        .addLiteral(QStringLiteral("/data/") + command.toolName + QStringLiteral(" -i "))
        .addValue(intermediateFile);
    const bool keepSize = p.frameSize == Formats::keepSourceSize();
    switch (stage) {
    case Formats::StageTwo::RealMedia:
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
        break;
    case Formats::StageTwo::QuickTime:
        if (keepSize)
            line.addLiteral(QStringLiteral(" -y -ac 2 -ar 48000 -ab 128k "));
        else
            line.addLiteral(QStringLiteral(" -y -s "))
                .addValue(p.frameSize)
                .addLiteral(QStringLiteral(" -ac 2 -ar 48000 -ab 128k "));
        break;
    case Formats::StageTwo::Mobile:
        line.addLiteral(QStringLiteral(" -y -s "))
            .addValue(keepSize ? QStringLiteral("320x240") : p.frameSize)
            .addLiteral(QStringLiteral(" -vcodec mpeg4 -acodec amr_nb -ac 1 -ar 8000 -ab 12.2k "));
        break;
    case Formats::StageTwo::None:
        break;
    }
    command.line = line.addQuoted(outputPath);
    return command;
}

} // namespace CommandBuilder
