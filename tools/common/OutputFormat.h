#pragma once

#include <string>

// Which ffmpeg muxer writes a tool's output. ffmpeg gets the output as a file the tool has
// opened, not by its name, so it cannot choose the muxer by the name's extension itself: the
// tool chooses it as ffmpeg would, among the muxers that write one file, and only the file they
// are given. Playlists with their segments (hls, dash), segment lists, image sequences (image2),
// several outputs at once (tee), devices and network streams are refused, whether asked for by
// name or by extension.
namespace OutputFormat {

// The muxer for `requested` (the format the command line names) when it is not empty, else for
// the extension of `path`. Throws ToolFailure when it is none of those muxers.
std::string muxerFor(const std::string &requested, const std::string &path);

} // namespace OutputFormat
