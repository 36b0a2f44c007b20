// conv: the stage-one encoder. Takes MEncoder's options as the converter uses them and does
// the encoding with ffmpeg, printing MEncoder-style progress: "Pos: 1.2s ( 5%)" lines.

#include "FfmpegMuxers.h"
#include "ToolContract.h"
#include "common/FfmpegRun.h"
#include "common/FfmpegText.h"
#include "common/OutputFile.h"
#include "common/Subprocess.h"
#include "common/ToolMain.h"
#include "common/ToolOptions.h"
#include "common/ToolStopped.h"

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

// ffmpeg itself brings the audio to a sample rate and channel layout the encoder takes.
std::vector<std::string> audioArguments(const Options &options)
{
    std::vector<std::string> arguments;
    if (options.audioEncoder == "mp3lame") {
        const std::string &preset = options.lamePreset.empty() ? "128" : options.lamePreset;
        int kbits = 0;
        if (!FfmpegText::parsePositiveInt(preset, kbits) || kbits < 8 || kbits > 320)
            badParameter("-lameopts preset=" + preset);
        arguments = {"-c:a", "libmp3lame", "-b:a", std::to_string(kbits) + "k"};
        // LAME's numbered presets below 320 are average bitrates; 320 is constant.
        if (kbits != 320)
            arguments.insert(arguments.end(), {"-abr", "1"});
    } else if (options.audioEncoder == "lavc") {
        const auto codec = options.lavc.find("acodec");
        const std::string name = codec == options.lavc.end() ? "mp2" : codec->second;
        if (!FfmpegText::isPlainName(name))
            badParameter("acodec=" + name);
        arguments = {"-c:a", name};
        const auto rate = options.lavc.find("abitrate");
        arguments.insert(arguments.end(), {"-b:a", rate == options.lavc.end()
                                                       ? std::string("224000")
                                                       : bitrate(rate->second, "abitrate", false)});
    } else if (options.audioEncoder.empty()) {
        throw toolError(ToolContract::Error::NoAudioEncoder);
    } else {
        badParameter("-oac " + options.audioEncoder);
    }
    // A silent input makes a video without sound.
    arguments.insert(arguments.begin(), {"-map", "0:a:0?"});
    return arguments;
}

std::vector<std::string> videoArguments(const Options &options)
{
    if (options.videoEncoder.empty())
        throw toolError(ToolContract::Error::NoVideoEncoder);
    if (options.videoEncoder != "lavc")
        badParameter("-ovc " + options.videoEncoder);
    const auto codec = options.lavc.find("vcodec");
    const std::string name = codec == options.lavc.end() ? "mpeg4" : codec->second;
    if (!FfmpegText::isPlainName(name))
        badParameter("vcodec=" + name);
    for (const auto &[key, value] : options.lavc)
        if (key != "vcodec" && key != "vbitrate" && key != "acodec" && key != "abitrate" &&
            key != "vpass")
            badParameter("-lavcopts " + key);
    std::vector<std::string> arguments = {"-map", "0:v:0", "-c:v", name};
    const auto rate = options.lavc.find("vbitrate");
    arguments.insert(arguments.end(), {"-b:v", rate == options.lavc.end()
                                                   ? std::string("800000")
                                                   : bitrate(rate->second, "vbitrate", true)});
    // Without -ofps ffmpeg keeps the input's rate, moving it to one MPEG-1/2 can carry.
    if (!options.frameRate.empty()) {
        const bool mpegVideo = name == "mpeg2video" || name == "mpeg1video";
        arguments.insert(
            arguments.end(),
            {"-r", mpegVideo ? standardMpegRate(parseRate(options.frameRate)) : options.frameRate});
    }
    // 4:2:0 video needs an even frame size; an odd one gets one more row or column.
    arguments.insert(arguments.end(), {"-vf", "pad=ceil(iw/2)*2:ceil(ih/2)*2"});
    arguments.insert(arguments.end(), {"-pix_fmt", "yuv420p"});
    return arguments;
}

// The reader of these lines takes any "(" with ")" four or five places later for a
// percentage, so messages must not carry parentheses of their own.
std::string withoutParentheses(std::string text)
{
    std::replace(text.begin(), text.end(), '(', '[');
    std::replace(text.begin(), text.end(), ')', ']');
    return text;
}

void printProgress(double seconds, int percent)
{
    std::printf(ToolContract::ConvProgressFormat, seconds, percent);
    std::fflush(stdout);
}

void convert(int argc, char **argv)
{
    const Options options = parse(argc, argv);
    const std::vector<std::string> video = videoArguments(options);
    const std::vector<std::string> audio = audioArguments(options);
    const std::string format = containerFormat(options);
    FfmpegRun::requireInputFile(options.input);

    OutputFile output(options.output);
    std::vector<std::string> arguments = FfmpegText::inputArguments(options.input);
    arguments.insert(arguments.end(), video.begin(), video.end());
    arguments.insert(arguments.end(), audio.begin(), audio.end());
    arguments.insert(arguments.end(), {"-map_metadata", "-1", "-y"});
    if (!format.empty())
        arguments.insert(arguments.end(), {"-f", format});
    arguments.push_back(FfmpegText::fileUrl(output.temporaryPath()));

    double duration = 0, last = 0;
    int shown = -1;
    FfmpegRun(options.input, arguments)
        .run([&](double seconds) { duration = seconds; },
             [&](double seconds) {
                 last = std::max(last, seconds);
                 if (duration <= 0)
                     return;
                 const int percent = std::min(99, int(last / duration * 100));
                 if (percent != shown) {
                     shown = percent;
                     printProgress(last, percent);
                 }
             });
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
