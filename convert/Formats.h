#pragma once

#include "convert/ParameterSet.h"

#include <QString>
#include <QStringList>
#include <optional>

// The output formats and the six parameter lists, as data that the window and the headless
// mode both read. A format's index is its identity everywhere in the engine: the first nine are
// the formats of old, the five after them today's (written in one run of coder each).
namespace Formats {

enum Format {
    RMVB = 0,
    RM,
    MPG,
    AVI,
    MPEG4,
    MOV,
    MobileMP4,
    ThreeGP,
    MP3,
    H264,
    H265,
    AV1,
    M4A,
    FLAC
};
constexpr int Count = 14;

bool isValid(int format);
QString itemText(int format); // "RMVB(RealPlayerRMVB)" ...
// "RMVB", "RM", "MPG", "AVI", "MPEG4", "MOV", "MP4", "3GP", "MP3", "H264", "H265", "AV1", "M4A",
// "FLAC"
QString shortName(int format);
QString extension(int format); // ".rmvb" ... with its dot
bool isTwoStage(int format);   // conv writes the intermediate file, an encoder the output

// The sentinel of the frame size list; compared exactly.
QString keepSourceSize();
// "原始帧率": today's video formats then keep the source's rate. The window offers it as the
// frame rate list's last item while such a format is chosen; the formats of old would read it
// as any other text.
QString keepSourceFrameRate();
// Whether the format's command can keep the source's frame rate (H264, H265, AV1); the audio
// formats read no frame rate at all.
bool keepsFrameRate(int format);

// One of the six editable parameter lists of the window.
struct ParameterList
{
    QString objectName; // cmbR, cmbBR, ...
    QString caption;    // "声音频率：" ...
    QString toolTip;
    QStringList items;
};

enum ParameterListId { SampleRate, AudioBitrate, Channel, FrameSize, VideoBitrate, FrameRate };
constexpr int ParameterListCount = 6;
const ParameterList &parameterList(ParameterListId id);

// Whether the format's commands read the list's value, given the frame size list's text: RMVB
// and RM read their audio and video values only once a size other than "原始大小" is chosen. A
// format without a row here (an index the program does not know) reads every list.
bool readsList(int format, ParameterListId list, const QString &frameSizeText);

// What choosing a format writes into the lists, in this order: video bitrate, frame rate,
// frame size, sample rate, audio bitrate, channel index. The audio formats (MP3, M4A, FLAC)
// leave the video lists alone, and FLAC, which has no bitrate, the audio bitrate list too.
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
