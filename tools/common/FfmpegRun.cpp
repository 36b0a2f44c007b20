#include "FfmpegRun.h"

#include "FfmpegText.h"
#include "Notes.h"
#include "Signals.h"
#include "Subprocess.h"
#include "ToolStopped.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

FfmpegRun::FfmpegRun(std::string input, std::vector<std::string> arguments)
    : m_input(std::move(input)), m_arguments(std::move(arguments))
{
}

void FfmpegRun::requireInputFile(const std::string &path)
{
    struct stat status = {};
    if (stat(path.c_str(), &status) != 0)
        throw toolError(ToolContract::Error::InputNotFound, path);
    if (!S_ISREG(status.st_mode))
        throw toolError(ToolContract::Error::InputNotAFile, path);
    if (status.st_size == 0)
        throw toolError(ToolContract::Error::InputEmpty, path);
}

namespace {

// What ffprobe tells of a file's streams: the whole length, and the first sound stream's.
struct Streams
{
    double length = 0; // 0: not told
    bool video = false, audio = false;
    double audioLength = 0;
};

Streams streamsOf(const std::vector<std::string> &input)
{
    std::vector<std::string> arguments = {"ffprobe",
                                          "-v",
                                          "error",
                                          "-show_entries",
                                          "format=duration:stream=codec_type,"
                                          "duration:stream_disposition=attached_pic",
                                          "-of",
                                          "compact"};
    arguments.insert(arguments.end(), input.begin(), input.end());
    Subprocess ffprobe(arguments);
    std::string out, err;
    Streams streams;
    if (ffprobe.capture(out, err) != 0)
        return streams;
    size_t start = 0, end;
    while ((end = out.find('\n', start)) != std::string::npos) {
        const std::string line = out.substr(start, end - start);
        start = end + 1;
        const auto value = [&line](const std::string &key) {
            const size_t at = line.find("|" + key + "=");
            return at == std::string::npos
                       ? std::string()
                       : line.substr(at + key.size() + 2,
                                     line.find('|', at + 1) - (at + key.size() + 2));
        };
        const double seconds = std::max(0.0, std::strtod(value("duration").c_str(), nullptr));
        if (line.rfind("format|", 0) == 0)
            streams.length = seconds;
        else if (value("codec_type") == "video" && value("disposition:attached_pic") != "1")
            streams.video = true;
        else if (value("codec_type") == "audio" && !streams.audio) {
            streams.audio = true;
            streams.audioLength = seconds;
        }
    }
    return streams;
}

bool longEnough(double reached, double expected)
{
    return reached >= ToolContract::ShortOutputShare * expected ||
           expected - reached <= ToolContract::ShortOutputSlack;
}

} // namespace

void FfmpegRun::warnIfShort(double inputLength, double reached) const
{
    if (inputLength <= 0 || longEnough(reached, inputLength))
        return;
    // ffmpeg's progress stops at the last packet's decoding time, short of the end by the
    // encoder's reordering and a frame: a few frames at a low rate look far shorter than they
    // are. The file written is measured before anybody is warned, and sound alone is held
    // against the input's sound, which may end before its picture.
    if (!m_output.empty()) {
        const Streams written = streamsOf({FfmpegText::fileUrl(m_output)});
        reached = std::max(reached, written.length);
        if (!longEnough(reached, inputLength) && written.audio && !written.video) {
            const Streams read = streamsOf(FfmpegText::inputArguments(m_input));
            if (read.audioLength > 0)
                inputLength = std::min(inputLength, read.audioLength);
        }
    }
    if (longEnough(reached, inputLength))
        return;
    char lengths[128];
    std::snprintf(lengths, sizeof lengths, "%.1f s of %.1f s", reached, inputLength);
    Notes::print(ToolContract::ShortOutputNote + std::string(lengths));
}

void FfmpegRun::run(const Duration &duration, const Progress &progress)
{
    std::vector<std::string> arguments = {"ffmpeg",    "-nostdin", "-hide_banner",  "-nostats",
                                          "-progress", "pipe:1",   "-stats_period", "0.1"};
    arguments.insert(arguments.end(), m_arguments.begin(), m_arguments.end());

    std::string pending, errors;
    bool durationKnown = false, sizesKnown = false;
    double inputLength = 0, reached = 0;
    const auto onProgress = [&](const char *data, size_t size) {
        pending.append(data, size);
        size_t start = 0, end;
        while ((end = pending.find('\n', start)) != std::string::npos) {
            const std::string line = pending.substr(start, end - start);
            start = end + 1;
            static const std::string key = "out_time_us=";
            if (line.compare(0, key.size(), key) == 0 && line.size() > key.size() &&
                line[key.size()] != 'N') {
                const long long micro = std::atoll(line.c_str() + key.size());
                if (micro >= 0) {
                    reached = std::max(reached, double(micro) / 1e6);
                    progress(double(micro) / 1e6);
                }
            }
        }
        pending.erase(0, start);
    };
    const auto onErrors = [&](const char *data, size_t size) {
        errors.append(data, size);
        double seconds = 0;
        if (!durationKnown && FfmpegText::inputDuration(errors, seconds)) {
            durationKnown = true;
            // A length ffmpeg guessed from the bitrate is shown, but no output is held
            // against it.
            inputLength = FfmpegText::lengthEstimated(errors) ? 0 : seconds;
            duration(seconds);
        }
        Frames::Size input = {}, output = {};
        if (m_sizes && !sizesKnown && FfmpegText::videoSizes(errors, input, output)) {
            sizesKnown = true;
            m_sizes(input, output);
        }
        if (m_errorReader)
            m_errorReader(errors);
        // Only the start (the input's description) and the end (why it failed) matter; keep
        // memory bounded on long noisy runs.
        if (errors.size() > (1u << 20))
            errors.erase(1u << 16, errors.size() - (1u << 19));
    };

    Subprocess ffmpeg(arguments);
    if (m_passed >= 0)
        ffmpeg.passDescriptor(m_passed);
    const int code = ffmpeg.run(onProgress, onErrors);
    if (Signals::received() != 0)
        throw ToolStopped(Signals::received());
    // ffmpeg 5.1 still exits with 0 when the end of the file could not be written (a full
    // disk), leaving a cut file behind.
    const bool unfinished = errors.find("Error writing trailer") != std::string::npos ||
                            errors.find("Error closing file") != std::string::npos;
    if (code == 0 && !unfinished) {
        // A download cut short still says its whole length in its header: the file is
        // written, but the user should know that part of it is missing.
        warnIfShort(inputLength, reached);
        // Measuring the file started a child of its own, which a stop may have ended.
        if (Signals::received() != 0)
            throw ToolStopped(Signals::received());
        return;
    }
    if (const long size = FfmpegText::refusedPacketSize(errors))
        throw PacketTooLarge(size, std::string(ToolContract::ErrorPrefix) +
                                       ToolContract::Error::EncodingFailed +
                                       FfmpegText::failureReason(errors));
    if (FfmpegText::formatRefused(errors))
        throw toolError(ToolContract::Error::NotMediaFile, m_input);
    if (errors.find("Stream map '0:v") != std::string::npos)
        throw toolError(ToolContract::Error::NoVideoStream);
    if (errors.find("Stream map '0:a") != std::string::npos)
        throw toolError(ToolContract::Error::NoAudioStream);
    if (errors.find("Input #0") == std::string::npos)
        throw toolError(ToolContract::Error::InputUnreadable,
                        m_input + ": " + FfmpegText::failureReason(errors));
    throw toolError(ToolContract::Error::EncodingFailed, FfmpegText::failureReason(errors));
}
