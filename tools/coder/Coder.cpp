#include "coder/Coder.h"

#include "ToolContract.h"
#include "coder/AmrEncoder.h"
#include "coder/CoderOptions.h"
#include "coder/Encoders.h"
#include "common/FfmpegRun.h"
#include "common/FfmpegText.h"
#include "common/FrameFit.h"
#include "common/Heartbeat.h"
#include "common/MemoryFile.h"
#include "common/Notes.h"
#include "common/OutputFile.h"
#include "common/Signals.h"
#include "common/ToolFailure.h"
#include "common/ToolStopped.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

namespace {

using CoderOptions::Options;
using CoderOptions::parse;

[[noreturn]] void badParameter(const std::string &option, const std::string &value)
{
    throw toolError(ToolContract::Error::BadParameter, " " + option + " " + value);
}

bool isAudioOnlyExtension(const std::string &extension)
{
    static const std::vector<std::string> audio = {"mp3", "mp2", "wav", "m4a", "aac", "ac3",
                                                   "ogg", "oga", "wma", "amr", "flac"};
    return std::find(audio.begin(), audio.end(), extension) != audio.end();
}

// ffmpeg's RealMedia muxer takes a video frame as one packet of at most 65535 bytes with its
// headers. The rate control keeps every frame within that: a buffer (VBV) of that size which
// refills at once, so that a frame over it is encoded again with a coarser quantiser. The
// buffer must hold the average frame (bitrate / frame rate), so the frame rate is kept at
// least high enough for that. A picture too detailed even at the coarsest quantiser (noise)
// is encoded again from the start, smaller.
constexpr long MaxRealMediaFrame = 65535 - 23;
constexpr long RealMediaBuffer = MaxRealMediaFrame * 8; // bits
constexpr int MaxRealMediaAttempts = 6;

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
    return std::string("fps=fps='max(if(gt(source_fps,0),source_fps,25),") + rate + ")'";
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

std::string kbits(double bitrate)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g kbit/s", bitrate / 1000);
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

} // namespace

void Coder::run()
{
    const Options options = parse(m_argc, m_argv);
    const auto value = [&](const std::string &key) {
        const auto found = options.values.find(key);
        return found == options.values.end() ? std::string() : found->second;
    };

    int channels = 0, sampleRate = 0, width = 0, height = 0;
    double audioBitrate = 0, videoBitrate = 0, frameRate = 0;
    if (!value("-ac").empty() && !FfmpegText::parsePositiveInt(value("-ac"), channels))
        badParameter("-ac", value("-ac"));
    if (!value("-ar").empty() && !FfmpegText::parsePositiveInt(value("-ar"), sampleRate))
        badParameter("-ar", value("-ar"));
    if (!value("-ab").empty() && !FfmpegText::parseBitrate(value("-ab"), audioBitrate))
        badParameter("-ab", value("-ab"));
    if (!value("-b").empty() && !FfmpegText::parseBitrate(value("-b"), videoBitrate))
        badParameter("-b", value("-b"));
    if (!value("-r").empty() && !FfmpegText::parseFrameRate(value("-r"), frameRate))
        badParameter("-r", value("-r"));
    const std::string size = value("-s");
    if (!size.empty()) {
        const size_t x = size.find('x');
        if (x == std::string::npos || !FfmpegText::parsePositiveInt(size.substr(0, x), width) ||
            !FfmpegText::parsePositiveInt(size.substr(x + 1), height) ||
            width > ToolContract::MaxRequestedSide || height > ToolContract::MaxRequestedSide)
            badParameter("-s", size);
    }
    const std::string videoCodec = value("-vcodec");
    const std::string audioCodec = value("-acodec");
    const std::string format = value("-f");
    if (!videoCodec.empty() && !FfmpegText::isPlainName(videoCodec))
        badParameter("-vcodec", videoCodec);
    if (!audioCodec.empty() && !FfmpegText::isPlainName(audioCodec))
        badParameter("-acodec", audioCodec);
    if (!format.empty() && !FfmpegText::isPlainName(format))
        badParameter("-f", format);
    const bool amr = audioCodec == "amr_nb" || audioCodec == "libopencore_amrnb";
    if (amr && ((channels != 0 && channels != 1) || (sampleRate != 0 && sampleRate != 8000)))
        throw toolError(ToolContract::Error::BadParameter,
                        ": AMR-NB audio is mono at 8000 Hz, use -ac 1 -ar 8000");
    const AmrEncoder amrEncoder(amr ? (audioBitrate > 0 ? audioBitrate : 12200) : 12200);
    // The lists offer rates and bitrates some codecs do not have: the nearest the codec has
    // that loses nothing asked for, and a word about it.
    const int codecRate = Encoders::sampleRate(audioCodec, sampleRate);
    const double codecMaxBitrate = Encoders::maxBitrate(audioCodec, channels);
    std::vector<std::string> audioNotes;
    if (codecRate != sampleRate) {
        audioNotes.push_back(Encoders::audioName(audioCodec) + ToolContract::SampleRateNote +
                             std::to_string(sampleRate) + " Hz, it is written at " +
                             std::to_string(codecRate) + " Hz");
        sampleRate = codecRate;
    }
    if (codecMaxBitrate > 0 && audioBitrate > codecMaxBitrate) {
        audioNotes.push_back(Encoders::audioName(audioCodec) + ToolContract::BitrateNote +
                             kbits(audioBitrate) + " for " + std::to_string(channels) +
                             (channels == 1 ? " channel" : " channels") + ", it is written at " +
                             kbits(codecMaxBitrate));
        audioBitrate = codecMaxBitrate;
    }

    FfmpegRun::requireInputFile(options.input);
    const std::string extension = FfmpegText::extensionOf(options.output);
    const bool video = !options.noVideo && !isAudioOnlyExtension(extension) && format != "mp3";

    OutputFile output(options.output, format);
    // Until ffmpeg names the input's length, there is no position to show either.
    Heartbeat::setLine(durationLine(ToolContract::DurationUnknown));
    double duration = 0;
    bool durationShown = false;
    const auto showDuration = [&](double seconds) {
        if (durationShown)
            return;
        durationShown = true;
        duration = seconds;
        // A position read before the length would show as done, so the line to repeat is
        // the position only from here on.
        Heartbeat::print(durationLine(seconds >= 0 ? FfmpegText::clock(seconds).c_str()
                                                   : ToolContract::DurationUnknown),
                         timeLine(0));
    };

    // Hardware H.264 and H.265 where a VAAPI device passes a one-frame test; the log says
    // which encoder it was either way.
    const int threads = Encoders::threadLimit(videoCodec);
    Encoders::Video encoder = Encoders::software(videoCodec, extension, threads);
    if (video && Encoders::hasHardwareFor(videoCodec)) {
        std::string why;
        if (std::optional<Encoders::Video> chip = Encoders::hardware(videoCodec, why)) {
            encoder = *chip;
            Notes::print(ToolContract::HardwareEncoderNote + encoder.encoder + " on " +
                         encoder.device);
        } else {
            Notes::print(ToolContract::SoftwareEncoderNote + encoder.encoder + ": " + why);
        }
        if (Signals::received() != 0)
            throw ToolStopped(Signals::received());
    }
    if (video && encoder.mostFrames > 0 && frameRate > encoder.mostFrames) {
        Notes::print(upper(encoder.codec) + ToolContract::FrameRateNote + number(frameRate) +
                     " fps, it is written at " + number(encoder.mostFrames) + " fps");
        frameRate = encoder.mostFrames;
    }
    for (const std::string &note : audioNotes)
        Notes::print(note);

    // Several conversions at once share the cores: decoding and filtering keep to the same
    // number of threads as the encoder.
    std::vector<std::string> arguments;
    if (threads > 0)
        arguments = {"-filter_threads", std::to_string(threads), "-threads",
                     std::to_string(threads)};
    const std::vector<std::string> input = FfmpegText::inputArguments(options.input);
    arguments.insert(arguments.end(), input.begin(), input.end());
    // The AMR audio lives in memory only, so that a killed tool leaves no file behind.
    std::unique_ptr<MemoryFile> amrData;
    bool amrAudio = false;
    if (amr) {
        amrData = std::make_unique<MemoryFile>("vidmorph-amr");
        amrAudio = amrEncoder.encode(options.input, *amrData, showDuration);
        if (amrAudio)
            arguments.insert(arguments.end(), {"-protocol_whitelist", "file", "-format_whitelist",
                                               "amr", "-f", "amr", "-i", "file:/proc/self/fd/3"});
    }

    const bool realVideo = encoder.codec == "rv10";
    // shrink < 1: the picture was too detailed for a RealMedia packet at a larger size.
    const auto videoArguments = [&](const Encoders::Video &chosen, double shrink) {
        const Frames::Limits *limits = Frames::limitsOf(chosen.codec.c_str());
        std::vector<std::string> list = chosen.globalOptions;
        // A music file's cover picture is a video stream marked as such; written with that
        // mark, MP4 and WebM would take it for cover art, which their muxers refuse in H.264.
        list.insert(list.end(), {"-map", "0:v:0", "-disposition:v:0", "0"});
        if (!chosen.encoder.empty())
            list.insert(list.end(), {"-c:v", chosen.encoder});
        list.insert(list.end(), chosen.options.begin(), chosen.options.end());
        if (videoBitrate > 0)
            list.insert(list.end(), {"-b:v", std::to_string(std::llround(videoBitrate))});
        std::vector<std::string> filters;
        if (realVideo) {
            const std::vector<std::string> guard = realMediaGuard();
            list.insert(list.end(), guard.begin(), guard.end());
            // ffmpeg's own rate without -b.
            filters.push_back(realMediaFrameRate(videoBitrate > 0 ? videoBitrate : 200000));
        }
        if (width > 0)
            filters.push_back("scale=" + size);
        if (shrink < 1) {
            const std::string factor = std::to_string(shrink);
            filters.push_back("scale=w='max(2,trunc(iw*" + factor + "/2)*2)':h='max(2,trunc(ih*" +
                              factor + "/2)*2)'");
        }
        // 4:2:0 needs an even size at least. Blank rows and columns up to an encoder's
        // smallest picture go around it.
        filters.push_back(limits ? FrameFit::filters(*limits, realVideo || limits->minSide > 0)
                                 : "pad=ceil(iw/2)*2:ceil(ih/2)*2");
        if (!chosen.lastFilter.empty())
            filters.push_back(chosen.lastFilter);
        std::string chain;
        for (const std::string &filter : filters)
            chain += (chain.empty() ? "" : ",") + filter;
        list.insert(list.end(), {"-vf", chain});
        if (!chosen.hardware())
            list.insert(list.end(), {"-pix_fmt", "yuv420p"});
        if (frameRate > 0) {
            list.insert(list.end(), {"-r", number(frameRate)});
        } else if (chosen.mostFrames > 0) {
            list.insert(list.end(), {"-fpsmax", number(chosen.mostFrames)});
        }
        if (chosen.fastStart)
            list.insert(list.end(), {"-movflags", "+faststart"});
        return list;
    };
    std::vector<std::string> audio;
    if (amrAudio) {
        audio = {"-map", "1:a:0", "-c:a", "copy"};
    } else if (!amr) {
        // A video may be silent; an audio file needs sound.
        audio = {"-map", video ? "0:a:0?" : "0:a:0"};
        if (!audioCodec.empty())
            audio.insert(audio.end(), {"-c:a", audioCodec});
        if (sampleRate > 0)
            audio.insert(audio.end(), {"-ar", std::to_string(sampleRate)});
        if (audioBitrate > 0)
            audio.insert(audio.end(), {"-b:a", std::to_string(std::llround(audioBitrate))});
        if (channels > 0)
            audio.insert(audio.end(), {"-ac", std::to_string(channels)});
    }
    // An audio-only MP4 is streamed as often as a video, so its index goes first too.
    if (extension == "m4a")
        audio.insert(audio.end(), {"-movflags", "+faststart"});
    // The MP4 muxer refuses AMR; the 3GP muxer writes the same kind of file.
    const std::vector<std::string> target =
        output.ffmpegTarget(format.empty() && amrAudio && extension == "mp4" ? "3gp" : "");
    audio.push_back("-y");
    audio.insert(audio.end(), target.begin(), target.end());

    double last = 0, shrink = 1;
    for (int attempt = 1;; ++attempt) {
        std::vector<std::string> all = arguments;
        if (video) {
            const std::vector<std::string> list = videoArguments(encoder, shrink);
            all.insert(all.end(), list.begin(), list.end());
        }
        all.insert(all.end(), audio.begin(), audio.end());
        FfmpegRun run(options.input, all);
        run.writes(output);
        if (amrAudio)
            run.passDescriptor(amrData->descriptor());
        double wantedArea = 0, codedArea = 0;
        if (video)
            run.onFrameSizes([&](Frames::Size input, Frames::Size coded) {
                const Frames::Size wanted = width > 0 ? Frames::Size{width, height} : input;
                wantedArea = double(wanted.width) * wanted.height;
                codedArea = double(coded.width) * coded.height;
                Frames::Size from = {};
                if (FrameFit::scaledDown(wanted, coded, from))
                    FrameFit::printScaledNote(
                        from, coded,
                        shrink < 1 ? "the picture is too detailed for the 64 kB packets of "
                                     "RealMedia"
                                   : "the largest " + encoder.codec + " takes");
            });
        try {
            run.run(showDuration, [&](double seconds) {
                if (seconds >= last + 0.01) {
                    last = seconds;
                    printTime(seconds);
                }
            });
            break;
        } catch (const ToolStopped &) {
            throw;
        } catch (const PacketTooLarge &tooLarge) {
            if (!realVideo || attempt >= MaxRealMediaAttempts)
                throw;
            // At the coarsest quantiser the bytes of a frame grow with its area: aim well below
            // the limit with the area the refused frame had.
            const double area = 0.75 * MaxRealMediaFrame / tooLarge.size *
                                (wantedArea > 0 ? codedArea / wantedArea : shrink * shrink);
            shrink = std::min(0.9 * shrink, std::sqrt(area));
            last = 0;
        } catch (const ToolFailure &failure) {
            // A graphics chip that took the test frame may still refuse this picture (its
            // size, its format): the software encoder does the file instead.
            const std::string encodingFailed =
                std::string(ToolContract::ErrorPrefix) + ToolContract::Error::EncodingFailed;
            if (!encoder.hardware() || std::string(failure.what()).rfind(encodingFailed, 0) != 0)
                throw;
            const std::string failed = encoder.encoder;
            encoder = Encoders::software(videoCodec, extension, threads);
            Notes::print(ToolContract::SoftwareEncoderNote + encoder.encoder + ": " + failed +
                         " failed on this input, " +
                         std::string(failure.what()).substr(encodingFailed.size()));
            last = 0;
        }
    }
    output.commit();
    printTime(std::max(last, duration));
    std::printf("\n");
}
