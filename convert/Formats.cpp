#include "convert/Formats.h"

#include <array>
#include <iterator>

namespace Formats {

namespace {

struct FormatInfo
{
    const char *itemText;
    const char *shortName;
    const char *extension;
    bool twoStage;
    const char *videoBitrate; // nullptr: the format leaves the video lists alone
    const char *frameRate;
    const char *frameSize;
    const char *sampleRate;
    const char *audioBitrate; // nullptr: the format has no audio bitrate and leaves its list alone
    int channelIndex;
};

const std::array<FormatInfo, Count> formats = {{
    {"RMVB(RealPlayerRMVB)", "RMVB", ".rmvb", true, "1200", "29", "原始大小", "44100", "320", 1},
    {"RM(RealPlayerRM)", "RM", ".rm", true, "1200", "29", "原始大小", "44100", "320", 1},
    {"MPG(MPEG2)", "MPG", ".mpg", false, "600", "24", "原始大小", "28000", "64", 1},
    {"AVI(Windows Media Player格式)", "AVI", ".avi", false, "600", "24", "原始大小", "28000", "64",
     1},
    {"MP4(高清MPEG4格式)", "MPEG4", ".mp4", false, "1200", "29", "原始大小", "48000", "320", 1},
    {"MOV(QuickTime格式)", "MOV", ".mov", true, "256", "29", "原始大小", "48000", "64", 1},
    {"MP4(手机MP4格式)", "MP4", ".mp4", true, "128", "29", "320x240", "8000", "12.2", 0},
    {"3GP(手机3GP格式)", "3GP", ".3gp", true, "128", "29", "320x240", "8000", "12.2", 0},
    {"MP3(纯音频格式)", "MP3", ".mp3", false, nullptr, nullptr, nullptr, "48000", "320", 1},
    // Today's formats keep the source's size and rate; why these bitrates, see README.md.
    {"MP4(H.264通用格式)", "H264", ".mp4", false, "1500", "原始帧率", "原始大小", "48000", "128",
     1},
    {"MP4(H.265高效格式)", "H265", ".mp4", false, "1000", "原始帧率", "原始大小", "48000", "128",
     1},
    {"WebM(AV1网页格式)", "AV1", ".webm", false, "800", "原始帧率", "原始大小", "48000", "96", 1},
    {"M4A(AAC音频)", "M4A", ".m4a", false, nullptr, nullptr, nullptr, "48000", "192", 1},
    {"FLAC(无损音频)", "FLAC", ".flac", false, nullptr, nullptr, nullptr, "48000", nullptr, 1},
}};

// When a list's value reaches a format's commands.
enum class Reads : unsigned char { Never, Always, WithSize };

// One row per format, in the format list's order; the columns follow ParameterListId: sample
// rate, audio bitrate, channels, frame size, video bitrate, frame rate. The two-stage formats
// never read the frame rate; MOV and the mobile formats read only the size.
constexpr Reads N = Reads::Never, A = Reads::Always, S = Reads::WithSize;
const std::array<Reads, ParameterListCount> listReads[] = {
    {S, S, S, A, S, N}, // RMVB
    {S, S, S, A, S, N}, // RM
    {N, A, N, N, A, A}, // MPG
    {N, A, N, N, A, A}, // AVI
    {N, A, N, N, A, N}, // MPEG4
    {N, N, N, A, N, N}, // MOV
    {N, N, N, A, N, N}, // mobile MP4
    {N, N, N, A, N, N}, // 3GP
    {A, A, A, N, N, N}, // MP3
    {A, A, A, A, A, A}, // H264
    {A, A, A, A, A, A}, // H265
    {A, A, A, A, A, A}, // AV1
    {A, A, A, N, N, N}, // M4A
    {A, N, A, N, N, N}, // FLAC: lossless, no bitrate
};

QStringList split(const char *items)
{
    return QString::fromUtf8(items).split(QLatin1Char('|'));
}

} // namespace

bool isValid(int format)
{
    return format >= 0 && format < Count;
}

QString itemText(int format)
{
    return isValid(format) ? QString::fromUtf8(formats[format].itemText) : QString();
}

QString shortName(int format)
{
    return isValid(format) ? QString::fromUtf8(formats[format].shortName) : QString();
}

QString extension(int format)
{
    return isValid(format) ? QString::fromUtf8(formats[format].extension) : QString();
}

bool isTwoStage(int format)
{
    return isValid(format) && formats[format].twoStage;
}

QString keepSourceSize()
{
    return QStringLiteral("原始大小");
}

QString keepSourceFrameRate()
{
    return QStringLiteral("原始帧率");
}

bool keepsFrameRate(int format)
{
    return format == H264 || format == H265 || format == AV1;
}

const ParameterList &parameterList(ParameterListId id)
{
    static const std::array<ParameterList, ParameterListCount> lists = {{
        {QStringLiteral("cmbR"), QStringLiteral("声音频率："), QStringLiteral("Audio Rate"),
         split("48000|44100|32000|24000|22050|16000|12050|8000")},
        {QStringLiteral("cmbBR"), QStringLiteral("声音比特率："), QStringLiteral("Audio Bitrate"),
         split("10.2|12.2|32|48|56|64|80|96|112|128|192|224|256|320")},
        {QStringLiteral("cmbChannel"), QStringLiteral("声道："),
         QStringLiteral("Channel(Stereo or Mono)"), split("单声道|双声道")},
        {QStringLiteral("cmbS"), QStringLiteral("视频尺寸："), QStringLiteral("Size"),
         split("原始大小|128x96|160x120|176x144|320x180|320x240|352x288|640x272|480x480|640x360|"
               "640x480|720x306|720x320")},
        {QStringLiteral("cmbVB"), QStringLiteral("视频比特率："), QStringLiteral("Size"),
         split("40|80|120|128|256|384|512|600|640|768|800|900|1000|1500")},
        {QStringLiteral("cmbF"), QStringLiteral("帧率："), QStringLiteral("Size"),
         split("15|23|29")},
    }};
    return lists[id];
}

bool readsList(int format, ParameterListId list, const QString &frameSizeText)
{
    const int column = static_cast<int>(list);
    if (format < 0 || format >= int(std::size(listReads)) || column < 0 ||
        column >= ParameterListCount)
        return true;
    switch (listReads[format][column]) {
    case Reads::Never:
        return false;
    case Reads::WithSize:
        return frameSizeText != keepSourceSize();
    case Reads::Always:
        break;
    }
    return true;
}

std::optional<Defaults> defaults(int format)
{
    if (!isValid(format))
        return std::nullopt;
    const FormatInfo &info = formats[format];
    Defaults d;
    if (info.videoBitrate) {
        d.videoBitrate = QString::fromUtf8(info.videoBitrate);
        d.frameRate = QString::fromUtf8(info.frameRate);
        d.frameSize = QString::fromUtf8(info.frameSize);
    }
    d.sampleRate = QString::fromUtf8(info.sampleRate);
    if (info.audioBitrate)
        d.audioBitrate = QString::fromUtf8(info.audioBitrate);
    d.channelIndex = info.channelIndex;
    return d;
}

ParameterSet defaultParameters(int format)
{
    // Start-up selects RMVB before any other format, so a format that leaves the video lists
    // alone (MP3, M4A, FLAC) finds RMVB's values there.
    const Defaults start = *defaults(RMVB);
    const Defaults chosen = defaults(format).value_or(start);
    ParameterSet set;
    set.format = format;
    set.sampleRate = chosen.sampleRate;
    set.audioBitrate = chosen.audioBitrate.value_or(*start.audioBitrate);
    set.channelCount = chosen.channelIndex + 1;
    set.videoBitrate = chosen.videoBitrate.value_or(*start.videoBitrate);
    set.frameRate = chosen.frameRate.value_or(*start.frameRate);
    set.frameSize = chosen.frameSize.value_or(*start.frameSize);
    return set;
}

} // namespace Formats
