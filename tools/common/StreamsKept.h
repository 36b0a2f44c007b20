#pragma once

#include "SourceInfo.h"

// Which of the source's streams an output carries, and a note for each it cannot: today's
// formats keep every sound track and their text subtitles; the formats of old, and the sound
// formats, one picture and the sound a player plays.
namespace StreamsKept {

struct Kept
{
    bool picture = false;       // the output has a picture (its first video stream)
    bool everySound = false;    // every sound track, else the one a player plays
    bool textSubtitles = false; // subtitles that are text, in the container's own text format
    bool shownSubtitle = false; // the one a player shows unasked, drawn into the picture
};

// Prints ToolContract's DroppedNote for every stream of `source` the output leaves out. The
// pictures of a sound format are no loss of this kind: the format has none.
void noteDropped(const SourceInfo &source, const Kept &kept);

} // namespace StreamsKept
