#include "FfmpegRun.h"

#include "FfmpegText.h"
#include "InputFile.h"
#include "Notes.h"
#include "OutputCheck.h"
#include "OutputFile.h"
#include "Signals.h"
#include "Subprocess.h"
#include "ToolStopped.h"

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>

FfmpegRun::FfmpegRun(const InputFile &input, const MediaProbe::Facts &facts,
                     std::vector<std::string> arguments)
    : m_input(input), m_facts(facts), m_arguments(std::move(arguments))
{
}

MediaProbe::Facts FfmpegRun::readInput(const InputFile &input, bool picture)
{
    MediaProbe::Facts facts = MediaProbe::read(input.descriptor(), input.path(), true);
    if (Signals::received() != 0)
        throw ToolStopped(Signals::received());
    if (facts.refused)
        throw toolError(ToolContract::Error::NotMediaFile, input.path());
    if (!facts.opened)
        throw toolError(ToolContract::Error::InputUnreadable, input.path() + ": " + facts.failure);
    for (const MediaProbe::Leap &leap : facts.leaps)
        if (picture || !leap.video)
            Notes::print(std::string(ToolContract::LeapNote) + (leap.video ? "video " : "audio ") +
                         MediaProbe::describe(leap));
    return facts;
}

std::vector<std::string> FfmpegRun::inputArguments(const InputFile &input,
                                                   const MediaProbe::Facts &facts)
{
    std::vector<std::string> arguments;
    // ffmpeg mends the timestamps of such a container itself, by moving every stream of the
    // file at once: a leap of one stream then loses the other, and a lone frame an hour ahead
    // moves everything after it by the hour. Where it leaps, the streams keep their own times
    // (from the file's start) and the filters close each stream's leaps; recordings joined end
    // to end, whose times start again, ffmpeg still mends as before.
    if (facts.discontinuous && !facts.leaps.empty())
        arguments = {"-copyts", "-start_at_zero"};
    const std::vector<std::string> file = input.ffmpegArguments(facts.demuxer);
    arguments.insert(arguments.end(), file.begin(), file.end());
    return arguments;
}

void FfmpegRun::writes(const OutputFile &output, bool video)
{
    m_output = &output;
    m_video = video;
}

namespace {

bool longEnough(double reached, double expected)
{
    return reached >= ToolContract::ShortOutputShare * expected ||
           expected - reached <= ToolContract::ShortOutputSlack;
}

void throwIfStopped()
{
    if (Signals::received() != 0)
        throw ToolStopped(Signals::received());
}

} // namespace

void FfmpegRun::warnIfShort(const MediaProbe::Facts &input, double reached,
                            const MediaProbe::Facts &written)
{
    // A download cut short holds less than its header says, in every stream: that tail is
    // missing from any output. A header that says less (joined recordings), one ffmpeg only
    // guessed from the bitrate, or one that counts the hours of a leap tells nothing missing.
    const double missing = !input.headerGuessed && input.leaps.empty() &&
                                   input.headerLength > input.length && input.length > 0
                               ? input.headerLength - input.length
                               : 0;
    // ffmpeg's progress stops at the last packet's decoding time, short of the end by the
    // encoder's reordering and a frame: a few frames at a low rate look far shorter than they
    // are. The file written is what counts, and sound alone is held against the input's sound,
    // which may end before its picture.
    double inputLength = input.length + missing;
    reached = std::max(reached, written.length);
    if (input.estimated || input.length <= 0 || longEnough(reached, inputLength))
        return;
    if (written.audio && !written.video && input.audioLength > 0)
        inputLength = std::min(inputLength, input.audioLength + missing);
    if (longEnough(reached, inputLength))
        return;
    Notes::print(ToolContract::ShortOutputNote + OutputCheck::lengths(reached, inputLength));
}

void FfmpegRun::checkOutput(double reached) const
{
    if (!m_output)
        return;
    const MediaProbe::Facts written =
        MediaProbe::read(m_output->descriptor(), m_output->temporaryPath(), false);
    throwIfStopped();
    OutputCheck::verify(written, m_video);
    // A download cut short still says its whole length in its header: the file is written,
    // but the user should know that part of it is missing.
    warnIfShort(m_facts, reached, written);
}

void FfmpegRun::run(const Duration &duration, const Progress &progress)
{
    const MediaProbe::Facts &input = m_facts;
    duration(input.length);
    const double longest = m_output ? OutputCheck::longestAllowed(input) : 0;

    std::vector<std::string> arguments = {"ffmpeg",    "-nostdin", "-hide_banner",  "-nostats",
                                          "-progress", "pipe:1",   "-stats_period", "0.1"};
    arguments.insert(arguments.end(), m_arguments.begin(), m_arguments.end());
    // ffmpeg makes up the frames of a jump all at once, between two progress reports; a limit
    // of its own stops it there, a little past the point where the run counts as gone wrong.
    if (longest > 0)
        arguments.insert(arguments.end() - 1, {"-t", std::to_string(longest + 1)});
    Subprocess ffmpeg(arguments);
    ffmpeg.passDescriptor(m_input.descriptor(), InputFile::ChildDescriptor);
    if (m_passed >= 0)
        ffmpeg.passDescriptor(m_passed, 3);
    if (m_output)
        ffmpeg.passDescriptor(m_output->descriptor(), OutputFile::ChildDescriptor);

    std::string pending, errors;
    bool sizesKnown = false, runaway = false;
    double reached = 0;
    const auto onProgress = [&](const char *data, size_t size) {
        pending.append(data, size);
        size_t start = 0, end;
        while ((end = pending.find('\n', start)) != std::string::npos) {
            const std::string line = pending.substr(start, end - start);
            start = end + 1;
            static const std::string key = "out_time_us=";
            if (line.compare(0, key.size(), key) != 0 || line.size() == key.size() ||
                line[key.size()] == 'N')
                continue;
            const long long micro = std::atoll(line.c_str() + key.size());
            if (micro < 0)
                continue;
            reached = std::max(reached, double(micro) / 1e6);
            // A timestamp that jumps by hours must not become hours of one frozen picture.
            if (longest > 0 && reached > longest && !runaway) {
                runaway = true;
                ffmpeg.kill();
            }
            if (!runaway)
                progress(double(micro) / 1e6);
        }
        pending.erase(0, start);
    };
    const auto onErrors = [&](const char *data, size_t size) {
        errors.append(data, size);
        Frames::Size in = {}, out = {};
        if (m_sizes && !sizesKnown && FfmpegText::videoSizes(errors, in, out)) {
            sizesKnown = true;
            m_sizes(in, out);
        }
        if (m_errorReader)
            m_errorReader(errors);
        // Only the start (the streams' description) and the end (why it failed) matter; keep
        // memory bounded on long noisy runs.
        if (errors.size() > (1u << 20))
            errors.erase(1u << 16, errors.size() - (1u << 19));
    };

    const int code = ffmpeg.run(onProgress, onErrors);
    throwIfStopped();
    if (runaway)
        throw toolError(ToolContract::Error::OutputTooLong,
                        OutputCheck::lengths(reached, input.length));
    // ffmpeg 5.1 still exits with 0 when the end of the file could not be written (a full
    // disk), leaving a cut file behind.
    const bool unfinished = errors.find("Error writing trailer") != std::string::npos ||
                            errors.find("Error closing file") != std::string::npos;
    if (code == 0 && !unfinished) {
        checkOutput(reached);
        return;
    }
    if (const char *shortage = FfmpegText::resourceShortage(errors))
        throw toolError(shortage, ": " + FfmpegText::failureReason(errors));
    if (const long size = FfmpegText::refusedPacketSize(errors))
        throw PacketTooLarge(size, std::string(ToolContract::ErrorPrefix) +
                                       ToolContract::Error::EncodingFailed +
                                       FfmpegText::failureReason(errors));
    throw toolError(ToolContract::Error::EncodingFailed, FfmpegText::failureReason(errors));
}
