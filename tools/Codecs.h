#pragma once

// What each encoder the tools use can do: one row per encoder, read by conv and coder for their
// settings and by the converter, which holds its format table against it at compile time.
// Plain C++17 without Qt, like ToolContract.h. (The picture sizes each codec takes are in
// common/FrameLimits.h.)

#include <iterator>

namespace Codecs {

inline constexpr int MaxOptions = 6;
inline constexpr int MaxRates = 14;

struct Video
{
    const char *encoder; // as -vcodec names it
    const char *codec;   // what it writes, as FrameLimits names it
    // Its options after -c:v: the presets that keep today's formats near the speed of the
    // older ones (README.md says what slower ones would buy). nullptr ends them.
    const char *options[MaxOptions];
    int mostQuality;      // the highest quality level (CRF) it takes; -1: it has none
    bool tellsColours;    // the stream says which colour matrix its pictures use
    bool tellsRange;      // and whether their levels are full range
    bool fastStart;       // its MP4 goes out with the index first, for streaming
    double mostFrames;    // the highest frame rate it takes; 0: no limit
    const char *hardware; // the VAAPI encoder that may stand in for it; nullptr: none
};

// clang-format off
inline constexpr Video video[] = {
//   encoder       codec         options                                      CRF  colours range  fast   fps  hardware
    {"libx264",    "h264",       {"-preset", "veryfast"},                      51, true,   true,  true,    0, "h264_vaapi"},
    {"libx265",    "hevc",       {"-preset", "veryfast", "-tag:v", "hvc1"},    51, true,   true,  true,    0, "hevc_vaapi"},
    // Slow-motion phone videos and cover pictures (whose rate is their time base) have more.
    {"libsvtav1",  "av1",        {"-preset", "10"},                            63, true,   true,  false, 240, nullptr},
    {"h264_vaapi", "h264",       {},                                           -1, true,   true,  true,    0, nullptr},
    {"hevc_vaapi", "hevc",       {"-tag:v", "hvc1"},                           -1, true,   true,  true,    0, nullptr},
    {"mpeg2video", "mpeg2video", {},                                           -1, true,   false, false,   0, nullptr},
    // ffmpeg's MPEG-4 part 2 writes no colour description; MP4 and MOV carry one for it.
    {"mpeg4",      "mpeg4",      {},                                           -1, false,  false, false,   0, nullptr},
    {"rv10",       "rv10",       {},                                           -1, false,  false, false,   0, nullptr},
};
// clang-format on

struct Audio
{
    const char *encoder;
    const char *name;             // in the tools' notes
    int rates[MaxRates];          // the sample rates it takes, rising; none: any
    double mostBitratePerChannel; // bit/s; 0: no limit of the tools' concern
    // Samples it puts in front of the sound, which a container without timestamps of its own
    // (AVI, RealMedia) cannot mark: they are cut instead. As Debian's ffmpeg 5.1 reports them.
    int delay;
    // The highest peak it is given, as a share of full scale; 0: any. A lossy encoder throws
    // away what the ear misses, and its decoded peaks overshoot the source's by as much as its
    // headroom here (measured on pink noise mastered to -0.1 dBFS), so a loud master would clip.
    double ceiling;
};

// clang-format off
inline constexpr Audio audio[] = {
    {"aac",        "AAC",    {7350, 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 64000, 88200, 96000}, 0, 0, 0.841},
    // libopus: "Please choose a value between 500 and 256000" for each channel.
    {"libopus",    "Opus",   {8000, 12000, 16000, 24000, 48000},                                             256000, 0, 0.75},
    {"libmp3lame", "MP3",    {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000},                      0, 1105, 0.891},
    {"mp2",        "MP2",    {16000, 22050, 24000, 32000, 44100, 48000},                                          0, 481, 0.891},
    // RealMedia's own sound encoder: Cook and the other Real codecs are decode-only.
    {"ac3",        "AC-3",   {32000, 44100, 48000},                                                               0, 256, 0.841},
    {"flac",       "FLAC",   {},                                                                                  0, 0, 0},
    {"amr_nb",     "AMR-NB", {8000},                                                                              0, 0, 0.891},
};
// clang-format on

constexpr bool same(const char *a, const char *b)
{
    while (*a && *a == *b)
        ++a, ++b;
    return *a == *b;
}

// The row of an encoder, -1 for one the table does not know. (An index, not a pointer: a build
// with AddressSanitizer cannot compare a global's address at compile time.)
constexpr int videoIndex(const char *encoder)
{
    for (int i = 0; encoder && i < int(std::size(video)); ++i)
        if (same(video[i].encoder, encoder))
            return i;
    return -1;
}

constexpr int audioIndex(const char *encoder)
{
    for (int i = 0; encoder && i < int(std::size(audio)); ++i)
        if (same(audio[i].encoder, encoder))
            return i;
    return -1;
}

inline const Video *videoEncoder(const char *encoder)
{
    const int row = videoIndex(encoder);
    return row < 0 ? nullptr : &video[row];
}

// The row of the first encoder that writes `codec`, nullptr for none.
inline const Video *videoCodec(const char *codec)
{
    for (const Video &row : video)
        if (codec && same(row.codec, codec))
            return &row;
    return nullptr;
}

inline const Audio *audioEncoder(const char *encoder)
{
    const int row = audioIndex(encoder);
    return row < 0 ? nullptr : &audio[row];
}

// The highest quality level of an encoder, -1 for one without levels or unknown.
constexpr int mostQuality(const char *encoder)
{
    const int row = videoIndex(encoder);
    return row < 0 ? -1 : video[row].mostQuality;
}

// The sample rate an encoder writes for the one asked for: the rate itself when it has it, else
// the lowest it has above it (so no part of the sound is lost), else its highest. 0 stays 0 (the
// input's rate).
constexpr int sampleRate(const Audio &row, int asked)
{
    if (asked <= 0 || row.rates[0] == 0)
        return asked;
    int highest = 0;
    for (int rate : row.rates) {
        if (rate >= asked)
            return rate;
        if (rate > highest)
            highest = rate;
    }
    return highest;
}

} // namespace Codecs
