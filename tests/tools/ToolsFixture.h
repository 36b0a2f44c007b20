#pragma once

#include "ToolCommands.h"

#include <QHash>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// What every test of the encoder tools shares: the three tools run for real over the system's
// ffmpeg, with the command lines the converter builds, on small clips made here.
class ToolsFixture
{
public:
    struct Run
    {
        int exitCode = -1;
        QString output;
    };

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

    // Sets the tools up for a machine without a working graphics chip (so the tests know which
    // encoder runs) and makes the named clips of clipNames(); empty on success, else why not.
    QString prepare(const QStringList &clips);
    // The clips prepare() can make, each with its length in seconds.
    static QStringList clipNames();

    // A file in the folder of inputs (made or not).
    QString input(const QString &name) const;
    double inputSeconds(const QString &name) const { return m_inputSeconds.value(name); }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString freshFolder();

    // The tool's run to its end (two minutes at most), standard output and error together.
    // fileSizeLimit > 0 stands in for a full disk.
    Run runTool(const QString &tool, const QStringList &arguments, const QString &folder,
                qint64 fileSizeLimit = 0, const QProcessEnvironment &environment = {});
    // For arguments that are bytes, not text: names in another encoding than UTF-8.
    Run runToolWithBytes(const QString &tool, const QList<QByteArray> &arguments,
                         const QString &folder);

    // Stage one's intermediate file of an input of the inputs folder, made once.
    QString intermediate(const QString &inputName);
    // The intermediate file of any input path, made once; empty when stage one failed, with its
    // output in failure.
    QString intermediateOf(const QString &inputPath, QString *failure = nullptr);
    // A clip of a lavfi video source (and a second of sine audio) made once.
    QString clip(const QString &name, const QString &source, int frames, const QString &codec);
    // An input made once by ffmpeg from its arguments (sources and codecs, no output).
    QString made(const QString &name, const QStringList &ffmpegArguments);
    // A folder holding an executable "ffmpeg" (or another program) that runs the shell script
    // body, to be put first on a tool's PATH.
    QString standInFfmpeg(const QByteArray &body, const QString &program = "ffmpeg");

    // A format's conversion of the input as the converter runs it, its stage one (and stage two,
    // through a scratch file of its own) into folder; the output's path, empty on a failed run
    // (failure then holds the tool's output).
    QString convert(const ToolCommands::FormatCommand &format, const QString &inputPath,
                    const QString &folder, QString *failure = nullptr);

    // A command line's placeholders: IN and SCRATCH read the named input, OUT is the output.
    static QString toolArgument(const QString &text, const QString &inputPath,
                                const QString &output);
    static VideoInfo videoInfo(const QString &path);
    // The processes whose parent is pid.
    static QList<qint64> childrenOf(qint64 pid);

private:
    QTemporaryDir m_dir;
    QHash<QString, double> m_inputSeconds;
    QHash<QString, QString> m_intermediates;
    int m_folders = 0;
};
