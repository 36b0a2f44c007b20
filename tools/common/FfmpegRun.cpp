#include "FfmpegRun.h"

#include "FfmpegText.h"
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
            inputLength = seconds;
            duration(seconds);
        }
        ToolContract::FrameSize input = {}, output = {};
        if (m_sizes && !sizesKnown && FfmpegText::videoSizes(errors, input, output)) {
            sizesKnown = true;
            m_sizes(input, output);
        }
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
        if (inputLength > 0 && reached < ToolContract::ShortOutputShare * inputLength) {
            std::printf("%s%s%.1f s of %.1f s\n", ToolContract::NotePrefix,
                        ToolContract::ShortOutputNote, reached, inputLength);
            std::fflush(stdout);
        }
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
