#include "Coder.h"

#include "AmrEncoder.h"
#include "FfmpegRun.h"
#include "FfmpegText.h"
#include "MediaInfo.h"
#include "OutputFile.h"
#include "ToolFailure.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

struct Options
{
    std::string input;
    std::string output;
    bool overwrite = false;
    bool noVideo = false;
    std::map<std::string, std::string> values; // -ar -ab -ac -s -vcodec -acodec -b -f
};

Options parse(int argc, char **argv)
{
    if (argc < 2)
        throw ToolFailure("Error: no output file given");
    Options options;
    options.output = argv[argc - 1];
    static const std::vector<std::string> withValue = {"-i",      "-ar",     "-ab", "-ac", "-s",
                                                       "-vcodec", "-acodec", "-b",  "-f"};
    for (int i = 1; i < argc - 1; ++i) {
        const std::string option = argv[i];
        if (option == "-y") {
            options.overwrite = true;
        } else if (option == "-vn") {
            options.noVideo = true;
        } else if (std::find(withValue.begin(), withValue.end(), option) != withValue.end()) {
            if (i + 1 >= argc - 1)
                throw ToolFailure("Error: option " + option + " needs a value");
            const std::string value = argv[++i];
            if (option == "-i")
                options.input = value;
            else
                options.values[option] = value;
        } else {
            throw ToolFailure("Error: unknown option " + option);
        }
    }
    if (options.input.empty())
        throw ToolFailure("Error: no input file given, use -i");
    return options;
}

[[noreturn]] void badParameter(const std::string &option, const std::string &value)
{
    throw ToolFailure("Error: bad parameter " + option + " " + value);
}

std::string extensionOf(const std::string &path)
{
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string extension = path.substr(dot + 1);
    for (char &c : extension)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

bool isAudioOnlyExtension(const std::string &extension)
{
    static const std::vector<std::string> audio = {"mp3", "mp2", "wav", "m4a", "aac", "ac3",
                                                   "ogg", "oga", "wma", "amr", "flac"};
    return std::find(audio.begin(), audio.end(), extension) != audio.end();
}

bool isName(const std::string &name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    });
}

int ceil16(int value)
{
    return (value + 15) / 16 * 16;
}

int macroblocks(int width, int height)
{
    return ceil16(width) / 16 * (ceil16(height) / 16);
}

// RealVideo 1 takes only sizes in whole macroblocks, fewer than 4096 of them: pad up to the
// next multiple of 16 and shrink (keeping the shape) only a picture that is too large.
std::string realVideoFilter(int width, int height, bool scale)
{
    if (macroblocks(width, height) >= 4096) {
        double factor = std::sqrt(4095.0 * 256 / (double(width) * height));
        int w = 0, h = 0;
        do {
            w = std::max(16, int(width * factor) / 2 * 2);
            h = std::max(16, int(height * factor) / 2 * 2);
            factor *= 0.99;
        } while (macroblocks(w, h) >= 4096);
        width = w;
        height = h;
        scale = true;
    }
    std::string filter;
    if (scale)
        filter = "scale=" + std::to_string(width) + ":" + std::to_string(height) + ",";
    return filter + "pad=" + std::to_string(ceil16(width)) + ":" + std::to_string(ceil16(height)) +
           ":(ow-iw)/2:(oh-ih)/2";
}

// A temporary folder of our own, removed with what it holds.
class PrivateFolder
{
public:
    PrivateFolder()
    {
        const char *base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/vidmorph-XXXXXX";
        if (!mkdtemp(pattern.data()))
            throw ToolFailure("Error: cannot create a temporary folder: " +
                              std::string(std::strerror(errno)));
        m_path = pattern;
    }
    ~PrivateFolder()
    {
        for (const auto &file : m_files)
            unlink(file.c_str());
        rmdir(m_path.c_str());
    }
    std::string file(const std::string &name)
    {
        m_files.push_back(m_path + "/" + name);
        return m_files.back();
    }

private:
    std::string m_path;
    std::vector<std::string> m_files;
};

void printTime(double seconds)
{
    std::printf("time=%.2f \r", seconds);
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
    if (!videoCodec.empty() && !isName(videoCodec))
        badParameter("-vcodec", videoCodec);
    if (!audioCodec.empty() && !isName(audioCodec))
        badParameter("-acodec", audioCodec);
    if (!format.empty() && !isName(format))
        badParameter("-f", format);
    const bool amr = audioCodec == "amr_nb" || audioCodec == "libopencore_amrnb";
    if (amr && ((channels != 0 && channels != 1) || (sampleRate != 0 && sampleRate != 8000)))
        throw ToolFailure("Error: bad parameter: AMR-NB audio is mono at 8000 Hz, use -ac 1 "
                          "-ar 8000");
    const AmrEncoder amrEncoder(amr ? (audioBitrate > 0 ? audioBitrate : 12200) : 12200);

    const MediaInfo info = MediaInfo::probe(options.input);
    const std::string extension = extensionOf(options.output);
    const bool video = !options.noVideo && !isAudioOnlyExtension(extension) && format != "mp3";
    if (video && !info.hasVideo)
        throw ToolFailure("Error: the input has no video stream");
    if (!video && !info.hasAudio)
        throw ToolFailure("Error: the input has no audio stream");

    OutputFile output(options.output, options.overwrite);
    std::printf("  Duration: %s, \n",
                info.duration > 0 ? FfmpegText::clock(info.duration).c_str() : "N/A");
    std::fflush(stdout);

    std::vector<std::string> arguments = {"-i", FfmpegText::fileUrl(options.input)};
    std::unique_ptr<PrivateFolder> scratch;
    if (amr && info.hasAudio) {
        scratch = std::make_unique<PrivateFolder>();
        const std::string amrFile = scratch->file("audio.amr");
        amrEncoder.encode(options.input, amrFile);
        arguments.insert(arguments.end(), {"-f", "amr", "-i", FfmpegText::fileUrl(amrFile)});
    }

    if (video) {
        arguments.insert(arguments.end(), {"-map", "0:v:0"});
        if (!videoCodec.empty())
            arguments.insert(arguments.end(), {"-c:v", videoCodec});
        if (videoBitrate > 0)
            arguments.insert(arguments.end(), {"-b:v", std::to_string(std::llround(videoBitrate))});
        if (videoCodec == "rv10") {
            arguments.insert(
                arguments.end(),
                {"-vf", realVideoFilter(width > 0 ? width : info.width,
                                        height > 0 ? height : info.height, width > 0)});
        } else if (width > 0) {
            arguments.insert(arguments.end(), {"-s", size});
        } else if (info.width % 2 != 0 || info.height % 2 != 0) {
            arguments.insert(arguments.end(), {"-vf", "pad=ceil(iw/2)*2:ceil(ih/2)*2"});
        }
        arguments.insert(arguments.end(), {"-pix_fmt", "yuv420p"});
    }
    if (info.hasAudio) {
        if (amr) {
            arguments.insert(arguments.end(), {"-map", "1:a:0", "-c:a", "copy"});
        } else {
            arguments.insert(arguments.end(), {"-map", "0:a:0"});
            if (!audioCodec.empty())
                arguments.insert(arguments.end(), {"-c:a", audioCodec});
            if (sampleRate > 0)
                arguments.insert(arguments.end(), {"-ar", std::to_string(sampleRate)});
            if (audioBitrate > 0)
                arguments.insert(arguments.end(),
                                 {"-b:a", std::to_string(std::llround(audioBitrate))});
            if (channels > 0)
                arguments.insert(arguments.end(), {"-ac", std::to_string(channels)});
        }
    }
    // The MP4 muxer refuses AMR; the 3GP muxer writes the same kind of file.
    if (!format.empty())
        arguments.insert(arguments.end(), {"-f", format});
    else if (amr && info.hasAudio && extension == "mp4")
        arguments.insert(arguments.end(), {"-f", "3gp"});
    arguments.insert(arguments.end(), {"-y", FfmpegText::fileUrl(output.temporaryPath())});

    double last = 0;
    FfmpegRun(arguments).run(
        [&](double seconds) {
            if (seconds >= last + 0.01) {
                last = seconds;
                printTime(seconds);
            }
        },
        "Error: encoding failed: ");
    output.commit();
    printTime(std::max(last, info.duration));
    std::printf("\n");
}
