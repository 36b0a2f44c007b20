#pragma once

#include "convert/ParameterSet.h"

#include <QString>
#include <QStringList>
#include <array>
#include <iterator>
#include <optional>

// The output formats, one row each, and the six parameter lists: the one place that says what a
// format is. The command builder, the window's lists, the headless mode's names, the checks at
// Start and the tests all read the rows, so a new format is a new row. A format's index (its
// row) is its identity everywhere in the engine.
namespace Formats {

// The six editable parameter lists of the window, in the order of a row's `reads`.
enum ParameterListId { SampleRate, AudioBitrate, Channel, FrameSize, VideoBitrate, FrameRate };
constexpr int ParameterListCount = 6;

// When a list's value reaches a format's commands.
enum class Reads : unsigned char {
    Never,
    Always,
    WithSize, // only once a frame size other than "原始大小" is chosen
};

// The first run of a file.
enum class StageOne : unsigned char {
    Intermediate, // conv writes the intermediate file, whatever the lists say; a second run follows
    Mpeg2,        // conv writes MPEG-2 video with MP2 sound (MPG, AVI)
    Mpeg4,        // conv writes MPEG-4 video with MP3 sound into an AVI container (MPEG4)
    Mp3,          // coder writes MP3 sound
    Coder,        // coder writes the file in one run, with the row's codecs
};

// The second run, from the intermediate file.
enum class StageTwo : unsigned char {
    None,
    RealMedia, // coder, rv10 in RealMedia
    QuickTime, // coder, MOV
    Mobile,    // coder2, MPEG-4 video with AMR-NB sound
};

struct FormatInfo
{
    const char *itemText;  // the format list's item
    const char *shortName; // the name `vidmorph --convert --format` takes
    const char *extension; // with its dot
    StageOne stageOne;
    StageTwo stageTwo;
    // coder's -vcodec and -acodec for StageOne::Coder rows, no video codec for a sound-only one;
    // the other formats' commands are fixed texts.
    const char *videoCodec;
    const char *audioCodec;
    // Whether frame rate "原始帧率" keeps the source's rate (the window then offers it).
    bool keepsFrameRate;
    // The encoder's quality level (CRF) that video bitrate "画质优先" asks for, and the
    // highest it takes; a level of 0: the format offers no such choice.
    int quality;
    int mostQuality;
    // Sample rate, audio bitrate, channels, frame size, video bitrate, frame rate.
    std::array<Reads, ParameterListCount> reads;
    // What choosing the format writes into the lists. No video bitrate: the format leaves the
    // three video lists alone; no audio bitrate: it leaves that list alone.
    const char *videoBitrate;
    const char *frameRate;
    const char *frameSize;
    const char *sampleRate;
    const char *audioBitrate;
    int channelIndex;
};

namespace Rows {
constexpr Reads N = Reads::Never, A = Reads::Always, S = Reads::WithSize;
using R = std::array<Reads, ParameterListCount>;
using One = StageOne;
using Two = StageTwo;

// The formats in the format list's order. Why today's formats have these defaults: README.md.
// clang-format off
inline constexpr FormatInfo table[] = {
//   item text                        name     ext      stage one          stage two       video        audio      keeps  quality  reads               video            fps         size        rate     bits    ch
    {"RMVB(RealPlayerRMVB)",          "RMVB",  ".rmvb", One::Intermediate, Two::RealMedia, nullptr,     nullptr,   false,  0,  0, R{S, S, S, A, S, N}, "1200",          "29",       "原始大小", "44100", "320",  1},
    {"RM(RealPlayerRM)",              "RM",    ".rm",   One::Intermediate, Two::RealMedia, nullptr,     nullptr,   false,  0,  0, R{S, S, S, A, S, N}, "1200",          "29",       "原始大小", "44100", "320",  1},
    {"MPG(MPEG2)",                    "MPG",   ".mpg",  One::Mpeg2,        Two::None,      nullptr,     nullptr,   false,  0,  0, R{N, A, N, N, A, A}, "600",           "24",       "原始大小", "28000", "64",   1},
    {"AVI(Windows Media Player格式)", "AVI",   ".avi",  One::Mpeg2,        Two::None,      nullptr,     nullptr,   false,  0,  0, R{N, A, N, N, A, A}, "600",           "24",       "原始大小", "28000", "64",   1},
    {"MP4(高清MPEG4格式)",            "MPEG4", ".mp4",  One::Mpeg4,        Two::None,      nullptr,     nullptr,   false,  0,  0, R{N, A, N, N, A, N}, "1200",          "29",       "原始大小", "48000", "320",  1},
    {"MOV(QuickTime格式)",            "MOV",   ".mov",  One::Intermediate, Two::QuickTime, nullptr,     nullptr,   false,  0,  0, R{N, N, N, A, N, N}, "256",           "29",       "原始大小", "48000", "64",   1},
    {"MP4(手机MP4格式)",              "MP4",   ".mp4",  One::Intermediate, Two::Mobile,    nullptr,     nullptr,   false,  0,  0, R{N, N, N, A, N, N}, "128",           "29",       "320x240",  "8000",  "12.2", 0},
    {"3GP(手机3GP格式)",              "3GP",   ".3gp",  One::Intermediate, Two::Mobile,    nullptr,     nullptr,   false,  0,  0, R{N, N, N, A, N, N}, "128",           "29",       "320x240",  "8000",  "12.2", 0},
    {"MP3(纯音频格式)",               "MP3",   ".mp3",  One::Mp3,          Two::None,      nullptr,     nullptr,   false,  0,  0, R{A, A, A, N, N, N}, nullptr,         nullptr,    nullptr,    "48000", "320",  1},
    {"MP4(H.264通用格式)",            "H264",  ".mp4",  One::Coder,        Two::None,      "libx264",   "aac",     true,  22, 51, R{A, A, A, A, A, A}, "画质优先",       "原始帧率", "原始大小", "48000", "128",  1},
    {"MP4(H.265高效格式)",            "H265",  ".mp4",  One::Coder,        Two::None,      "libx265",   "aac",     true,  26, 51, R{A, A, A, A, A, A}, "画质优先",       "原始帧率", "原始大小", "48000", "128",  1},
    {"WebM(AV1网页格式)",             "AV1",   ".webm", One::Coder,        Two::None,      "libsvtav1", "libopus", true,  35, 63, R{A, A, A, A, A, A}, "画质优先",       "原始帧率", "原始大小", "48000", "96",   1},
    {"M4A(AAC音频)",                  "M4A",   ".m4a",  One::Coder,        Two::None,      nullptr,     "aac",     false,  0,  0, R{A, A, A, N, N, N}, nullptr,         nullptr,    nullptr,    "48000", "192",  1},
    // Lossless: its size follows the sound, and it reads no bitrate.
    {"FLAC(无损音频)",                "FLAC",  ".flac", One::Coder,        Two::None,      nullptr,     "flac",    false,  0,  0, R{A, N, A, N, N, N}, nullptr,         nullptr,    nullptr,    "48000", nullptr, 1},
};
// clang-format on
} // namespace Rows

constexpr int Count = int(std::size(Rows::table));

// The formats the engine names: the first nine are the formats of old, the rest today's.
// clang-format off
enum Format { RMVB = 0, RM, MPG, AVI, MPEG4, MOV, MobileMP4, ThreeGP, MP3, H264, H265, AV1, M4A, FLAC };
// clang-format on
static_assert(FLAC < Count, "every named format has its row");

bool isValid(int format);
// The row of a valid format.
const FormatInfo &info(int format);
QString itemText(int format);  // "RMVB(RealPlayerRMVB)" ...
QString shortName(int format); // "RMVB", "RM", "MPG", ... "FLAC"
QString extension(int format); // ".rmvb" ... with its dot
bool isTwoStage(int format);   // conv writes the intermediate file, an encoder the output
// The format whose short name this is, in any case, or -1.
int byShortName(const QString &name);

// The sentinel of the frame size list; compared exactly.
QString keepSourceSize();
// "原始帧率": formats that keep the source's rate then do. The window offers it as the frame
// rate list's last item while such a format is chosen; the formats of old would read it as any
// other text.
QString keepSourceFrameRate();
bool keepsFrameRate(int format);
// "画质优先": the video bitrate the encoder chooses for a quality level of its own,
// spending bits where the picture needs them. The window offers it as the video bitrate list's
// first item while a format with a quality level is chosen, and those formats' defaults choose
// it.
QString qualityItem();
// The quality level of the format, 0 when it offers none.
int quality(int format);

// One of the six editable parameter lists of the window.
struct ParameterList
{
    QString objectName; // cmbR, cmbBR, ...
    QString caption;    // "声音频率：" ...
    QString toolTip;
    QStringList items;
};
const ParameterList &parameterList(ParameterListId id);

// Whether the format's commands read the list's value, given the frame size list's text. A
// format without a row (an index the program does not know) reads every list.
bool readsList(int format, ParameterListId list, const QString &frameSizeText);

// What choosing a format writes into the lists, in this order: video bitrate, frame rate,
// frame size, sample rate, audio bitrate, channel index.
struct Defaults
{
    std::optional<QString> videoBitrate;
    std::optional<QString> frameRate;
    std::optional<QString> frameSize;
    QString sampleRate;
    std::optional<QString> audioBitrate;
    int channelIndex = 1;
};
std::optional<Defaults> defaults(int format);
// The whole parameter set of a freshly started window once the format is chosen: its defaults
// over those of the first format, which start-up chooses before any other.
ParameterSet defaultParameters(int format);

} // namespace Formats
