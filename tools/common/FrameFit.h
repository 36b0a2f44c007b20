#pragma once

#include "FrameLimits.h"
#include "ToolContract.h"

#include <string>

// Frames::fitted as ffmpeg filters over the input's own size, so that the input
// need not be probed before the encoder starts: a scale filter that only scales a picture
// the encoder cannot take (and passes any other through untouched), then a pad filter that
// adds blank rows and columns up to the encoder's alignment.
namespace FrameFit {

// centre: the blank rows and columns go on both sides, else right and below.
std::string filters(const Frames::Limits &limits, bool centre);

// Whether the encoded picture came out smaller than the one asked for (the -s size, or the
// input's own) on either side, so that the user must be told. from is the size asked for,
// turned the way the output is (ffmpeg turns a picture its file says is rotated).
bool scaledDown(Frames::Size wanted, Frames::Size output, Frames::Size &from);

// Prints the notice NotePrefix FrameScaledNote "WxH to WxH: " why.
void printScaledNote(Frames::Size from, Frames::Size to, const std::string &why);

} // namespace FrameFit
