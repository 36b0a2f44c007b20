#include "ToolsFixture.h"

#include "TestMedia.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Clip
{
    QSize size;
    double seconds;
    int channels;
    int frameRate;
};

const QMap<QString, Clip> &standardClips()
{
    static const QMap<QString, Clip> clips = {
        {"stereo.mp4", {{320, 180}, 2, 2, 25}}, {"mono.mp4", {{640, 360}, 1, 1, 25}},
        {"odd.mkv", {{321, 241}, 1, 2, 25}},    {"silent.mp4", {{320, 180}, 1, 0, 25}},
        {"audio.wav", {{}, 1, 2, 25}},          {"large.mkv", {{1920, 1080}, 1, 1, 5}},
        {"long.mp4", {{640, 360}, 30, 2, 25}},
    };
    return clips;
}

} // namespace

QStringList ToolsFixture::clipNames()
{
    return standardClips().keys() + QStringList{"segment.ts", "text.avi", "empty.avi"};
}

QString ToolsFixture::prepare(const QStringList &clips)
{
    if (!m_dir.isValid() || !QDir().mkpath(m_dir.filePath("in")))
        return QStringLiteral("no temporary folder");
    // H.264 and H.265 go to a graphics chip where one works; the tests know which encoder runs
    // because none does, whatever machine they run on.
    qputenv("VIDMORPH_VAAPI_DEVICE", m_dir.filePath("no-render-node").toUtf8());
    for (const QString &name : clips) {
        if (standardClips().contains(name)) {
            const Clip clip = standardClips().value(name);
            const QString error = TestMedia::make(input(name), clip.size, clip.seconds,
                                                  clip.channels, 44100, clip.frameRate);
            if (!error.isEmpty())
                return name + ": " + error;
            m_inputSeconds.insert(name, clip.seconds);
        } else if (name == QLatin1String("segment.ts")) {
            // A real clip for playlists to name.
            if (made(name, {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=1", "-c:v",
                            "mpeg2video", "-f", "mpegts"})
                    .isEmpty())
                return name;
        } else {
            QFile file(input(name));
            if (!file.open(QIODevice::WriteOnly))
                return name;
            if (name == QLatin1String("text.avi"))
                file.write("This is a text file, not a video.\n");
        }
    }
    return {};
}

QString ToolsFixture::input(const QString &name) const
{
    return m_dir.filePath(QStringLiteral("in/") + name);
}

QString ToolsFixture::freshFolder()
{
    const QString folder = m_dir.filePath(QStringLiteral("run%1").arg(++m_folders));
    QDir().mkpath(folder);
    return folder;
}

ToolsFixture::Run ToolsFixture::runTool(const QString &tool, const QStringList &arguments,
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

ToolsFixture::Run ToolsFixture::runToolWithBytes(const QString &tool,
                                                 const QList<QByteArray> &arguments,
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

QString ToolsFixture::standInFfmpeg(const QByteArray &body, const QString &program)
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

QString ToolsFixture::toolArgument(const QString &text, const QString &inputPath,
                                   const QString &output)
{
    if (text == QLatin1String("IN") || text == QLatin1String("SCRATCH"))
        return inputPath;
    if (text == QLatin1String("OUT"))
        return output;
    return text;
}

QString ToolsFixture::intermediate(const QString &inputName)
{
    return intermediateOf(input(inputName));
}

QString ToolsFixture::intermediateOf(const QString &inputPath, QString *failure)
{
    if (m_intermediates.contains(inputPath))
        return m_intermediates.value(inputPath);
    const QString scratch = freshFolder();
    const QString path = scratch + QStringLiteral("/tmp.mp4");
    QStringList arguments = ToolCommands::StageOneIntermediate;
    arguments.replace(arguments.indexOf("SCRATCH"), path);
    arguments.prepend(inputPath);
    const Run run = runTool("conv", arguments, scratch);
    if (run.exitCode != 0 || !QFile::exists(path)) {
        if (failure)
            *failure = run.output;
        return QString();
    }
    m_intermediates.insert(inputPath, path);
    return path;
}

QString ToolsFixture::convert(const ToolCommands::FormatCommand &format, const QString &inputPath,
                              const QString &folder, QString *failure)
{
    const QString output = folder + QStringLiteral("/out.") + format.extension;
    const bool twoStage = !format.stageTwo.isEmpty();
    QString source = inputPath;
    if (twoStage) {
        source = intermediateOf(inputPath, failure);
        if (source.isEmpty())
            return QString();
    }
    const QStringList &command = twoStage ? format.stageTwo : format.stageOne;
    QStringList arguments;
    for (const QString &argument : command)
        arguments.append(toolArgument(argument, source, output));
    const Run run =
        runTool(twoStage ? format.stageTwoTool : format.stageOneTool, arguments, folder);
    if (run.exitCode != 0) {
        if (failure)
            *failure = run.output;
        return QString();
    }
    return output;
}

QString ToolsFixture::clip(const QString &name, const QString &source, int frames,
                           const QString &codec)
{
    const QString seconds = QString::number(frames / 25.0);
    return made(name,
                {"-f", "lavfi", "-i", source, "-f", "lavfi", "-i",
                 "sine=frequency=440:sample_rate=44100:duration=" + seconds, "-frames:v",
                 QString::number(frames), "-c:v", codec, "-preset", "ultrafast", "-c:a", "flac"});
}

QString ToolsFixture::made(const QString &name, const QStringList &ffmpegArguments)
{
    const QString path = input(name);
    const QString error = TestMedia::makeWith(path, ffmpegArguments);
    if (!error.isEmpty()) {
        qWarning() << error;
        return QString();
    }
    return path;
}

ToolsFixture::VideoInfo ToolsFixture::videoInfo(const QString &path)
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

QList<qint64> ToolsFixture::childrenOf(qint64 pid)
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
