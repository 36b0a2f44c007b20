#pragma once

#include "FrameLimits.h"
#include "ToolContract.h"

#include <string>
#include <vector>

// Small helpers shared by the tools for talking to ffmpeg.
namespace FfmpegText {

// An absolute path (against the working folder).
std::string absolutePath(const std::string &path);

// The line of ffmpeg's error output that says why it failed, without the file names it names.
std::string failureReason(const std::string &stderrText);

// ToolContract's text for the shortage ffmpeg ran into (memory, processes or threads, open
// files) when its error lines say it did; nullptr otherwise.
const char *resourceShortage(const std::string &stderrText);

// The frame size of the first video stream of ffmpeg's first input and of its output, from
// its description of both ("Stream #0:0: Video: mpeg4, yuv420p, 640x360 [SAR 1:1 ..."); false
// while either line is not complete yet.
bool videoSizes(const std::string &stderrText, Frames::Size &input, Frames::Size &output);

// The size of the packet the RealMedia muxer refused as larger than 64 kB, 0 when it refused
// none.
long refusedPacketSize(const std::string &stderrText);

// Seconds (below 1e12) as HH:MM:SS.xx.
std::string clock(double seconds);

// A file name's extension in lower case, without its dot; empty when it has none.
std::string extensionOf(const std::string &path);

// A codec, format or muxer name: letters, digits, underscores and dashes after its first
// character only, so that it can never be taken for an option or carry one.
bool isPlainName(const std::string &name);

// "12", "12.5", "12k", "1.2M" as a number of units (k = 1000), positive and at most 1e12.
bool parseBitrate(const std::string &text, double &value);
bool parsePositiveInt(const std::string &text, int &value);
// "0" to `most`, digits only.
bool parseWholeNumber(const std::string &text, int most, int &value);
// "25", "29.97" or "30000/1001" frames a second, more than 0 and at most 1000.
bool parseFrameRate(const std::string &text, double &rate);

} // namespace FfmpegText
