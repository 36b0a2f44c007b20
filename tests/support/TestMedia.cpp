#include "TestMedia.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

double rate(const QString &fraction)
{
    const QStringList parts = fraction.split(QLatin1Char('/'));
    if (parts.size() != 2 || parts[1].toDouble() == 0)
        return fraction.toDouble();
    return parts[0].toDouble() / parts[1].toDouble();
}
} // namespace

QString TestMedia::make(const QString &path, QSize size, double seconds, int channels,
                        int sampleRate, int frameRate)
{
    const QString duration = QString::number(seconds);
    QStringList arguments = {"-nostdin", "-v", "error", "-y"};
    if (!size.isEmpty())
        arguments << "-f"
                  << "lavfi"
                  << "-i"
                  << QStringLiteral("testsrc=size=%1x%2:rate=%3:duration=%4")
                         .arg(size.width())
                         .arg(size.height())
                         .arg(frameRate)
                         .arg(duration);
    if (channels > 0)
        arguments << "-f"
                  << "lavfi"
                  << "-i"
                  << QStringLiteral("sine=frequency=440:sample_rate=%1:duration=%2")
                         .arg(sampleRate)
                         .arg(duration)
                  << "-ac" << QString::number(channels);
    if (path.endsWith(QLatin1String(".mkv")))
        arguments << "-c:v"
                  << "ffv1"
                  << "-c:a"
                  << "flac";
    else if (path.endsWith(QLatin1String(".mp4")))
        arguments << "-c:v"
                  << "mpeg4"
                  << "-q:v"
                  << "3"
                  << "-c:a"
                  << "aac"
                  // The index first, as downloads have it: a file cut short still says its
                  // whole length.
                  << "-movflags"
                  << "+faststart";
    arguments << "-t" << duration << ("file:" + path);
    const Run result = runProgram(QStringLiteral("ffmpeg"), arguments);
    return result.ok ? QString() : QString::fromUtf8(result.err) + QStringLiteral(" (ffmpeg)");
}

TestMedia::Info TestMedia::probe(const QString &path)
{
    const Run result = runProgram(
        QStringLiteral("ffprobe"),
        {"-v", "error", "-show_entries",
         "format=format_name,duration:format_tags=major_brand:stream=codec_type,codec_name,width,"
         "height,avg_frame_rate,sample_rate,channels,bit_rate",
         "-of", "json", "file:" + path});
    Info info;
    if (!result.ok)
        return info;
    const QJsonObject root = QJsonDocument::fromJson(result.out).object();
    const QJsonObject format = root.value("format").toObject();
    info.readable = true;
    info.container = format.value("format_name").toString();
    info.majorBrand = format.value("tags").toObject().value("major_brand").toString();
    info.duration = format.value("duration").toString().toDouble();
    for (const QJsonValue &value : root.value("streams").toArray()) {
        const QJsonObject stream = value.toObject();
        const QString type = stream.value("codec_type").toString();
        if (type == QLatin1String("video") && info.videoCodec.isEmpty()) {
            info.videoCodec = stream.value("codec_name").toString();
            info.size = QSize(stream.value("width").toInt(), stream.value("height").toInt());
            info.frameRate = rate(stream.value("avg_frame_rate").toString());
        } else if (type == QLatin1String("audio") && info.audioCodec.isEmpty()) {
            info.audioCodec = stream.value("codec_name").toString();
            info.sampleRate = stream.value("sample_rate").toString().toInt();
            info.channels = stream.value("channels").toInt();
            info.audioBitrate = stream.value("bit_rate").toString().toInt();
        }
    }
    return info;
}

QString TestMedia::decodeErrors(const QString &path)
{
    const Run result = runProgram(QStringLiteral("ffmpeg"), {"-nostdin", "-v", "error", "-i",
                                                             "file:" + path, "-f", "null", "-"});
    if (result.ok && result.err.trimmed().isEmpty())
        return QString();
    return QString::fromUtf8(result.err) + (result.ok ? QString() : QStringLiteral(" (failed)"));
}

QString TestMedia::toolPath(const QString &name)
{
    return QStringLiteral(VIDMORPH_APP_DIR "/data/") + name;
}

QString TestMedia::makeCutShort(const QString &path, QSize size, double seconds, double share)
{
    if (const QString error = make(path, size, seconds, 2); !error.isEmpty())
        return error;
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || !file.resize(qint64(file.size() * share)))
        return QStringLiteral("cannot cut %1 short").arg(path);
    return {};
}

QString TestMedia::makeWith(const QString &path, const QStringList &ffmpegArguments)
{
    if (QFile::exists(path))
        return QString();
    const Run result =
        runProgram(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-v", "error"} +
                                                 ffmpegArguments + QStringList{"file:" + path});
    if (result.ok)
        return QString();
    QFile::remove(path);
    return QString::fromUtf8(result.err) + QStringLiteral(" (ffmpeg)");
}

TestMedia::Run TestMedia::runProgram(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        result.err = program.toUtf8() + " did not finish: " + process.errorString().toUtf8();
        return result;
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return result;
}
