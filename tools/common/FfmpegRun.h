#pragma once

#include "FrameLimits.h"
#include "MediaProbe.h"
#include "ToolContract.h"
#include "ToolFailure.h"

#include <functional>
#include <string>
#include <vector>

class InputFile;
class OutputFile;

// One ffmpeg run over one input file. It runs quietly (no banner, no statistics, no standard
// input); the input's length is what its packets span, read in process (MediaProbe), never text
// a file's title could fake, and the position reached comes from ffmpeg's machine-readable
// progress stream. The tools turn both into the progress lines their readers expect. ffmpeg's
// error output is read for its errors only.
class FfmpegRun
{
public:
    using Duration = std::function<void(double seconds)>; // < 0 when the input has none
    using Progress = std::function<void(double seconds)>;
    using FrameSizes = std::function<void(Frames::Size input, Frames::Size output)>;

    // What the input holds, read once for every run of the tool: ToolFailure when it is no
    // media file the tools read. Each leap of its timestamps that will be closed up in what the
    // output takes (its picture when `picture`, and its sound) is noted.
    static MediaProbe::Facts readInput(const InputFile &input, bool picture);

    // ffmpeg's options that open the input as its first input.
    static std::vector<std::string> inputArguments(const InputFile &input,
                                                   const MediaProbe::Facts &facts);

    // arguments follow the common options and must include inputArguments().
    FfmpegRun(const InputFile &input, const MediaProbe::Facts &facts,
              std::vector<std::string> arguments);

    // Tells the input's length, then runs to the end. Throws ToolFailure with a readable reason
    // when ffmpeg fails or what it wrote is no playable output, and ToolStopped when a stop
    // signal ended it.
    void run(const Duration &duration, const Progress &progress);

    // Called once, as soon as ffmpeg has described both, with the size of the input's video
    // and of the video it encodes.
    void onFrameSizes(FrameSizes sizes) { m_sizes = std::move(sizes); }

    // Called with ffmpeg's error output so far whenever more of it arrives.
    void readsErrors(std::function<void(const std::string &errors)> reader)
    {
        m_errorReader = std::move(reader);
    }

    // The file ffmpeg writes, which it gets as OutputFile::ChildDescriptor, with a video
    // stream or without. ffmpeg is stopped when it runs far past the input's length, and what
    // it wrote is checked once it is done.
    void writes(const OutputFile &output, bool video);

    // ffmpeg also gets this open file as its descriptor 3.
    void passDescriptor(int fd) { m_passed = fd; }

private:
    static void warnIfShort(const MediaProbe::Facts &input, double reached,
                            const MediaProbe::Facts &written);
    void checkOutput(double reached) const;

    const InputFile &m_input;
    const MediaProbe::Facts &m_facts;
    std::vector<std::string> m_arguments;
    const OutputFile *m_output = nullptr;
    bool m_video = false;
    int m_passed = -1;
    FrameSizes m_sizes;
    std::function<void(const std::string &errors)> m_errorReader;
};

// ffmpeg's RealMedia muxer refused a video packet over 64 kB: a frame too detailed for the
// rate control to squeeze.
class PacketTooLarge : public ToolFailure
{
public:
    PacketTooLarge(long size, const std::string &line) : ToolFailure(line), size(size) {}
    const long size;
};
