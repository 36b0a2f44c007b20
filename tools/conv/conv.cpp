// conv: the stage-one encoder. Takes MEncoder's options as the converter uses them and does
// the encoding with ffmpeg, printing MEncoder-style progress: "Pos: 1.2s ( 5%)" lines.

#include "Codecs.h"
#include "FfmpegMuxers.h"
#include "ToolContract.h"
#include "common/FfmpegRun.h"
#include "common/FfmpegText.h"
#include "common/FrameFit.h"
#include "common/Heartbeat.h"
#include "common/InputFile.h"
#include "common/Notes.h"
#include "common/OutputFile.h"
#include "common/PictureFilters.h"
#include "common/SoundFilters.h"
#include "common/StreamsKept.h"
#include "common/Subprocess.h"
#include "common/ToolMain.h"
#include "common/ToolStopped.h"
#include "conv/ConvOptions.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

using ConvOptions::badParameter;
using ConvOptions::bitrate;
using ConvOptions::Options;
using ConvOptions::parse;
using ConvOptions::parseRate;

bool ffmpegCanWrite(const std::string &format)
{
    if (!FfmpegText::isPlainName(format))
        return false;
    const std::string known = VIDMORPH_FFMPEG_MUXERS;
    if (!known.empty())
        return known.find(" " + format + " ") != std::string::npos;
    std::string out, err;
    Subprocess({"ffmpeg", "-hide_banner", "-h", "muxer=" + format}).capture(out, err);
    return out.rfind("Muxer ", 0) == 0;
}

// The container ffmpeg writes: MEncoder's own AVI writer, or libavformat with a named format;
// a format libavformat does not have leaves the choice to the output's extension.
std::string containerFormat(const Options &options)
{
    if (options.container.empty() || options.container == "avi")
        return "avi";
    if (options.container != "lavf")
        badParameter("-of " + options.container);
    if (ffmpegCanWrite(options.lavfFormat))
        return options.lavfFormat;
    const std::string extension = FfmpegText::extensionOf(options.output);
    if (extension == "mpg" || extension == "mpeg" || extension == "vob")
        return "vob";
    if (extension == "avi" || extension.empty())
        return "avi";
    return {};
}

// MPEG-1/2 video only knows a few frame rates; any other rate goes to the nearest of them.
std::string standardMpegRate(double rate)
{
    static const std::vector<std::pair<double, const char *>> rates = {
        {24000.0 / 1001, "24000/1001"}, {24, "24"}, {25, "25"},
        {30000.0 / 1001, "30000/1001"}, {30, "30"}, {50, "50"},
        {60000.0 / 1001, "60000/1001"}, {60, "60"}};
    auto best = rates.front();
    for (const auto &candidate : rates)
        if (std::fabs(candidate.first - rate) < std::fabs(best.first - rate))
            best = candidate;
    return best.second;
}

// MP2 knows only a few bitrates, which also depend on the sample rate. Any other asked for
// (the converter offers 10.2 and 12.2 kbit/s) becomes the nearest one of those that every
// sample rate of MP2 takes, and the user is told.
std::string mp2Bitrate(const std::string &bits)
{
    static const long everyRate[] = {32, 48, 56, 64, 80, 96, 112, 128, 160};
    static const long fullRatesOnly[] = {192, 224, 256, 320, 384};
    const long kbits = std::atol(bits.c_str()) / 1000;
    if (std::atol(bits.c_str()) % 1000 == 0 &&
        (std::count(std::begin(everyRate), std::end(everyRate), kbits) ||
         std::count(std::begin(fullRatesOnly), std::end(fullRatesOnly), kbits)))
        return bits;
    const double asked = std::atof(bits.c_str()) / 1000;
    long best = everyRate[0];
    for (long candidate : everyRate)
        if (std::fabs(candidate - asked) <= std::fabs(best - asked))
            best = candidate;
    if (asked > 160)
        best = 160;
    char rates[128];
    std::snprintf(rates, sizeof rates, "%g kbit/s, it is written at %ld kbit/s", asked, best);
    Notes::print(ToolContract::Mp2BitrateNote + std::string(rates));
    return std::to_string(best * 1000);
}

std::string audioEncoder(const Options &options)
{
    if (options.audioEncoder == "mp3lame")
        return "libmp3lame";
    if (options.audioEncoder == "lavc") {
        const auto codec = options.lavc.find("acodec");
        const std::string name = codec == options.lavc.end() ? "mp2" : codec->second;
        if (!FfmpegText::isPlainName(name))
            badParameter("acodec=" + name);
        return name;
    }
    if (options.audioEncoder.empty())
        throw toolError(ToolContract::Error::NoAudioEncoder);
    badParameter("-oac " + options.audioEncoder);
}

// The encoder and its bitrate; ffmpeg itself brings the audio to a sample rate and channel
// layout the encoder takes.
std::vector<std::string> audioArguments(const Options &options)
{
    const std::string encoder = audioEncoder(options);
    if (encoder == "libmp3lame") {
        // The converter's audio bitrates include 10.2 and 12.2, so a preset may have a
        // fraction; LAME comes as close to it as the sample rate allows.
        const std::string &preset = options.lamePreset.empty() ? "128" : options.lamePreset;
        double kbits = 0;
        if (!FfmpegText::parseBitrate(preset, kbits) || preset.back() == 'k' ||
            preset.back() == 'K' || preset.back() == 'm' || preset.back() == 'M' || kbits < 8 ||
            kbits > 320)
            badParameter("-lameopts preset=" + preset);
        std::vector<std::string> arguments = {"-c:a", encoder, "-b:a",
                                              std::to_string(std::llround(kbits * 1000))};
        // LAME's numbered presets below 320 are average bitrates; 320 is constant.
        if (kbits != 320)
            arguments.insert(arguments.end(), {"-abr", "1"});
        return arguments;
    }
    const auto rate = options.lavc.find("abitrate");
    std::string bits =
        rate == options.lavc.end() ? "224000" : bitrate(rate->second, "abitrate", false);
    if (encoder == "mp2")
        bits = mp2Bitrate(bits);
    return {"-c:a", encoder, "-b:a", bits};
}

std::string videoCodecName(const Options &options)
{
    const auto codec = options.lavc.find("vcodec");
    return codec == options.lavc.end() ? "mpeg4" : codec->second;
}

bool isMpegVideo(const std::string &codec)
{
    return codec == "mpeg2video" || codec == "mpeg1video";
}

// The -ofps rate, moved to one MPEG-1/2 can carry.
std::string outputRate(const Options &options)
{
    return isMpegVideo(videoCodecName(options)) ? standardMpegRate(parseRate(options.frameRate))
                                                : options.frameRate;
}

std::vector<std::string> videoArguments(const Options &options)
{
    if (options.videoEncoder.empty())
        throw toolError(ToolContract::Error::NoVideoEncoder);
    if (options.videoEncoder != "lavc")
        badParameter("-ovc " + options.videoEncoder);
    const std::string name = videoCodecName(options);
    if (!FfmpegText::isPlainName(name))
        badParameter("vcodec=" + name);
    for (const auto &[key, value] : options.lavc)
        if (key != "vcodec" && key != "vbitrate" && key != "acodec" && key != "abitrate" &&
            key != "vpass")
            badParameter("-lavcopts " + key);
    const auto rate = options.lavc.find("vbitrate");
    std::vector<std::string> arguments = {"-map",
                                          "0:v:0",
                                          "-c:v",
                                          name,
                                          "-b:v",
                                          rate == options.lavc.end()
                                              ? std::string("800000")
                                              : bitrate(rate->second, "vbitrate", true)};
    // The fps filter makes the rate; this is for a still, which it cannot take.
    if (!options.frameRate.empty())
        arguments.insert(arguments.end(), {"-r", outputRate(options)});
    // Without B-frames MPEG-2 can say that its pictures need no reordering; where nothing else
    // tells when a picture is shown (AVI), a decoder otherwise shows each one a frame late.
    if (name == "mpeg2video")
        arguments.insert(arguments.end(), {"-flags", "+low_delay"});
    return arguments;
}

// What the written file can hold, for the filters that make it look and sound like the source.
struct Targets
{
    PictureFilters::Target picture;
    SoundFilters::Target sound;
};

Targets targets(const Options &options, const std::string &format)
{
    Targets targets;
    const std::string codec = videoCodecName(options);
    // A constant rate: -ofps, moved to one MPEG-1/2 can carry, else the input's own.
    if (!options.frameRate.empty()) {
        targets.picture.rateValue = parseRate(options.frameRate);
        targets.picture.rate = outputRate(options);
    } else {
        targets.picture.rate = "source_fps";
    }
    targets.picture.shape = isMpegVideo(codec) && format == "vob"
                                ? PictureFilters::Shape::StandardAspects
                                : PictureFilters::Shape::AnyPixels;
    // MPEG-1/2 carry the colour matrix in the stream; ffmpeg's MPEG-4 writes none, and AVI has
    // no place for it. None of them says whether the levels are full range.
    targets.picture.tellsColours = isMpegVideo(codec);
    targets.picture.tellsRange = false;
    targets.sound.alignToPicture = true;
    const Codecs::Audio *encoder = Codecs::audioEncoder(audioEncoder(options).c_str());
    targets.sound.ceiling = encoder ? encoder->ceiling : 0;
    if (format == "avi")
        targets.sound.encoderDelay = SoundFilters::encoderDelay(audioEncoder(options));
    return targets;
}

// The reader of these lines takes any "(" with ")" four or five places later for a
// percentage, so messages must not carry parentheses of their own.
std::string withoutParentheses(std::string text)
{
    std::replace(text.begin(), text.end(), '(', '[');
    std::replace(text.begin(), text.end(), ')', ']');
    return text;
}

std::string progressLine(double seconds, int percent)
{
    char line[64];
    std::snprintf(line, sizeof line, ToolContract::ConvProgressFormat, seconds, percent);
    return line;
}

void printProgress(double seconds, int percent)
{
    Heartbeat::print(progressLine(seconds, percent));
}

void convert(int argc, char **argv)
{
    const Options options = parse(argc, argv);
    // Nothing done yet is 0 %, also while ffmpeg has not told the input's length.
    Heartbeat::setLine(progressLine(0, 0));
    const std::vector<std::string> video = videoArguments(options);
    const std::vector<std::string> audio = audioArguments(options);
    const std::string format = containerFormat(options);
    const Targets wanted = targets(options, format);
    const InputFile input(options.input);

    OutputFile output(options.output, format);
    output.limitModeTo(input.status().st_mode);
    const std::string codec = videoCodecName(options);
    const MediaProbe::Facts facts = FfmpegRun::readInput(input, true);
    if (!facts.source.hasPicture)
        throw toolError(ToolContract::Error::NoVideoStream);
    // The subtitles a player of the source shows unasked are drawn into the picture, which no
    // format of old can carry otherwise; text ones through libass, with the system's fonts.
    const int subtitle = facts.source.shownSubtitle();
    const bool burnsIn = subtitle >= 0 && facts.source.subtitles[size_t(subtitle)].text;
    StreamsKept::noteDropped(facts.source, {true, false, false, burnsIn});
    // A size the encoder cannot take is scaled down; 4:2:0 video needs an even frame size at
    // least, so an odd one gets one more row or column.
    const Frames::Limits *limits = Frames::limitsOf(codec.c_str());
    const std::string fit =
        limits ? FrameFit::filters(*limits, false) : "pad=ceil(iw/2)*2:ceil(ih/2)*2";
    PictureFilters::Target held = wanted.picture;
    held.stillFor = facts.source.soundLength;
    if (burnsIn)
        held.burnIn = "subtitles=filename=/proc/self/fd/" +
                      std::to_string(InputFile::ChildDescriptor) +
                      ":si=" + std::to_string(subtitle);
    const std::string picture = PictureFilters::chain(facts.source.picture, held);

    std::vector<std::string> arguments = FfmpegRun::inputArguments(input, facts);
    arguments.insert(arguments.end(), video.begin(), video.end());
    arguments.insert(arguments.end(),
                     {"-vf", (picture.empty() ? "" : picture + ",") + fit, "-pix_fmt", "yuv420p"});
    const int chosen = facts.source.chosenSound();
    if (chosen >= 0) {
        const SourceInfo::Sound &sound = facts.source.sounds[size_t(chosen)];
        arguments.insert(arguments.end(), {"-map", "0:" + std::to_string(sound.stream)});
        arguments.insert(arguments.end(), audio.begin(), audio.end());
        arguments.insert(arguments.end(), {"-af", SoundFilters::chain(sound, wanted.sound)});
    } else {
        arguments.insert(arguments.end(), audio.begin(), audio.end());
    }
    // ffmpeg leaves the creation time out of what it copies; the recording's own stays, also
    // through the intermediate file to the second stage.
    if (!facts.creationTime.empty())
        arguments.insert(arguments.end(), {"-metadata", "creation_time=" + facts.creationTime,
                                           "-metadata", "date=" + facts.creationTime});
    arguments.insert(arguments.end(), "-y");
    const std::vector<std::string> target = output.ffmpegTarget();
    arguments.insert(arguments.end(), target.begin(), target.end());

    double duration = 0, last = 0;
    std::string shown;
    FfmpegRun run(input, facts, arguments);
    run.writes(output, true);
    run.onFrameSizes([&](Frames::Size in, Frames::Size coded) {
        Frames::Size from = {};
        if (FrameFit::scaledDown(in, coded, from))
            FrameFit::printScaledNote(from, coded, "the largest " + codec + " takes");
    });
    run.run(
        [&](double seconds) {
            // The input's length as coder tells it too: the converter's time left for a whole
            // batch comes from it, with no probe of its own.
            if (seconds > 0 && duration <= 0) {
                char line[128];
                std::snprintf(line, sizeof line, ToolContract::DurationLineFormat,
                              FfmpegText::clock(seconds).c_str());
                Heartbeat::print(line, progressLine(0, 0));
            }
            duration = seconds;
        },
        [&](double seconds) {
            last = std::max(last, seconds);
            // Each step of the position is shown, so the converter sees the encoder move on
            // also where a percent takes long or the length is unknown (0 % throughout).
            const int percent = duration > 0 ? std::min(99, int(last / duration * 100)) : 0;
            const std::string line = progressLine(last, percent);
            if (line != shown) {
                shown = line;
                Heartbeat::print(line);
            }
        });
    input.giveDatesTo(output.descriptor());
    output.commit();
    printProgress(std::max(last, duration), ToolContract::ConvDonePercent);
    std::printf("\n");
}

} // namespace

int main(int argc, char **argv)
{
    return runTool([&] {
        try {
            convert(argc, argv);
        } catch (const ToolStopped &) {
            throw;
        } catch (const ToolFailure &failure) {
            throw ToolFailure(withoutParentheses(failure.what()));
        }
    });
}
