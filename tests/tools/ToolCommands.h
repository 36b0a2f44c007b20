#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

// The tools' command lines as the converter builds them, with placeholders: IN is the input,
// SCRATCH the intermediate file stage two reads (or, for stage one, writes), OUT the output.
// conv's command lines take the input in front.
namespace ToolCommands {

extern const QStringList StageOneIntermediate;
extern const QStringList StageOneMpeg2;
extern const QStringList StageOneMpeg4;
extern const QStringList Mp3;
extern const QStringList RealFixed;
extern const QStringList RealSized;
extern const QStringList MovFixed;
extern const QStringList MovSized;
extern const QStringList H264;
extern const QStringList H265;
extern const QStringList AV1;
extern const QStringList M4A;
extern const QStringList Flac;

// Today's formats, one run of coder each: {video codec or "" for -vn, audio codec, the rest}.
QStringList modern(const QString &videoCodec, const QString &audioCodec,
                   const QStringList &video = {"-b", "1500k"},
                   const QStringList &audio = {"-ar", "48000", "-ab", "128k", "-ac", "2"});
// Mobile MP4 and 3GP at this frame size.
QStringList mobile(const QString &size);
// Whether the command is one of today's formats, which name their codecs.
bool isModern(const QStringList &arguments);
// The audio bitrate a command line asks for, in bit/s.
int requestedAudioBitrate(const QStringList &arguments);

// Each video format's command line with the bitrates the lists offer (the defaults, or the
// lowest): "MPG", "AVI", "MPEG4", "RMVB", "RM 640x480", "MOV", "3GP", "3GP 8192x4320", "H264",
// "H265", "AV1".
struct VideoCommand
{
    QString tool;
    QStringList arguments;
    QString extension;
    QString codec;
};
VideoCommand videoCommand(const QString &format, bool lowest = false);

// Every format the converter offers, as its command lines: stage one (conv) and, for the
// two-stage ones, stage two. A frame size other than the default goes into stage two.
struct FormatCommand
{
    QString name;
    QString extension;
    QStringList stageOne; // conv's, or the one coder run of a one-stage format
    QString stageOneTool;
    QStringList stageTwo; // empty for a one-stage format
    QString stageTwoTool;
};
QList<FormatCommand> formats();
FormatCommand format(const QString &name);

// "640x480" as a size.
QSize sizeOf(const QString &text);

// The progress a window would show for this tool output, fed to the parser in chunks that end
// at line breaks as the runner delivers them; durationRead receives the length it read.
QList<double> shownProgress(const QString &output, bool stageOne, qint32 *durationRead = nullptr);

} // namespace ToolCommands
