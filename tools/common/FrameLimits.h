#pragma once

// What each video encoder of the tools can take, and the size the tools make of a picture it
// cannot. Only the tools use it: the converter checks what a user types against the largest
// size a tool takes at all (ToolContract::MaxRequestedSide) and leaves the rest to them.

#include <algorithm>
#include <cmath>

namespace Frames {

// What each video encoder of the tools takes, as found with Debian's ffmpeg 5.1: encoding a
// frame of each size at the edges and decoding it back. A picture the encoder cannot take
// is scaled down by the tool, keeping its shape, to the largest size it can take; a picture
// that is not a whole number of the encoder's units gets blank rows and columns added.
struct Limits
{
    const char *codec; // ffmpeg's name of the video codec
    int maxWidth;      // the largest coded width and height, each a multiple of alignment
    int maxHeight;
    int alignment;         // the coded width and height are multiples of this
    int maxMacroblocks;    // the most 16x16 blocks a picture may have, 0 for no limit of its own
    int forbiddenMultiple; // neither side may be a multiple of this, 0 for no such rule
    int minSide = 0;       // the smallest width and height, a multiple of alignment; 0: none
};

inline constexpr Limits table[] = {
    // MPEG-2 (MPG, AVI): sizes up to 16383 with the size extension, but the low 12 bits of
    // a side may not all be zero, so 4096 or 8192 is refused ("not allowed to be multiples
    // of 4096"); 4:2:0 needs even sides.
    {"mpeg2video", 16382, 16382, 2, 0, 4096},
    // MPEG-4 Part 2 (MPEG4, the intermediate file, mobile MP4 and 3GP): 13 bits per side,
    // 8192 is "too large for MPEG-4".
    {"mpeg4", 8190, 8190, 2, 0, 0},
    // RealVideo 1 (RMVB, RM): whole macroblocks, at most 4095 of them (1024x1024 fails,
    // 1040x1008 works); the RealMedia header has 16 bits per side.
    {"rv10", 65520, 65520, 16, 4095, 0},
    // H.264 through libx264 (MOV, H264): "invalid width x height" beyond 16384 per side.
    {"h264", 16384, 16384, 2, 0, 0},
    // H.265 through libx265 (H265): "Image size is too small" below 16 per side, and below 32
    // it refuses a picture whose other side is 8192 or more (8192x16 fails, 8192x32 and 30x30
    // work), so the table asks for 32. x265 takes sides beyond 32768; the table stops where
    // H.264 does, at the largest -s there is.
    {"hevc", 16384, 16384, 2, 0, 0, 32},
    // AV1 through SVT-AV1 (AV1): "Source Width must be at least 64", at most 16384 wide and
    // 8704 high.
    {"av1", 16384, 8704, 2, 0, 0, 64},
};

// The limits of a codec, nullptr for one the tools do not know.
inline const Limits *limitsOf(const char *codec)
{
    for (const Limits &limits : table) {
        const char *a = limits.codec, *b = codec;
        while (*a && *a == *b)
            ++a, ++b;
        if (*a == *b)
            return &limits;
    }
    return nullptr;
}

struct Size
{
    int width;
    int height;
};

// Whether the encoder takes a picture of this size as it is.
inline bool takes(const Limits &limits, int width, int height)
{
    const int a = limits.alignment;
    const auto forbidden = [&](int side) {
        return limits.forbiddenMultiple > 0 && side % limits.forbiddenMultiple == 0;
    };
    return width > 0 && height > 0 && width >= limits.minSide && height >= limits.minSide &&
           width % a == 0 && height % a == 0 && width <= limits.maxWidth &&
           height <= limits.maxHeight &&
           (limits.maxMacroblocks == 0 ||
            ((width + 15) / 16) * ((height + 15) / 16) <= limits.maxMacroblocks) &&
           !forbidden(width) && !forbidden(height);
}

// The coded size the tools make of a width x height picture (after -s): the picture as it
// is, or scaled down by the largest factor f that keeps it within the limits (for a
// macroblock limit, the largest f with (w f / 16 + 1) (h f / 16 + 1) <= maxMacroblocks, a
// bound within a macroblock row or column of the best), each side then cut to an even
// number; a side that is a forbidden multiple loses one unit; last, blank rows and columns
// up to the alignment, and up to the smallest side. The tools compute the same in ffmpeg's
// expressions, in this order of operations, so both sides come to the same numbers.
inline Size fitted(const Limits &limits, int width, int height)
{
    const double w = width, h = height;
    const double a = limits.alignment;
    const auto align = [a](double side) { return std::ceil(side / a) * a; };
    const bool tooLarge = align(w) > limits.maxWidth || align(h) > limits.maxHeight ||
                          (limits.maxMacroblocks > 0 &&
                           std::ceil(w / 16) * std::ceil(h / 16) > limits.maxMacroblocks);
    double sw = w, sh = h;
    if (tooLarge) {
        double f = std::min(limits.maxWidth / w, limits.maxHeight / h);
        if (limits.maxMacroblocks > 0) {
            const double pa = w * h / 256, pb = (w + h) / 16;
            f = std::min(f, (std::sqrt(pb * pb + 4 * pa * (limits.maxMacroblocks - 1)) - pb) /
                                (2 * pa));
        }
        sw = std::max(2.0, std::trunc(w * f / 2 + 0.000001) * 2);
        sh = std::max(2.0, std::trunc(h * f / 2 + 0.000001) * 2);
    }
    if (limits.forbiddenMultiple > 0) {
        if (std::fmod(align(sw), limits.forbiddenMultiple) == 0)
            sw = align(sw) - a;
        if (std::fmod(align(sh), limits.forbiddenMultiple) == 0)
            sh = align(sh) - a;
    }
    const double least = limits.minSide;
    return {int(std::max(least, align(sw))), int(std::max(least, align(sh)))};
}

} // namespace Frames
