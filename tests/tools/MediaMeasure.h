#pragma once

#include <QList>
#include <QString>
#include <QVector>

// What a viewer sees and hears of a file, measured by ffmpeg the way a player shows it: when
// flashes and beeps come, the picture's shape on screen, its colours, its sound levels.
class MediaMeasure
{
public:
    // Milliseconds from each flash of the picture (a frame much brighter than the one before)
    // to the beep nearest to it, in one pass of signalstats and silencedetect; empty when the
    // file could not be read.
    static QList<int> syncOffsets(const QString &path);

    // The display aspect of the first video stream: width x pixel shape / height, turned as
    // its rotation says; 0 when there is none.
    static double displayAspect(const QString &path);
    // The display aspect of what is not black (the picture inside any bars).
    static double pictureAspect(const QString &path);

    // The colours shown of the upper bars of SMPTE colour bars, 0-255 each: the picture decoded
    // with the matrix its file names, or, when it names none, the one a player assumes for its
    // height.
    static QVector<double> barColours(const QString &path);

    struct Levels
    {
        double peak = -1000; // dBFS of the loudest sample of any channel
        double rms = -1000;  // dBFS over all channels
    };
    static Levels levels(const QString &path);

    // How much louder the sound a player plays (the track flagged default, else the first) is
    // above `hertz` than below it, in dB.
    static double highOverLow(const QString &path, int hertz);

    // Frames that ffmpeg's interlace detector takes for interlaced, and all it looked at.
    static int combedFrames(const QString &path, int *frames = nullptr);

    // The peak signal-to-noise ratio of the first picture against the first of reference, in dB.
    static double firstFramePsnr(const QString &path, const QString &reference);
};
