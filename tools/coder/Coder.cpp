#include "coder/Coder.h"

#include "Codecs.h"
#include "ToolContract.h"
#include "coder/AmrEncoder.h"
#include "coder/CoderOptions.h"
#include "coder/CoderRequest.h"
#include "coder/Encoders.h"
#include "common/FfmpegRun.h"
#include "common/FfmpegText.h"
#include "common/FrameFit.h"
#include "common/Heartbeat.h"
#include "common/InputFile.h"
#include "common/MemoryFile.h"
#include "common/Notes.h"
#include "common/OutputFile.h"
#include "common/PictureFilters.h"
#include "common/Signals.h"
#include "common/SoundFilters.h"
#include "common/ToolFailure.h"
#include "common/ToolStopped.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// ffmpeg's RealMedia muxer takes a video frame as one packet of at most 65535 bytes with its
// headers. The rate control keeps every frame within that: a buffer (VBV) of that size which
// refills at once, so that a frame over it is encoded again with a coarser quantiser. The
// buffer must hold the average frame (bitrate / frame rate), so the frame rate is kept at
// least high enough for that. A picture too detailed even at the coarsest quantiser (noise)
// is encoded again from the start, smaller.
constexpr long MaxRealMediaFrame = 65535 - 23;
constexpr long RealMediaBuffer = MaxRealMediaFrame * 8; // bits
constexpr int MaxRealMediaAttempts = 6;

// The share of coder2's progress that its AMR pass shows: it decodes the whole input once more,
// for sound only, which takes about a fifth of the whole run.
constexpr double AmrShare = 0.2;

std::vector<std::string> realMediaGuard()
{
    // The buffer refills within one frame up to 120 frames a second.
    return {"-maxrate",           std::to_string(RealMediaBuffer * 120),
            "-bufsize",           std::to_string(RealMediaBuffer),
            "-rc_init_occupancy", std::to_string(RealMediaBuffer),
            "-rc_max_vbv_use",    "1"};
}

std::string realMediaFrameRate(double bitrate)
{
    char rate[64];
    std::snprintf(rate, sizeof rate, "%.3f", bitrate / (RealMediaBuffer * 0.8));
    // ffmpeg takes 25 frames a second for an input that names no rate.
    return std::string("max(if(gt(source_fps,0),source_fps,25),") + rate + ")";
}

std::string number(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string upper(std::string text)
{
    for (char &c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string timeLine(double seconds)
{
    char line[64];
    std::snprintf(line, sizeof line, ToolContract::TimeLineFormat, seconds);
    return line;
}

std::string durationLine(const char *text)
{
    char line[128];
    std::snprintf(line, sizeof line, ToolContract::DurationLineFormat, text);
    return line;
}

void printTime(double seconds)
{
    Heartbeat::print(timeLine(seconds));
}

void append(std::vector<std::string> &arguments, const std::vector<std::string> &more)
{
    arguments.insert(arguments.end(), more.begin(), more.end());
}

// How the written file shows the picture: its rate, size, pixel shape and colours.
PictureFilters::Target pictureTarget(const CoderRequest &request, const Encoders::Video &encoder,
                                     const SourceInfo &source, bool threeGp)
{
    PictureFilters::Target target;
    target.width = request.width;
    target.height = request.height;
    const bool realVideo = encoder.codec == "rv10";
    if (realVideo) {
        // ffmpeg's own rate without -b.
        target.rate = realMediaFrameRate(request.videoBitrate > 0 ? request.videoBitrate : 200000);
    } else if (request.frameRate > 0) {
        target.rate = number(request.frameRate);
        target.rateValue = request.frameRate;
    } else if (encoder.mostFrames > 0 && source.picture.rate > encoder.mostFrames) {
        target.rate = number(encoder.mostFrames);
        target.rateValue = encoder.mostFrames;
    }
    target.shape =
        realVideo ? PictureFilters::Shape::SquarePixels : PictureFilters::Shape::AnyPixels;
    target.stillFor = source.soundLength;
    // What the stream says, and MP4 and MOV say the matrix of any video; 3GP and RealMedia
    // nothing.
    const Codecs::Video *codec = Codecs::videoEncoder(encoder.encoder.c_str());
    if (!codec)
        codec = Codecs::videoCodec(encoder.codec.c_str());
    const bool quickTime = !threeGp && (request.extension == "mp4" || request.extension == "mov" ||
                                        request.extension == "m4v");
    target.tellsColours = (codec && codec->tellsColours) || quickTime;
    target.tellsRange = codec && codec->tellsRange;
    return target;
}

SoundFilters::Target soundTarget(const CoderRequest &request, bool realMedia)
{
    SoundFilters::Target target;
    const Codecs::Audio *encoder =
        Codecs::audioEncoder(request.amr ? "amr_nb" : request.audioEncoder().c_str());
    target.ceiling = encoder ? encoder->ceiling : 0;
    target.channels = request.channels;
    target.alignToPicture = request.video;
    target.encoderRate = request.sampleRate;
    // RealMedia plays its sound from the first packet on; ffmpeg's muxer picks AC-3.
    if (realMedia)
        target.encoderDelay =
            SoundFilters::encoderDelay(request.audioCodec.empty() ? "ac3" : request.audioCodec);
    return target;
}

// The picture's filters: what the source calls for, then what the encoder needs. shrink < 1
// makes the picture smaller still (too detailed for a RealMedia packet at a larger size).
std::string pictureChain(const CoderRequest &request, const Encoders::Video &encoder,
                         const SourceInfo &source, bool threeGp, double shrink)
{
    std::string chain =
        PictureFilters::chain(source.picture, pictureTarget(request, encoder, source, threeGp));
    const auto add = [&chain](const std::string &filter) {
        chain += (chain.empty() ? "" : ",") + filter;
    };
    if (shrink < 1) {
        const std::string factor = std::to_string(shrink);
        add("scale=w='max(2,trunc(iw*" + factor + "/2)*2)':h='max(2,trunc(ih*" + factor +
            "/2)*2)'");
    }
    // 4:2:0 needs an even size at least. Blank rows and columns up to an encoder's smallest
    // picture go around it.
    const Frames::Limits *limits = Frames::limitsOf(encoder.codec.c_str());
    add(limits ? FrameFit::filters(*limits, encoder.codec == "rv10" || limits->minSide > 0)
               : "pad=ceil(iw/2)*2:ceil(ih/2)*2");
    if (!encoder.lastFilter.empty())
        add(encoder.lastFilter);
    return chain;
}

// The picture's options, with its filters as the plan hands them over.
std::vector<std::string> videoArguments(const CoderRequest &request, const Encoders::Video &chosen,
                                        const std::vector<std::string> &filters)
{
    std::vector<std::string> list = chosen.globalOptions;
    // A music file's cover picture is a video stream marked as such; written with that
    // mark, MP4 and WebM would take it for cover art, which their muxers refuse in H.264.
    append(list, {"-map", "0:v:0", "-disposition:v:0", "0"});
    if (!chosen.encoder.empty())
        append(list, {"-c:v", chosen.encoder});
    append(list, chosen.options);
    if (request.videoBitrate > 0)
        append(list, {"-b:v", std::to_string(std::llround(request.videoBitrate))});
    if (request.quality >= 0)
        append(list, Encoders::qualityOptions(chosen, request.quality));
    if (chosen.codec == "rv10")
        append(list, realMediaGuard());
    append(list, filters);
    if (!chosen.hardware())
        append(list, {"-pix_fmt", "yuv420p"});
    // The fps filter makes the rate; these are for a still, which it cannot take.
    if (request.frameRate > 0)
        append(list, {"-r", number(request.frameRate)});
    else if (chosen.mostFrames > 0)
        append(list, {"-fpsmax", number(chosen.mostFrames)});
    if (chosen.fastStart)
        append(list, {"-movflags", "+faststart"});
    return list;
}

// The filters of the chosen sound stream, none without one.
std::string soundChain(const SourceInfo &source, const SoundFilters::Target &target)
{
    const int chosen = source.chosenSound();
    return chosen < 0 ? std::string() : SoundFilters::chain(source.sounds[size_t(chosen)], target);
}

// The sound's options after its -map and filters, and the output's.
std::vector<std::string> audioArguments(const CoderRequest &request, bool amrSound,
                                        const OutputFile &output)
{
    std::vector<std::string> audio;
    if (amrSound) {
        audio = {"-map", "1:a:0", "-c:a", "copy"};
    } else if (!request.amr) {
        if (!request.audioCodec.empty())
            append(audio, {"-c:a", request.audioCodec});
        if (request.sampleRate > 0)
            append(audio, {"-ar", std::to_string(request.sampleRate)});
        if (request.audioBitrate > 0)
            append(audio, {"-b:a", std::to_string(std::llround(request.audioBitrate))});
        if (request.channels > 0)
            append(audio, {"-ac", std::to_string(request.channels)});
    }
    // An audio-only MP4 is streamed as often as a video, so its index goes first too.
    if (request.extension == "m4a")
        append(audio, {"-movflags", "+faststart"});
    // The MP4 muxer refuses AMR; the 3GP muxer writes the same kind of file.
    audio.push_back("-y");
    append(audio,
           output.ffmpegTarget(
               request.format.empty() && amrSound && request.extension == "mp4" ? "3gp" : ""));
    return audio;
}

} // namespace

Coder::Coder(int argc, char **argv) : m_argc(argc), m_argv(argv) {}

Coder::~Coder() = default;

void Coder::run()
{
    m_request = CoderRequest::checked(CoderOptions::parse(m_argc, m_argv));
    const AmrEncoder amrEncoder(
        m_request.amr ? (m_request.audioBitrate > 0 ? m_request.audioBitrate : 12200) : 12200);
    const std::vector<std::string> audioNotes = m_request.fitAudio();
    m_input = std::make_unique<InputFile>(m_request.input);

    OutputFile output(m_request.output, m_request.format);
    output.limitModeTo(m_input->status().st_mode);
    m_output = &output;
    // Until the input's length is known, there is no position to show either.
    Heartbeat::setLine(durationLine(ToolContract::DurationUnknown));
    chooseEncoder();
    for (const std::string &note : audioNotes)
        Notes::print(note);
    m_source = FfmpegRun::readInput(*m_input, m_request.video);
    StreamsKept::noteDropped(m_source.source, kept());
    if (m_request.video && !m_source.source.hasPicture)
        throw toolError(ToolContract::Error::NoVideoStream);
    if (!m_request.video && m_source.source.chosenSound() < 0)
        throw toolError(ToolContract::Error::NoAudioStream);
    if (m_request.amr)
        encodeAmr(amrEncoder);

    for (int attempt = 1;; ++attempt) {
        try {
            encode();
            break;
        } catch (const ToolStopped &) {
            throw;
        } catch (const PacketTooLarge &tooLarge) {
            if (!shrinkFor(tooLarge, attempt))
                throw;
        } catch (const ToolFailure &failure) {
            if (!softwareAfter(failure))
                throw;
        }
    }
    m_input->giveDatesTo(output.descriptor());
    output.commit();
    printTime(std::max(m_shown, m_duration));
    std::printf("\n");
}

void Coder::showDuration(double seconds)
{
    if (m_durationShown)
        return;
    m_durationShown = true;
    m_duration = seconds;
    // A position read before the length would show as done, so the line to repeat is the
    // position only from here on.
    Heartbeat::print(durationLine(seconds >= 0 ? FfmpegText::clock(seconds).c_str()
                                               : ToolContract::DurationUnknown),
                     timeLine(0));
}

void Coder::showPosition(double seconds)
{
    // coder2's AMR pass shows the first AmrShare of the way.
    const double start = m_request.amr ? AmrShare * std::max(m_duration, 0.0) : 0;
    const double shown = start + (m_request.amr ? 1 - AmrShare : 1) * seconds;
    if (shown >= m_shown + 0.01) {
        m_shown = shown;
        printTime(shown);
    }
}

// Hardware H.264 and H.265 where a VAAPI device passes a one-frame test; the log says which
// encoder it was either way. An encoder's frame rate limit is said as well.
void Coder::chooseEncoder()
{
    m_threads = Encoders::threadLimit(m_request.videoCodec);
    m_encoder = Encoders::software(m_request.videoCodec, m_request.extension, m_threads);
    if (m_request.video && Encoders::hasHardwareFor(m_request.videoCodec)) {
        std::string why;
        if (std::optional<Encoders::Video> chip = Encoders::hardware(m_request.videoCodec, why)) {
            m_encoder = *chip;
            Notes::print(ToolContract::HardwareEncoderNote + m_encoder.encoder + " on " +
                         m_encoder.device);
        } else {
            Notes::print(ToolContract::SoftwareEncoderNote + m_encoder.encoder + ": " + why);
        }
        if (Signals::received() != 0)
            throw ToolStopped(Signals::received());
    }
    if (m_request.video && m_encoder.mostFrames > 0 && m_request.frameRate > m_encoder.mostFrames) {
        Notes::print(upper(m_encoder.codec) + ToolContract::FrameRateNote +
                     number(m_request.frameRate) + " fps, it is written at " +
                     number(m_encoder.mostFrames) + " fps");
        m_request.frameRate = m_encoder.mostFrames;
    }
}

// coder2 encodes AMR-NB itself, into memory, before the picture; the AMR audio lives in memory
// only, so that a killed tool leaves no file behind.
void Coder::encodeAmr(const AmrEncoder &encoder)
{
    m_amr = std::make_unique<MemoryFile>("vidmorph-amr");
    double shown = 0;
    m_amrSound = encoder.encode(
        *m_input, m_source, soundChain(m_source.source, soundTarget(m_request, false)), *m_amr,
        [this](double seconds) { showDuration(seconds); },
        [&](double seconds) {
            // Often enough to move, seldom enough not to flood the converter.
            if (seconds * AmrShare >= shown + std::max(0.01, m_duration * 0.0005)) {
                shown = seconds * AmrShare;
                m_shown = shown;
                printTime(shown);
            }
        });
}

// Today's formats name their codecs, and carry every sound track and their text subtitles; a
// FLAC file holds one sound.
StreamsKept::Kept Coder::kept() const
{
    StreamsKept::Kept kept;
    kept.picture = m_request.video;
    kept.everySound =
        !m_request.audioCodec.empty() && !m_request.amr && m_request.extension != "flac";
    kept.textSubtitles = !subtitleCodec().empty();
    return kept;
}

// The text format of subtitles in the output's container; empty where it carries none.
std::string Coder::subtitleCodec() const
{
    if (m_request.audioCodec.empty() || m_request.amr || !m_request.video)
        return {};
    if (m_request.extension == "mp4" || m_request.extension == "m4v" ||
        m_request.extension == "mov")
        return "mov_text";
    if (m_request.extension == "webm")
        return "webvtt";
    return {};
}

// The sound streams in the source's order, each with its own filters, the one a player plays
// flagged default; and the text subtitles with their flags. The sound of an AMR output is the
// one encoded before, an input of its own.
std::vector<std::string> Coder::soundArguments() const
{
    const SourceInfo &source = m_source.source;
    const int chosen = source.chosenSound();
    std::vector<std::string> list;
    if (m_request.amr || chosen < 0)
        return list;
    const SoundFilters::Target target = soundTarget(m_request, m_encoder.codec == "rv10");
    if (!kept().everySound) {
        append(list, {"-map", "0:" + std::to_string(source.sounds[size_t(chosen)].stream), "-af",
                      SoundFilters::chain(source.sounds[size_t(chosen)], target)});
    } else {
        for (size_t i = 0; i < source.sounds.size(); ++i) {
            const std::string n = std::to_string(i);
            append(list, {"-map", "0:" + std::to_string(source.sounds[i].stream), "-filter:a:" + n,
                          SoundFilters::chain(source.sounds[i], target), "-disposition:a:" + n,
                          int(i) == chosen ? "default" : "0"});
        }
    }
    const std::string textCodec = subtitleCodec();
    size_t subtitles = 0;
    for (const SourceInfo::Subtitle &subtitle : source.subtitles) {
        if (textCodec.empty() || !subtitle.text)
            continue;
        const std::string flags = subtitle.flaggedDefault && subtitle.forced ? "default+forced"
                                  : subtitle.flaggedDefault                  ? "default"
                                  : subtitle.forced                          ? "forced"
                                                                             : "0";
        append(list, {"-map", "0:" + std::to_string(subtitle.stream),
                      "-disposition:s:" + std::to_string(subtitles++), flags});
    }
    if (subtitles > 0)
        append(list, {"-c:s", textCodec});
    return list;
}

std::vector<std::string> Coder::arguments() const
{
    // Several conversions at once share the cores: decoding and filtering keep to the same
    // number of threads as the encoder.
    std::vector<std::string> all;
    if (m_threads > 0)
        all = {"-filter_threads", std::to_string(m_threads), "-threads", std::to_string(m_threads)};
    append(all, FfmpegRun::inputArguments(*m_input, m_source));
    if (m_amrSound)
        append(all, {"-protocol_whitelist", "file", "-format_whitelist", "amr", "-f", "amr", "-i",
                     "file:/proc/self/fd/3"});
    const SourceInfo &source = m_source.source;
    if (m_request.video) {
        const bool threeGp = m_request.format == "3gp" || m_request.extension == "3gp" ||
                             m_request.extension == "3g2" ||
                             (m_amrSound && m_request.extension == "mp4");
        const std::string picture = pictureChain(m_request, m_encoder, source, threeGp, m_shrink);
        append(all, videoArguments(m_request, m_encoder,
                                   picture.empty() ? std::vector<std::string>()
                                                   : std::vector<std::string>{"-vf", picture}));
    }
    append(all, soundArguments());
    // A song's cover stays with the song where the container keeps one: ID3's picture, MP4's
    // covr, FLAC's picture block.
    const bool keepsCover = m_request.extension == "mp3" || m_request.extension == "m4a" ||
                            m_request.extension == "flac";
    if (!m_request.video && keepsCover && source.hasPicture && source.picture.still)
        append(all,
               {"-map", "0:" + std::to_string(source.picture.stream), "-c:v",
                source.picture.codec == "mjpeg" || source.picture.codec == "png" ? "copy" : "mjpeg",
                "-disposition:v:0", "attached_pic"});
    // ffmpeg leaves the creation time out of what it copies; the recording's own stays.
    if (!m_source.creationTime.empty())
        append(all, {"-metadata", "creation_time=" + m_source.creationTime});
    append(all, audioArguments(m_request, m_amrSound, *m_output));
    return all;
}

void Coder::encode()
{
    FfmpegRun run(*m_input, m_source, arguments());
    run.writes(*m_output, m_request.video);
    if (m_amrSound)
        run.passDescriptor(m_amr->descriptor());
    if (m_request.video)
        run.onFrameSizes([this](Frames::Size input, Frames::Size coded) {
            const Frames::Size wanted =
                m_request.width > 0 ? Frames::Size{m_request.width, m_request.height} : input;
            m_wantedArea = double(wanted.width) * wanted.height;
            m_codedArea = double(coded.width) * coded.height;
            Frames::Size from = {};
            if (FrameFit::scaledDown(wanted, coded, from))
                FrameFit::printScaledNote(
                    from, coded,
                    m_shrink < 1 ? "the picture is too detailed for the 64 kB packets of RealMedia"
                                 : "the largest " + m_encoder.codec + " takes");
        });
    run.run([this](double seconds) { showDuration(seconds); },
            [this](double seconds) { showPosition(seconds); });
}

// At the coarsest quantiser the bytes of a frame grow with its area: the next attempt aims well
// below the limit with the area the refused frame had.
bool Coder::shrinkFor(const PacketTooLarge &tooLarge, int attempt)
{
    if (m_encoder.codec != "rv10" || attempt >= MaxRealMediaAttempts)
        return false;
    const double area = 0.75 * MaxRealMediaFrame / tooLarge.size *
                        (m_wantedArea > 0 ? m_codedArea / m_wantedArea : m_shrink * m_shrink);
    m_shrink = std::min(0.9 * m_shrink, std::sqrt(area));
    m_shown = 0;
    return true;
}

// A graphics chip that took the test frame may still refuse this picture (its size, its
// format): the software encoder does the file instead.
bool Coder::softwareAfter(const ToolFailure &failure)
{
    const std::string encodingFailed =
        std::string(ToolContract::ErrorPrefix) + ToolContract::Error::EncodingFailed;
    if (!m_encoder.hardware() || std::string(failure.what()).rfind(encodingFailed, 0) != 0)
        return false;
    const std::string failed = m_encoder.encoder;
    m_encoder = Encoders::software(m_request.videoCodec, m_request.extension, m_threads);
    Notes::print(ToolContract::SoftwareEncoderNote + m_encoder.encoder + ": " + failed +
                 " failed on this input, " +
                 std::string(failure.what()).substr(encodingFailed.size()));
    m_shown = 0;
    return true;
}
