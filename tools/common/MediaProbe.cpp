#include "MediaProbe.h"

#include "Signals.h"
#include "ToolContract.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace MediaProbe {

namespace {

constexpr int BufferSize = 1 << 16;
// Timestamps that go back further than pictures are ever reordered start again: recordings
// joined end to end.
constexpr double RestartSeconds = 1.0;

// The libraries read the open file through these, never through a name.
struct Reader
{
    int fd;
    int64_t offset = 0;
};

int readPacket(void *opaque, uint8_t *buffer, int size)
{
    Reader &reader = *static_cast<Reader *>(opaque);
    ssize_t got;
    do
        got = pread(reader.fd, buffer, size_t(size), reader.offset);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return AVERROR(errno);
    if (got == 0)
        return AVERROR_EOF;
    reader.offset += got;
    return int(got);
}

int64_t seekTo(void *opaque, int64_t offset, int whence)
{
    Reader &reader = *static_cast<Reader *>(opaque);
    struct stat status = {};
    if (fstat(reader.fd, &status) != 0)
        return AVERROR(errno);
    if (whence & AVSEEK_SIZE)
        return status.st_size;
    int64_t position = -1;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        position = offset;
        break;
    case SEEK_CUR:
        position = reader.offset + offset;
        break;
    case SEEK_END:
        position = status.st_size + offset;
        break;
    }
    if (position < 0)
        return AVERROR(EINVAL);
    reader.offset = position;
    return position;
}

int interrupted(void *)
{
    return Signals::received() != 0;
}

std::string errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

struct Opened
{
    Reader reader;
    AVFormatContext *context = nullptr;
    AVIOContext *io = nullptr;
    ~Opened()
    {
        avformat_close_input(&context);
        if (io)
            av_freep(&io->buffer);
        avio_context_free(&io);
    }
};

SourceInfo::Fields fieldsOf(AVFieldOrder order)
{
    switch (order) {
    case AV_FIELD_PROGRESSIVE:
        return SourceInfo::Fields::Progressive;
    case AV_FIELD_TT:
    case AV_FIELD_TB:
        return SourceInfo::Fields::TopFirst;
    case AV_FIELD_BB:
    case AV_FIELD_BT:
        return SourceInfo::Fields::BottomFirst;
    default:
        return SourceInfo::Fields::Unknown;
    }
}

void readPicture(AVFormatContext *context, AVStream *stream, SourceInfo::Picture &picture)
{
    const AVCodecParameters *codec = stream->codecpar;
    picture.width = codec->width;
    picture.height = codec->height;
    // ffmpeg shows the stream's pixel shape before the codec's, as this does.
    const AVRational sar = av_guess_sample_aspect_ratio(context, stream, nullptr);
    if (sar.num > 0 && sar.den > 0) {
        picture.sarNum = sar.num;
        picture.sarDen = sar.den;
    }
    // ffmpeg turns the picture by the opposite of the angle its display matrix is rotated by.
    if (const uint8_t *matrix =
            av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr)) {
        const double degrees = -av_display_rotation_get(reinterpret_cast<const int32_t *>(matrix));
        if (std::isfinite(degrees)) {
            const long quarter = std::lround(std::fmod(degrees, 360) / 90);
            picture.rotation = int(((quarter % 4) + 4) % 4) * 90;
        }
    }
    picture.fields = fieldsOf(codec->field_order);
    if (const char *format = av_get_pix_fmt_name(AVPixelFormat(codec->format)))
        picture.pixelFormat = format;
    picture.range = codec->color_range == AVCOL_RANGE_MPEG   ? "tv"
                    : codec->color_range == AVCOL_RANGE_JPEG ? "pc"
                                                             : "";
    if (codec->color_space != AVCOL_SPC_UNSPECIFIED && codec->color_space != AVCOL_SPC_RESERVED)
        if (const char *matrix = av_color_space_name(codec->color_space))
            picture.matrix = matrix;
    if (codec->color_trc != AVCOL_TRC_UNSPECIFIED && codec->color_trc != AVCOL_TRC_RESERVED)
        if (const char *transfer = av_color_transfer_name(codec->color_trc))
            picture.transfer = transfer;
    if (codec->color_primaries != AVCOL_PRI_UNSPECIFIED &&
        codec->color_primaries != AVCOL_PRI_RESERVED)
        if (const char *primaries = av_color_primaries_name(codec->color_primaries))
            picture.primaries = primaries;
    const AVRational rate =
        stream->r_frame_rate.num > 0 ? stream->r_frame_rate : stream->avg_frame_rate;
    picture.rate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
    picture.still = stream->disposition & AV_DISPOSITION_ATTACHED_PIC;
    picture.stream = stream->index;
    picture.codec = avcodec_get_name(codec->codec_id);
}

// A stream's language tag when it is one (ISO 639 letters), else nothing: it goes into notes.
std::string languageOf(const AVStream *stream)
{
    const AVDictionaryEntry *tag = av_dict_get(stream->metadata, "language", nullptr, 0);
    const std::string language = tag ? tag->value : "";
    if (language.size() < 2 || language.size() > 3 ||
        language.find_first_not_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos ||
        language == "und")
        return {};
    return language;
}

SourceInfo::Sound soundOf(AVStream *stream)
{
    SourceInfo::Sound sound;
    sound.stream = stream->index;
    sound.channels = stream->codecpar->ch_layout.nb_channels;
    sound.sampleRate = stream->codecpar->sample_rate;
    sound.flaggedDefault = stream->disposition & AV_DISPOSITION_DEFAULT;
    sound.language = languageOf(stream);
    return sound;
}

SourceInfo::Subtitle subtitleOf(AVStream *stream)
{
    SourceInfo::Subtitle subtitle;
    subtitle.stream = stream->index;
    const AVCodecDescriptor *codec = avcodec_descriptor_get(stream->codecpar->codec_id);
    subtitle.text = codec && (codec->props & AV_CODEC_PROP_TEXT_SUB);
    subtitle.flaggedDefault = stream->disposition & AV_DISPOSITION_DEFAULT;
    subtitle.forced = stream->disposition & AV_DISPOSITION_FORCED;
    subtitle.language = languageOf(stream);
    return subtitle;
}

// One stream's packets as they come: the time they span, and the leaps in between. The frames
// are taken in the order they are shown (as the filters see them), one stretch of the file at a
// time: where the decoding times start again (recordings joined end to end), a new stretch
// begins.
struct Track
{
    bool video = false;
    double timeBase = 0;
    double frame = 0; // a frame's length where a packet does not say
    double start = 0; // of the file, on its timeline: ffmpeg's 0
    double span = 0;  // the time the packets cover
    long long packets = 0;
    std::vector<SourceInfo::Leap> leaps; // on ffmpeg's timeline
    std::vector<Leap> found;             // on the content's

    void add(const AVPacket &packet)
    {
        ++packets;
        const double duration = packet.duration > 0 ? packet.duration * timeBase : frame;
        const int64_t decoding = packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
        if (decoding != AV_NOPTS_VALUE) {
            const double decoded = decoding * timeBase;
            if (decoded < m_decoded - RestartSeconds)
                close();
            m_decoded = decoded;
        }
        if (packet.pts == AV_NOPTS_VALUE && decoding == AV_NOPTS_VALUE) {
            span += duration;
            return;
        }
        m_stretch.push_back(
            {(packet.pts != AV_NOPTS_VALUE ? packet.pts : decoding) * timeBase, duration});
    }

    // Ends a stretch of the file: its frames in the order they are shown, and the leaps between.
    void close()
    {
        std::sort(m_stretch.begin(), m_stretch.end());
        double end = m_stretch.empty() ? 0 : m_stretch.front().first;
        for (const auto &[shown, duration] : m_stretch) {
            const double gap = shown - end;
            if (gap > LeapSeconds) {
                leaps.push_back({end + gap / 2 - start, gap});
                found.push_back({video, span, gap});
                span += duration;
                end = shown + duration;
            } else if (shown + duration > end) {
                span += shown + duration - end;
                end = shown + duration;
            }
        }
        m_stretch.clear();
    }

private:
    std::vector<std::pair<double, double>> m_stretch; // shown at, for how long
    double m_decoded = -1e300;
};

// The creation time the file or, failing that, its first stream is tagged with; only a time's
// own characters pass, nothing a tag could say besides.
std::string creationTime(const AVFormatContext *context)
{
    const AVDictionaryEntry *tag = av_dict_get(context->metadata, "creation_time", nullptr, 0);
    for (unsigned i = 0; !tag && i < context->nb_streams; ++i)
        tag = av_dict_get(context->streams[i]->metadata, "creation_time", nullptr, 0);
    // AVI keeps it as its date (the intermediate file of the two-stage formats); a date alone,
    // without the time of day, is too short to pass below.
    if (!tag)
        tag = av_dict_get(context->metadata, "date", nullptr, 0);
    const std::string time = tag ? tag->value : "";
    if (time.size() < 19 || time.size() > 40 ||
        time.find_first_not_of("0123456789-:.TZ+ ") != std::string::npos)
        return {};
    return time;
}

Facts failed(std::string why, bool refused = false)
{
    Facts facts;
    facts.failure = std::move(why);
    facts.refused = refused;
    return facts;
}

// Opens the file with the libraries; an error code of theirs when they cannot.
int open(Opened &file, int fd, const std::string &name, const char *formats)
{
    file.reader.fd = fd;
    auto *buffer = static_cast<unsigned char *>(av_malloc(BufferSize));
    file.io = buffer ? avio_alloc_context(buffer, BufferSize, 0, &file.reader, readPacket, nullptr,
                                          seekTo)
                     : nullptr;
    if (!file.io)
        av_free(buffer);
    file.context = file.io ? avformat_alloc_context() : nullptr;
    if (!file.context)
        return AVERROR(ENOMEM);
    file.context->pb = file.io;
    file.context->flags |= AVFMT_FLAG_CUSTOM_IO;
    file.context->interrupt_callback = {interrupted, nullptr};
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", ToolContract::InputProtocols, 0);
    if (formats)
        av_dict_set(&options, "format_whitelist", formats, 0);
    // The name only helps to tell elementary streams apart by their extension.
    const int code = avformat_open_input(&file.context, name.c_str(), nullptr, &options);
    av_dict_free(&options);
    return code;
}

// Whether the file is media of a kind the tools do not read (a playlist, a list of files, an
// image sequence), told by the libraries' guess alone: such a format is never opened, for it
// would open the files it names.
bool unlisted(int fd, const std::string &name)
{
    Reader reader{fd};
    auto *buffer = static_cast<unsigned char *>(av_malloc(BufferSize));
    AVIOContext *io =
        buffer ? avio_alloc_context(buffer, BufferSize, 0, &reader, readPacket, nullptr, seekTo)
               : nullptr;
    if (!io) {
        av_free(buffer);
        return false;
    }
    const AVInputFormat *format = nullptr;
    const bool guessed = av_probe_input_buffer2(io, &format, name.c_str(), nullptr, 0, 0) >= 0;
    av_freep(&io->buffer);
    avio_context_free(&io);
    if (!guessed || !format)
        return false;
    const std::string listed = std::string(",") + ToolContract::InputFormats + ",";
    const std::string names = format->name;
    for (size_t start = 0; start <= names.size();) {
        const size_t end = std::min(names.find(',', start), names.size());
        if (listed.find("," + names.substr(start, end - start) + ",") != std::string::npos)
            return false;
        start = end + 1;
    }
    return true;
}

} // namespace

Facts read(int fd, const std::string &name, bool input)
{
    av_log_set_level(AV_LOG_QUIET);
    Opened file;
    int code = open(file, fd, name, input ? ToolContract::InputFormats : nullptr);
    if (code < 0)
        return failed(code == AVERROR(ENOMEM) ? ToolContract::Error::OutOfMemory : errorText(code),
                      input && unlisted(fd, name));
    AVFormatContext *context = file.context;
    if ((code = avformat_find_stream_info(context, nullptr)) < 0)
        return failed(errorText(code));

    Facts facts;
    facts.opened = true;
    const std::string names = context->iformat->name;
    facts.demuxer = names.substr(0, names.find(','));
    if (context->duration != AV_NOPTS_VALUE && context->duration >= 0)
        facts.headerLength = double(context->duration) / AV_TIME_BASE;
    const bool guessed = context->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
    facts.headerGuessed = guessed;
    const double start =
        context->start_time != AV_NOPTS_VALUE ? double(context->start_time) / AV_TIME_BASE : 0;
    facts.discontinuous = context->iformat->flags & AVFMT_TS_DISCONT;
    facts.creationTime = creationTime(context);

    std::map<int, Track> tracks;
    int pictureStream = -1;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        AVStream *stream = context->streams[i];
        const AVMediaType type = stream->codecpar->codec_type;
        const bool cover = stream->disposition & AV_DISPOSITION_ATTACHED_PIC;
        if (type == AVMEDIA_TYPE_VIDEO) {
            (cover ? facts.cover : facts.video) = true;
            if (!facts.source.hasPicture) {
                facts.source.hasPicture = true;
                pictureStream = int(i);
                readPicture(context, stream, facts.source.picture);
            }
        } else if (type == AVMEDIA_TYPE_AUDIO) {
            facts.audio = true;
            facts.source.sounds.push_back(soundOf(stream));
        } else if (type == AVMEDIA_TYPE_SUBTITLE) {
            facts.source.subtitles.push_back(subtitleOf(stream));
        }
        if (type == AVMEDIA_TYPE_VIDEO && !cover)
            ++facts.source.pictures;
        if ((type == AVMEDIA_TYPE_VIDEO && !cover) || type == AVMEDIA_TYPE_AUDIO) {
            Track &track = tracks[int(i)];
            track.video = type == AVMEDIA_TYPE_VIDEO;
            track.timeBase = av_q2d(stream->time_base);
            track.start = start;
            const AVRational rate =
                stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
            track.frame = track.video && rate.num > 0 && rate.den > 0 ? av_q2d(av_inv_q(rate)) : 0;
        }
    }

    AVPacket *packet = av_packet_alloc();
    while (packet && Signals::received() == 0 && av_read_frame(context, packet) >= 0) {
        const auto track = tracks.find(packet->stream_index);
        if (track != tracks.end())
            track->second.add(*packet);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);

    const int chosen = facts.source.chosenSound();
    for (auto &[index, track] : tracks) {
        track.close();
        (track.video ? facts.videoFrames : facts.audioFrames) += track.packets;
        const bool played = index == pictureStream ||
                            (chosen >= 0 && index == facts.source.sounds[size_t(chosen)].stream);
        if (track.span > 0 && played)
            facts.length = std::max(facts.length, track.span);
        if (chosen >= 0 && index == facts.source.sounds[size_t(chosen)].stream && track.packets > 0)
            facts.audioLength = facts.source.soundLength = track.span;
        if (played)
            facts.leaps.insert(facts.leaps.end(), track.found.begin(), track.found.end());
        if (index == pictureStream)
            facts.source.picture.leaps = track.leaps;
        for (SourceInfo::Sound &sound : facts.source.sounds)
            if (sound.stream == index)
                sound.leaps = track.leaps;
    }
    if (facts.length < 0) {
        facts.length = facts.headerLength;
        facts.estimated = guessed;
    }
    return facts;
}

std::string describe(const Leap &leap)
{
    char text[128];
    std::snprintf(text, sizeof text, "%.1f s at %.1f s", leap.length, leap.at);
    return text;
}

} // namespace MediaProbe
