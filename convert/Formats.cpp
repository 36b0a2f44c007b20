#include "convert/Formats.h"

#include "tools/Codecs.h"

namespace {

// A row the tools cannot write fails the build, not every file: its encoders have their rows
// in the tools' codec table, and its highest quality level is that table's.
constexpr bool toolsKnow(const Formats::FormatInfo &row)
{
    if (row.stageOne != Formats::StageOne::Coder)
        return true;
    if (row.videoCodec && Codecs::videoIndex(row.videoCodec) < 0)
        return false;
    if (row.audioCodec && Codecs::audioIndex(row.audioCodec) < 0)
        return false;
    return row.quality == 0 ? row.mostQuality == 0
                            : row.mostQuality == Codecs::mostQuality(row.videoCodec) &&
                                  row.quality <= row.mostQuality;
}

constexpr bool everyRowKnown()
{
    for (const Formats::FormatInfo &row : Formats::Rows::table)
        if (!toolsKnow(row))
            return false;
    return true;
}
static_assert(everyRowKnown(), "every format's encoders are in tools/Codecs.h");

} // namespace

namespace Formats {

namespace {

QStringList split(const char *items)
{
    return QString::fromUtf8(items).split(QLatin1Char('|'));
}

} // namespace

bool isValid(int format)
{
    return format >= 0 && format < Count;
}

const FormatInfo &info(int format)
{
    Q_ASSERT(isValid(format));
    return Rows::table[format];
}

QString itemText(int format)
{
    return isValid(format) ? QString::fromUtf8(info(format).itemText) : QString();
}

QString shortName(int format)
{
    return isValid(format) ? QString::fromUtf8(info(format).shortName) : QString();
}

QString extension(int format)
{
    return isValid(format) ? QString::fromUtf8(info(format).extension) : QString();
}

bool isTwoStage(int format)
{
    return isValid(format) && info(format).stageTwo != StageTwo::None;
}

int byShortName(const QString &name)
{
    for (int format = 0; format < Count; ++format)
        if (shortName(format).compare(name, Qt::CaseInsensitive) == 0)
            return format;
    return -1;
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
    return isValid(format) && info(format).keepsFrameRate;
}

QString qualityItem()
{
    return QStringLiteral("画质优先");
}

int quality(int format)
{
    return isValid(format) ? info(format).quality : 0;
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
    if (!isValid(format) || column < 0 || column >= ParameterListCount)
        return true;
    switch (info(format).reads[column]) {
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
    const FormatInfo &row = info(format);
    Defaults d;
    if (row.videoBitrate) {
        d.videoBitrate = QString::fromUtf8(row.videoBitrate);
        d.frameRate = QString::fromUtf8(row.frameRate);
        d.frameSize = QString::fromUtf8(row.frameSize);
    }
    d.sampleRate = QString::fromUtf8(row.sampleRate);
    if (row.audioBitrate)
        d.audioBitrate = QString::fromUtf8(row.audioBitrate);
    d.channelIndex = row.channelIndex;
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
