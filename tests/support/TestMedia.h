#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

// Small media files made with ffmpeg's lavfi sources, and what ffprobe says of a file.
// Used by the tool tests and the batch tests; everything runs the system's ffmpeg.
class TestMedia
{
public:
    struct Info
    {
        bool readable = false;
        QString container;  // ffprobe's format_name, e.g. "avi", "mov,mp4,m4a,3gp,3g2,mj2"
        QString majorBrand; // the ISO file's brand ("3gp4" ...), empty for other containers
        QString videoCodec; // empty without video
        QString audioCodec; // empty without audio
        QSize size;
        double frameRate = 0;
        int sampleRate = 0;
        int channels = 0;
        int audioBitrate = 0; // bit/s of the audio stream, 0 when the file does not say
        double duration = 0;  // seconds, of the container
    };

    // A clip of testsrc video and sine audio. channels 0 gives no audio; an empty size no
    // video. The codecs follow the extension (.mp4: MPEG-4 + AAC, .mkv: FFV1 + FLAC,
    // .wav: PCM). Returns ffmpeg's error text, empty on success.
    static QString make(const QString &path, QSize size, double seconds, int channels,
                        int sampleRate = 44100, int frameRate = 25);

    // A file made once by ffmpeg from its arguments (sources and codecs, no output): an existing
    // one is kept, and one ffmpeg failed to finish is removed. Returns ffmpeg's error text,
    // empty on success.
    static QString makeWith(const QString &path, const QStringList &ffmpegArguments);

    // An .mp4 clip whose file ends after `share` of its bytes, as a download cut short does;
    // its header still says the whole length.
    static QString makeCutShort(const QString &path, QSize size, double seconds, double share);

    static Info probe(const QString &path);

    // Decodes every stream to the end; returns the errors ffmpeg reported, empty when clean.
    static QString decodeErrors(const QString &path);

    // The tools as built into the application's data folder.
    static QString toolPath(const QString &name);

    // A program run to its end (at most two minutes) with no standard input.
    struct Run
    {
        bool ok = false; // ended by itself with exit status 0
        QByteArray out;
        QByteArray err;
    };
    static Run runProgram(const QString &program, const QStringList &arguments);
};
