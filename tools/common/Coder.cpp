#include "Coder.h"

#include "AmrEncoder.h"
#include "FfmpegRun.h"
#include "FfmpegText.h"
#include "MemoryFile.h"
#include "OutputFile.h"
#include "ToolContract.h"
#include "ToolFailure.h"
#include "ToolOptions.h"

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

// RealVideo 1 takes only sizes in whole macroblocks, fewer than 4096 of them. The picture is
// padded up to the next multiple of 16 and, only when that is still too many macroblocks,
// first shrunk (keeping its shape) by the largest factor f with
//   (w f / 16 + 1) (h f / 16 + 1) <= 4095,
// which bounds the padded macroblock count. Written as ffmpeg expressions over the input
// size, so the input need not be probed first.
std::string realVideoFilter()
{
    const std::string a = "(iw*ih/256)";
    const std::string b = "((iw+ih)/16)";
    const std::string factor =
        "((sqrt(" + b + "*" + b + "+4*" + a + "*4094)-" + b + ")/(2*" + a + "))";
    const std::string tooLarge = "gte(ceil(iw/16)*ceil(ih/16),4096)";
    return "scale=w='if(" + tooLarge + ",trunc(iw*" + factor + "/2)*2,iw)':h='if(" + tooLarge +
           ",trunc(ih*" + factor + "/2)*2,ih)',pad=w='ceil(iw/16)*16':h='ceil(ih/16)*16':x='(ow-" +
           "iw)/2':y='(oh-ih)/2'";
}

void printTime(double seconds)
{
    std::printf(ToolContract::TimeLineFormat, seconds);
    std::fflush(stdout);
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
    double audioBitrate = 0, videoBitrate = 0;
    if (!value("-ac").empty() && !FfmpegText::parsePositiveInt(value("-ac"), channels))
        badParameter("-ac", value("-ac"));
    if (!value("-ar").empty() && !FfmpegText::parsePositiveInt(value("-ar"), sampleRate))
        badParameter("-ar", value("-ar"));
    if (!value("-ab").empty() && !FfmpegText::parseBitrate(value("-ab"), audioBitrate))
        badParameter("-ab", value("-ab"));
    if (!value("-b").empty() && !FfmpegText::parseBitrate(value("-b"), videoBitrate))
        badParameter("-b", value("-b"));
    const std::string size = value("-s");
    if (!size.empty()) {
        const size_t x = size.find('x');
        if (x == std::string::npos || !FfmpegText::parsePositiveInt(size.substr(0, x), width) ||
            !FfmpegText::parsePositiveInt(size.substr(x + 1), height) || width > 16384 ||
            height > 16384)
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

    FfmpegRun::requireInputFile(options.input);
    const std::string extension = FfmpegText::extensionOf(options.output);
    const bool video = !options.noVideo && !isAudioOnlyExtension(extension) && format != "mp3";

    OutputFile output(options.output);
    double duration = 0;
    bool durationShown = false;
    const auto showDuration = [&](double seconds) {
        if (durationShown)
            return;
        durationShown = true;
        duration = seconds;
        std::printf(ToolContract::DurationLineFormat, seconds >= 0
                                                          ? FfmpegText::clock(seconds).c_str()
                                                          : ToolContract::DurationUnknown);
        std::fflush(stdout);
    };

    std::vector<std::string> arguments = FfmpegText::inputArguments(options.input);
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

    if (video) {
        arguments.insert(arguments.end(), {"-map", "0:v:0"});
        if (!videoCodec.empty())
            arguments.insert(arguments.end(), {"-c:v", videoCodec});
        if (videoBitrate > 0)
            arguments.insert(arguments.end(), {"-b:v", std::to_string(std::llround(videoBitrate))});
        std::string filter = width > 0 ? "scale=" + size : std::string();
        if (videoCodec == "rv10")
            filter += (filter.empty() ? "" : ",") + realVideoFilter();
        else if (filter.empty())
            filter = "pad=ceil(iw/2)*2:ceil(ih/2)*2"; // 4:2:0 needs an even size
        arguments.insert(arguments.end(), {"-vf", filter, "-pix_fmt", "yuv420p"});
    }
    if (amrAudio) {
        arguments.insert(arguments.end(), {"-map", "1:a:0", "-c:a", "copy"});
    } else if (!amr) {
        // A video may be silent; an audio file needs sound.
        arguments.insert(arguments.end(), {"-map", video ? "0:a:0?" : "0:a:0"});
        if (!audioCodec.empty())
            arguments.insert(arguments.end(), {"-c:a", audioCodec});
        if (sampleRate > 0)
            arguments.insert(arguments.end(), {"-ar", std::to_string(sampleRate)});
        if (audioBitrate > 0)
            arguments.insert(arguments.end(), {"-b:a", std::to_string(std::llround(audioBitrate))});
        if (channels > 0)
            arguments.insert(arguments.end(), {"-ac", std::to_string(channels)});
    }
    // The MP4 muxer refuses AMR; the 3GP muxer writes the same kind of file.
    if (!format.empty())
        arguments.insert(arguments.end(), {"-f", format});
    else if (amrAudio && extension == "mp4")
        arguments.insert(arguments.end(), {"-f", "3gp"});
    arguments.insert(arguments.end(), {"-y", FfmpegText::fileUrl(output.temporaryPath())});

    double last = 0;
    FfmpegRun run(options.input, arguments);
    if (amrAudio)
        run.passDescriptor(amrData->descriptor());
    run.run(showDuration, [&](double seconds) {
        if (seconds >= last + 0.01) {
            last = seconds;
            printTime(seconds);
        }
    });
    output.commit();
    printTime(std::max(last, duration));
    std::printf("\n");
}
