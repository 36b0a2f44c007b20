#pragma once

#include <string>

// What ffprobe tells of a media file: whether it opens, its streams and its length. Only
// numbers and ffprobe's own words are read, never a title or another text the file carries,
// so a file cannot make itself look longer, shorter or different from what it is.
namespace MediaProbe {

struct Facts
{
    bool opened = false;    // ffprobe read it
    std::string failure;    // why not, in ffprobe's words
    double length = -1;     // of the whole file in seconds; below 0 when it has none
    bool estimated = false; // the length is ffmpeg's guess from the bitrate
    bool video = false;     // a video stream, a cover picture aside
    bool cover = false;     // a cover picture (a still attached to a song)
    bool audio = false;
    double audioLength = -1; // of the first audio stream; below 0 when not told
};

// A user's file, read only as one local media file (ToolContract's input rules). Each file is
// asked about once per run of a tool.
Facts input(const std::string &path);

// The file this process holds open as `fd`: the output a tool is writing.
Facts openFile(int fd);

// What a successful ffprobe run printed ("-show_entries format=duration:stream=codec_type,
// duration:stream_disposition=attached_pic -of compact"), and its warnings.
Facts read(const std::string &out, const std::string &err);

} // namespace MediaProbe
