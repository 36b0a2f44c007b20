#pragma once

#include "SourceInfo.h"

#include <string>

// The filters every tool puts on the picture, so that each format shows it as the source does.
//
// Interlaced pictures are deinterlaced (bwdif) at the output's frame rate: a source that says
// its fields come top or bottom first has every frame deinterlaced, one that does not say has
// each frame its decoder marks as interlaced (DV, a broadcast recording) deinterlaced, and a
// progressive one is never touched.
//
// A constant frame rate is made by the fps filter, which starts the picture at the file's
// start (repeating its first frame when the sound starts earlier) and shows every picture at
// its time; ffmpeg's output option -r alone would show each about two frames late. (The tools
// still give -r for the same rate, which then has nothing left to change but times a still.)
//
// The display aspect is kept: through the pixel shape where the format stores it, as square
// pixels where it does not (RealMedia, and MPEG-2 beyond its three shapes), and, with a frame
// size asked of such a format, by fitting the picture inside it with black bars.
//
// Colours are kept: where the format tells the colour matrix, the source's description goes
// with the picture (told outright when the source said nothing and a player's guess would
// change with the size); where it does not (MPEG-4 in AVI or 3GP, RealMedia), the pixels are
// converted to what a player assumes for the output's size: BT.601 below 720 lines, BT.709
// from 720 up. The intermediate file of two-stage formats is such an AVI, so it holds its
// colours as a player assumes them for its size, and the second stage reads it that way.
namespace PictureFilters {

// How the output stores the picture's pixel shape.
enum class Shape {
    AnyPixels,       // any pixel shape (MPEG-4, H.264, H.265, AV1)
    StandardAspects, // MPEG-1 and -2 in a program stream: 4:3, 16:9 and 2.21:1, or square pixels
    SquarePixels,    // none: RealMedia, whose frames are also whole macroblocks of 16x16
};

struct Target
{
    int width = 0; // a frame size asked for, 0: the source's
    int height = 0;
    // A constant frame rate for the fps filter ("24", "30000/1001" or an expression of
    // source_fps); empty keeps the source's timing.
    std::string rate;
    double rateValue = 0; // that rate in frames a second when it is a number, else 0
    Shape shape = Shape::AnyPixels;
    // How long a still (a song's cover) is shown: the whole sound, at `rate` with source_fps
    // taken as StillRate.
    double stillFor = 0;
    bool tellsColours = true; // the output stores the colour matrix
    bool tellsRange = true;   // and whether the levels are full range
    // Text subtitles drawn into the picture once it has the output's size (a subtitles
    // filter); empty for none.
    std::string burnIn;
};

// The frame rate of a still shown for a while, where the format leaves the rate to the source.
inline constexpr char StillRate[] = "1";

// The chain (filters joined by commas, empty for none) for the source's picture.
std::string chain(const SourceInfo::Picture &picture, const Target &target);

} // namespace PictureFilters
