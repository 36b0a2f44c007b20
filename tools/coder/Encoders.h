#pragma once

#include <optional>
#include <string>
#include <vector>

// Which ffmpeg encoder writes a stream, and with what settings: the presets of today's
// formats, hardware H.264 and H.265 where the machine has it, thread limits when several
// conversions share the processor, and the sample rates and bitrates each audio codec takes.
namespace Encoders {

// The threads the encoder `requested` may use, 0 leaving the choice to it (every core). A
// value of VIDMORPH_ENCODER_THREADS stands for every encoder: a positive whole number, or
// anything else for the encoders' own choice. Without it, only SVT-AV1 takes a share of the
// cores when the converter runs several files at once. On two cores with two files at once,
// SVT-AV1 with its share took 0.85 times the time of one encoder per file on all cores (0.64
// with the machine busy), while x264 held to a share took 1.4 to 2.8 times as long, the more so
// the busier the machine (bench/threads.sh).
int threadLimit(const std::string &requested);

struct Video
{
    std::string encoder; // for -c:v; empty: ffmpeg's choice for the container
    std::string codec;   // the codec written, as Frames::table names it
    std::string device;  // the VAAPI render node of a hardware encoder, empty for software
    std::vector<std::string> globalOptions; // before the input
    std::vector<std::string> options;       // after -c:v
    std::string lastFilter;                 // ends the filter chain when not empty
    bool fastStart = false;                 // the MP4 index goes to the front, for streaming
    double mostFrames = 0;                  // the highest frame rate it takes; 0: no limit
    bool hardware() const { return !device.empty(); }
};

// The software encoder for -vcodec `requested` (empty: the container's default for an output
// with this extension), using at most `threads` threads (0: its own choice).
Video software(const std::string &requested, const std::string &extension, int threads);

// H.264 or H.265 on the graphics chip, for a request of libx264 or libx265: the VAAPI render
// node (VIDMORPH_VAAPI_DEVICE when set, else the first /dev/dri/renderD*) when ffmpeg encodes a
// frame on it. Otherwise nothing, and `why` says why in a few words.
std::optional<Video> hardware(const std::string &requested, std::string &why);

// The highest quality level (CRF) the encoder takes for -vcodec `requested`, -1 for an encoder
// without one (Codecs::video).
int mostQuality(const std::string &requested);

// The encoder's options for quality level `level` instead of a bitrate.
std::vector<std::string> qualityOptions(const Video &video, int level);

// Whether a hardware encoder may stand in for this request at all.
bool hasHardwareFor(const std::string &requested);

// The sample rate an audio codec writes for the one asked for: the rate itself when the codec
// has it, else the lowest rate it has above it (so no part of the sound is lost), else its
// highest. 0 stays 0 (the input's rate).
int sampleRate(const std::string &audioCodec, int asked);

// The highest bitrate in bit/s an audio codec takes for this many channels, 0 for no limit of
// the tools' concern.
double maxBitrate(const std::string &audioCodec, int channels);

// The codec's name in the tools' notes ("AAC", "Opus").
std::string audioName(const std::string &audioCodec);

// The sound encoder ffmpeg picks for a muxer (`format`, else the one for the extension) when
// none is named: AC-3 for RealMedia, LAME for MP3 ...; empty when it has none.
std::string containerAudio(const std::string &format, const std::string &extension);

} // namespace Encoders
