#pragma once

#include "FrameLimits.h"
#include "MediaProbe.h"
#include "ToolContract.h"
#include "ToolFailure.h"

#include <functional>
#include <string>
#include <vector>

class OutputFile;

// One ffmpeg run over one input file. It runs quietly (no banner, no statistics, no standard
// input); the input's length comes from ffprobe, never from text a file's title could fake, and
// the position reached from ffmpeg's machine-readable progress stream. The tools turn both into
// the progress lines their readers expect.
class FfmpegRun
{
public:
    using Duration = std::function<void(double seconds)>; // < 0 when the input has none
    using Progress = std::function<void(double seconds)>;
    using FrameSizes = std::function<void(Frames::Size input, Frames::Size output)>;

    // input is the file as the user named it, for the messages; arguments follow the
    // common options and must include its -i.
    FfmpegRun(std::string input, std::vector<std::string> arguments);

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

    // The file ffmpeg writes, which it gets as OutputFile::ChildDescriptor. ffmpeg is stopped
    // when it runs far past the input's length, and what it wrote is checked once it is done.
    void writes(const OutputFile &output);

    // ffmpeg also gets this open file as its descriptor 3.
    void passDescriptor(int fd) { m_passed = fd; }

    // Checks what can be told without ffmpeg: the input exists, is a file and is not empty.
    static void requireInputFile(const std::string &path);

private:
    static void warnIfShort(const MediaProbe::Facts &input, double reached,
                            const MediaProbe::Facts &written);
    void checkOutput(const MediaProbe::Facts &input, double reached,
                     const std::string &errors) const;

    std::string m_input;
    std::vector<std::string> m_arguments;
    int m_output = -1;
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
