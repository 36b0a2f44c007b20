#pragma once

#include <string>
#include <vector>

// What a source holds, as its picture and sound filters need it: the picture's field order,
// colours, pixel shape and rotation, each sound stream's channels and whether it is the one a
// player picks, and where a stream's timestamps leap. Read in process from the file's own
// streams (MediaProbe), before ffmpeg starts.
struct SourceInfo
{
    enum class Fields { Unknown, Progressive, TopFirst, BottomFirst };

    // A stretch of a stream's timeline with no packets in it while the file goes on (a
    // broadcast switching programmes, a recorder's clock jumping): closed up, so the output
    // neither freezes nor falls silent for it.
    struct Leap
    {
        double from = 0;   // seconds on ffmpeg's timeline of the input (its start at 0)
        double length = 0; // seconds
    };

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
        std::string transfer;    // "smpte2084" (PQ), "arib-std-b67" (HLG) ..., empty: not told
        std::string primaries;   // "bt2020", "bt709" ..., empty when not told
        double rate = 0;         // frames a second as ffmpeg counts them ("tbr"), 0: not told
        bool still = false;      // a picture attached to a sound file (a song's cover)
        int stream = -1;         // the stream's number in the file
        std::string codec;       // "h264", "mjpeg" ...
        std::vector<Leap> leaps; // to close, in order; only where ffmpeg leaves them open

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
        std::string language;    // ISO 639-2 as the file tags it, empty when it does not
        std::vector<Leap> leaps; // as for the picture
    };

    struct Subtitle
    {
        int stream = -1;
        bool text = false; // text a container can carry as its own (not pictures: PGS, DVD)
        bool flaggedDefault = false;
        bool forced = false;
        std::string language;
    };

    bool hasPicture = false;
    Picture picture;  // the first video stream's
    int pictures = 0; // video streams, a cover aside
    std::vector<Sound> sounds;
    std::vector<Subtitle> subtitles;
    double soundLength = 0; // seconds the sound a player plays lasts; 0: none, or not told

    // The sound stream a player plays: the first one flagged default, else the first one. An
    // index into sounds, -1 when there is no sound.
    int chosenSound() const;

    // The subtitle stream a player shows unasked: the first flagged default, else the first
    // flagged forced. An index into subtitles, -1 for none.
    int shownSubtitle() const;

    // "audio#2(eng)": the second sound stream, tagged English.
    static std::string streamName(const char *kind, size_t ordinal, const std::string &language);

    // The setpts (or, for sound, asetpts) filter that closes the leaps; empty for none.
    static std::string closing(const std::vector<Leap> &leaps, bool sound);
};
