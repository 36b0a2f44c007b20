#pragma once

#include <string>
#include <vector>

// What ffmpeg tells of its first input as it opens it: the facts the right filters follow from
// (the picture's field order, colours, pixel shape and rotation, each sound stream's channels
// and whether it is the one a player picks). Read from ffmpeg's own description of the input,
// printed by the run that encodes it, so that no probe of the file is needed.
struct SourceInfo
{
    enum class Fields { Unknown, Progressive, TopFirst, BottomFirst };

    struct Picture
    {
        int width = 0; // as stored, before the rotation
        int height = 0;
        int sarNum = 1; // the pixel shape; 1:1 when the file does not say
        int sarDen = 1;
        int rotation = 0; // degrees ffmpeg turns the picture for display: 0, 90, 180 or 270
        Fields fields = Fields::Unknown;
        std::string pixelFormat; // "yuv420p", "yuvj420p", "rgb24" ...
        std::string range;       // "tv", "pc", empty when not told
        std::string matrix;      // "bt709", "bt470bg", "smpte170m" ..., empty when not told
        double rate = 0;         // frames a second as ffmpeg counts them ("tbr"), 0: not told
        bool still = false;      // a picture attached to a sound file (a song's cover)

        // The size as shown, after the rotation.
        int uprightWidth() const { return rotation % 180 ? height : width; }
        int uprightHeight() const { return rotation % 180 ? width : height; }
        // The pixel shape as shown, after the rotation.
        double pixelAspect() const
        {
            const double sar = sarNum > 0 && sarDen > 0 ? double(sarNum) / sarDen : 1.0;
            return rotation % 180 ? 1 / sar : sar;
        }
        double displayAspect() const
        {
            return uprightHeight() > 0 ? uprightWidth() * pixelAspect() / uprightHeight() : 0;
        }
    };

    struct Sound
    {
        int stream = -1; // the stream's number in the file, as -map 0:N takes it
        int channels = 0;
        int sampleRate = 0;
        bool flaggedDefault = false;
    };

    bool hasPicture = false;
    Picture picture; // the first video stream's
    std::vector<Sound> sounds;
    // ffmpeg guessed the input's length from its bitrate ("Estimating duration from bitrate"),
    // as it does for a VBR MP3 without a Xing header: the length may be far off.
    bool lengthEstimated = false;

    // The sound stream a player plays: the first one flagged default, else the first one. An
    // index into sounds, -1 when there is no sound.
    int chosenSound() const;

    // Reads ffmpeg's description of its first input (url as it was given after -i) from its
    // error output. False while that description is not complete, that is until another
    // input, an output or the stream mapping is described after it.
    static bool parse(const std::string &stderrText, const std::string &url, SourceInfo &info);
};
