#include "MediaMeasure.h"

#include "TestMedia.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cmath>

namespace {

// What a measuring run of ffmpeg or ffprobe printed.
struct Output
{
    QByteArray out;
    QString err;
};

Output run(const QString &program, const QStringList &arguments)
{
    const TestMedia::Run ran = TestMedia::runProgram(program, arguments);
    return {ran.out, QString::fromUtf8(ran.err)};
}

QJsonObject firstVideoStream(const QString &path)
{
    const Output probe =
        run("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                        "stream=width,height,sample_aspect_ratio,color_space,color_range:"
                        "stream_side_data=rotation",
                        "-of", "json", "file:" + path});
    const QJsonArray streams =
        QJsonDocument::fromJson(probe.out).object().value("streams").toArray();
    return streams.isEmpty() ? QJsonObject() : streams.first().toObject();
}

double sampleAspect(const QJsonObject &stream)
{
    const QStringList sar = stream.value("sample_aspect_ratio").toString().split(':');
    const double value =
        sar.size() == 2 && sar[1].toDouble() > 0 ? sar[0].toDouble() / sar[1].toDouble() : 0;
    return value > 0 ? value : 1;
}

bool turned(const QJsonObject &stream)
{
    for (const QJsonValue &data : stream.value("side_data_list").toArray())
        if (std::abs(data.toObject().value("rotation").toInt()) % 180 == 90)
            return true;
    return false;
}

QList<double> numbersAfter(const QString &text, const QString &key)
{
    QList<double> numbers;
    const QRegularExpression pattern(QRegularExpression::escape(key) +
                                     QStringLiteral("\\s*(-?[0-9.]+|-?inf)"));
    for (auto match = pattern.globalMatch(text); match.hasNext();) {
        const QString value = match.next().captured(1);
        numbers.append(value.endsWith(QLatin1String("inf")) ? (value.startsWith('-') ? -1000 : 1000)
                                                            : value.toDouble());
    }
    return numbers;
}

} // namespace

QList<int> MediaMeasure::syncOffsets(const QString &path)
{
    const Output pass =
        run("ffmpeg", {"-nostdin", "-hide_banner", "-i", "file:" + path, "-filter_complex",
                       "[0:v:0]signalstats,metadata=print:key=lavfi.signalstats.YAVG[v];"
                       "[0:a:0]silencedetect=n=-30dB:d=0.05[a]",
                       "-map", "[v]", "-map", "[a]", "-f", "null", "-"});
    QList<double> flashes, beeps;
    double time = 0, previous = 255;
    for (const QString &line : pass.err.split('\n')) {
        const int at = line.indexOf(QLatin1String("pts_time:"));
        if (at >= 0)
            time = line.mid(at + 9).section(' ', 0, 0).toDouble();
        const int yavg = line.indexOf(QLatin1String("lavfi.signalstats.YAVG="));
        if (yavg >= 0) {
            const double brightness = line.mid(yavg + 23).toDouble();
            if (brightness > 128 && previous <= 128)
                flashes.append(time);
            previous = brightness;
        }
    }
    beeps = numbersAfter(pass.err, QStringLiteral("silence_end:"));
    QList<int> offsets;
    for (double flash : flashes) {
        double nearest = 1e9;
        for (double beep : beeps)
            if (std::fabs(beep - flash) < std::fabs(nearest - flash))
                nearest = beep;
        if (std::fabs(nearest - flash) < 0.5)
            offsets.append(int(std::lround((nearest - flash) * 1000)));
    }
    return offsets;
}

double MediaMeasure::displayAspect(const QString &path)
{
    const QJsonObject stream = firstVideoStream(path);
    const double height = stream.value("height").toDouble();
    if (height <= 0)
        return 0;
    const double aspect = stream.value("width").toDouble() * sampleAspect(stream) / height;
    return turned(stream) ? 1 / aspect : aspect;
}

double MediaMeasure::pictureAspect(const QString &path)
{
    const QJsonObject stream = firstVideoStream(path);
    const Output pass =
        run("ffmpeg", {"-nostdin", "-hide_banner", "-i", "file:" + path, "-an", "-vf",
                       "bbox=min_val=40", "-frames:v", "3", "-f", "null", "-"});
    const QList<double> widths = numbersAfter(pass.err, QStringLiteral(" w:"));
    const QList<double> heights = numbersAfter(pass.err, QStringLiteral(" h:"));
    if (widths.isEmpty() || heights.isEmpty() || heights.last() <= 0)
        return 0;
    const double aspect = widths.last() * sampleAspect(stream) / heights.last();
    return turned(stream) ? 1 / aspect : aspect;
}

QVector<double> MediaMeasure::barColours(const QString &path)
{
    const QJsonObject stream = firstVideoStream(path);
    const int width = stream.value("width").toInt();
    const int height = stream.value("height").toInt();
    const QString space = stream.value("color_space").toString();
    const QString matrix =
        space == QLatin1String("bt709")                                            ? "bt709"
        : space == QLatin1String("bt470bg") || space == QLatin1String("smpte170m") ? "bt601"
        : height >= 720                                                            ? "bt709"
                                                                                   : "bt601";
    const QString range =
        stream.value("color_range").toString() == QLatin1String("pc") ? "pc" : "tv";
    const Output frame =
        run("ffmpeg", {"-nostdin", "-v", "error", "-i", "file:" + path, "-frames:v", "1", "-vf",
                       "scale=in_color_matrix=" + matrix + ":in_range=" + range + ",format=rgb24",
                       "-f", "rawvideo", "-"});
    QVector<double> colours;
    if (width <= 0 || frame.out.size() < qsizetype(width) * height * 3)
        return colours;
    // The seven upper bars lie between an eighth and seven eighths of the width.
    const double bar = width * 0.75 / 7;
    const int row = int(height * 0.3);
    for (int b = 0; b < 7; ++b) {
        const int centre = int(width / 8.0 + bar * (b + 0.5));
        double sums[3] = {};
        int count = 0;
        for (int y = row - height / 20; y < row + height / 20; ++y)
            for (int x = centre - int(bar / 4); x < centre + int(bar / 4); ++x, ++count)
                for (int c = 0; c < 3; ++c)
                    sums[c] += quint8(frame.out[(qsizetype(y) * width + x) * 3 + c]);
        for (double sum : sums)
            colours.append(count > 0 ? sum / count : 0);
    }
    return colours;
}

MediaMeasure::Levels MediaMeasure::levels(const QString &path)
{
    const Output pass =
        run("ffmpeg", {"-nostdin", "-hide_banner", "-i", "file:" + path, "-map", "0:a:0", "-af",
                       "astats=measure_perchannel=none:measure_overall="
                       "Peak_level+RMS_level",
                       "-f", "null", "-"});
    Levels levels;
    const QList<double> peaks = numbersAfter(pass.err, QStringLiteral("Peak level dB:"));
    const QList<double> rms = numbersAfter(pass.err, QStringLiteral("RMS level dB:"));
    if (!peaks.isEmpty())
        levels.peak = peaks.last();
    if (!rms.isEmpty())
        levels.rms = rms.last();
    return levels;
}

double MediaMeasure::highOverLow(const QString &path, int hertz)
{
    // The sound a player plays: the track flagged default, else the first.
    const Output tracks =
        run("ffprobe", {"-v", "error", "-select_streams", "a", "-show_entries",
                        "stream_disposition=default", "-of", "csv=p=0", "file:" + path});
    const int played = qMax(0, QString::fromUtf8(tracks.out).split('\n').indexOf("1"));
    const QString track = QStringLiteral("0:a:%1").arg(played);
    const auto band = [&](const QString &filter) {
        const Output pass =
            run("ffmpeg", {"-nostdin", "-hide_banner", "-i", "file:" + path, "-map", track, "-af",
                           filter + "," + filter +
                               ",astats=measure_perchannel=none:measure_overall=RMS_level",
                           "-f", "null", "-"});
        const QList<double> rms = numbersAfter(pass.err, QStringLiteral("RMS level dB:"));
        return rms.isEmpty() ? -1000.0 : rms.last();
    };
    return band(QStringLiteral("highpass=f=%1:poles=2").arg(hertz)) -
           band(QStringLiteral("lowpass=f=%1:poles=2").arg(hertz));
}

int MediaMeasure::combedFrames(const QString &path, int *frames)
{
    const Output pass = run("ffmpeg", {"-nostdin", "-hide_banner", "-i", "file:" + path, "-an",
                                       "-vf", "idet", "-f", "null", "-"});
    const QRegularExpression multi(QStringLiteral(
        "Multi frame detection: TFF: *([0-9]+) BFF: *([0-9]+) Progressive: *([0-9]+) "
        "Undetermined: *([0-9]+)"));
    const QRegularExpressionMatch match = multi.match(pass.err);
    if (!match.hasMatch())
        return -1;
    if (frames)
        *frames = match.captured(1).toInt() + match.captured(2).toInt() +
                  match.captured(3).toInt() + match.captured(4).toInt();
    return match.captured(1).toInt() + match.captured(2).toInt();
}

double MediaMeasure::firstFramePsnr(const QString &path, const QString &reference)
{
    const Output pass =
        run("ffmpeg",
            {"-nostdin", "-hide_banner", "-i", "file:" + path, "-i", "file:" + reference, "-lavfi",
             "[0:v][1:v]scale2ref[a][b];[a][b]psnr", "-frames:v", "1", "-f", "null", "-"});
    const QList<double> average = numbersAfter(pass.err, QStringLiteral("average:"));
    return average.isEmpty() ? 0 : average.last();
}
