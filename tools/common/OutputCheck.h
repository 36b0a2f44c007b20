#pragma once

#include "MediaProbe.h"

#include <string>

// Whether what an encoder wrote is a playable file of about its input's length, before it takes
// the final name: it opens, holds the streams it must and something to play; and the encoder
// did not run far past the input's length (a timestamp that jumps by hours would otherwise come
// out as hours of one frozen picture). That is told by the encoder's own progress: the length a
// container states can be wrong (a RealMedia file with an empty sound track says an hour).
namespace OutputCheck {

// How far the output may get, in seconds, before the encoder is stopped; 0 when the input's
// length is unknown or only estimated, which sets no limit. The length is what the input's
// packets span, so a header that under-states it does not stop an honest file.
double longestAllowed(const MediaProbe::Facts &input);

// Throws ToolFailure, with ToolContract's text for it, when the output written cannot be played:
// it does not open, lacks a stream it must have, or holds no frame or no sample, whatever its
// container says of its length. `videoWritten`: the encoder was told to write a video stream.
void verify(const MediaProbe::Facts &written, bool videoWritten);

// "7200.0 s of 1.0 s"
std::string lengths(double reached, double expected);

} // namespace OutputCheck
