#pragma once

#include "convert/ParameterSet.h"
#include "process/CommandLine.h"

#include <QString>
#include <QTime>
#include <functional>

// The command lines of every format and stage, and the names of the files they write.
// Every literal, blank and quote of a command's text is part of the tools' contract; the
// argument vector is built from the same pieces, so no path can be split or read as an option.
namespace CommandBuilder {

enum class Runner { DOS, Ffmpeg }; // objDOS runs conv; objffmpeg runs coder and coder2

struct Command
{
    CommandLine line; // empty when the format builds no command at this stage
    QString toolName; // "conv", "coder" or "coder2"
    Runner runner = Runner::DOS;
};

// The most bytes a file name may have on the file systems people keep videos on.
constexpr int MaxFileNameBytes = 255;

// Folder (ending in its separator) + base name of the input + "-" + hour, minute and second
// without leading zeros + extension. A name that `taken` reports as used gets a counter before
// the extension ("clip-12345-2.avi"), so a conversion never overwrites an existing file. Only a
// whole name longer than MaxFileNameBytes has its base name shortened.
QString MakeOutputPath(const QString &outputFolder, const QString &inputPath,
                       const QString &extension, const QTime &now,
                       const std::function<bool(const QString &)> &taken = {});
// The name for scripts, which a re-run finds again: folder + the input's name without its last
// extension + extension ("clip.avi" gives "clip.mp3", "a.b.mp4" gives "a.b.mp3"), with the same
// counter and shortening.
QString MakePlainOutputPath(const QString &outputFolder, const QString &inputPath,
                            const QString &extension,
                            const std::function<bool(const QString &)> &taken = {});

// The first command of a file. outputPath is the final file for the one-stage formats (MPG,
// AVI, MPEG4, MP3 and today's five) and unused for the others, which write `intermediateFile`.
Command BuildStageOneCommand(const QString &appFolder, const QString &inputPath,
                             const QString &outputPath, const ParameterSet &parameters,
                             const QString &intermediateFile);

// The second command of a two-stage format (RMVB, RM, MOV, mobile MP4, 3GP): the fixed
// variant when the frame size is "原始大小", else the sized one.
Command BuildStageTwoCommand(const QString &appFolder, const QString &outputPath,
                             const ParameterSet &parameters, const QString &intermediateFile);

} // namespace CommandBuilder
