#pragma once

#include "SourceInfo.h"

#include <string>
#include <vector>

// What a media file holds, read in process through ffmpeg's own libraries (the same libavformat
// the tools' ffmpeg uses): its streams with what their filters need, and the time its packets
// really span. A header's length is not trusted: joined recordings, an AVI whose frame counts
// say a third, a Matroska duration written early all under-state what the file holds. Only
// numbers and flags are read, never a title or another text the file carries, so a file cannot
// make itself look longer, shorter or different from what it is.
namespace MediaProbe {

// Forward leaps longer than this within one stream are closed up.
inline constexpr double LeapSeconds = 5.0;

struct Leap
{
    bool video = false; // of the picture, else of the sound
    double at = 0;      // where in the content, in seconds
    double length = 0;
};

struct Facts
{
    bool opened = false;        // the libraries read it
    bool refused = false;       // a format outside ToolContract::InputFormats
    std::string failure;        // why not, in the libraries' words
    std::string demuxer;        // the demuxer that read it, as ffmpeg's -f takes it
    bool discontinuous = false; // its timestamps may jump (MPEG-TS and -PS)
    double length = -1;         // of the content in seconds; below 0 when nothing tells
    double headerLength = -1;   // what the container says
    bool estimated = false;     // `length` is the header's guess from the bitrate
    bool headerGuessed = false; // the header's length is a guess from the bitrate
    bool video = false;         // a video stream, a cover picture aside
    bool cover = false;         // a cover picture (a still attached to a song)
    bool audio = false;
    double audioLength = -1;   // the sound a player plays; below 0 when not told
    long long videoFrames = 0; // packets of the video streams (a cover's aside)
    long long audioFrames = 0;
    std::vector<Leap> leaps; // as found, in the order they come
    // When it was recorded, as its creation_time tag says ("2024-05-01T08:30:00.000000Z"); empty
    // when it says nothing, or anything but such a time.
    std::string creationTime;
    SourceInfo source;
};

// The file open as `fd`, its name (`name`) only a hint for recognising a format. `input`: a
// user's file, read only as one local media file of ToolContract::InputFormats; a tool's own
// output otherwise.
Facts read(int fd, const std::string &name, bool input);

// "7200.0 s at 12.0 s", for the notes.
std::string describe(const Leap &leap);

} // namespace MediaProbe
