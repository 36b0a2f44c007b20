#include "PictureFilters.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace PictureFilters {

namespace {

// A player's guess for a picture that does not say, and the line where it changes.
constexpr int HighDefinitionLines = 720;
// A display aspect within this share of one MPEG-2 can signal is signalled as that one.
constexpr double StandardAspectTolerance = 0.01;
constexpr int Macroblock = 16;
// A frame of whole macroblocks may differ this much in shape from the picture it shows (which
// it holds with thin black bars).
constexpr double MacroblockShapeTolerance = 0.018;

struct Size
{
    int width;
    int height;
};

int even(double value)
{
    return std::max(2, int(std::lround(value / 2)) * 2);
}

std::string number(int value)
{
    return std::to_string(value);
}

// The largest even size of this display aspect within the frame.
Size fitted(double aspect, Size frame)
{
    if (aspect >= double(frame.width) / frame.height)
        return {frame.width, std::min(frame.height, even(frame.width / aspect))};
    return {std::min(frame.width, even(frame.height * aspect)), frame.height};
}

// The smallest frame of whole macroblocks that holds the picture and whose shape is within
// MacroblockShapeTolerance of the picture's, or, failing that, the one nearest in shape:
// RealMedia stores no pixel shape, so the frame's own shape is what players show. The picture
// goes in the middle, with thin black bars around it, so nothing is scaled for it.
Size macroblockFrame(Size picture)
{
    const auto whole = [](int side) { return (side + Macroblock - 1) / Macroblock * Macroblock; };
    const double aspect = double(picture.width) / picture.height;
    Size best = {whole(picture.width), whole(picture.height)};
    double bestError = 1e9;
    bool bestFits = false;
    for (int h = whole(picture.height); h <= whole(picture.height) + 4 * Macroblock;
         h += Macroblock) {
        for (int w = whole(picture.width); w <= whole(picture.width) + 4 * Macroblock;
             w += Macroblock) {
            const double error = std::fabs(double(w) / h / aspect - 1);
            const bool fits = error < MacroblockShapeTolerance;
            const bool smaller = double(w) * h < double(best.width) * best.height;
            if (fits ? !bestFits || smaller : !bestFits && error < bestError) {
                best = {w, h};
                bestFits = fits;
                bestError = error;
            }
        }
    }
    return best;
}

std::string scaled(Size size)
{
    return "scale=" + number(size.width) + ":" + number(size.height) + ",setsar=1";
}

std::string paddedTo(Size frame)
{
    return "pad=" + number(frame.width) + ":" + number(frame.height) + ":(ow-iw)/2:(oh-ih)/2";
}

bool standardAspect(double aspect)
{
    for (double standard : {4.0 / 3, 16.0 / 9, 2.21})
        if (std::fabs(aspect / standard - 1) < StandardAspectTolerance)
            return true;
    return false;
}

// The filters that give the picture its shape, and the height that comes out.
std::vector<std::string> shape(const SourceInfo::Picture &picture, const Target &target,
                               int &height)
{
    const double aspect = picture.displayAspect();
    const double sar = picture.pixelAspect();
    const Size source = {picture.uprightWidth(), picture.uprightHeight()};
    const bool sized = target.width > 0 && target.height > 0;
    const bool square = std::fabs(sar - 1) < 1e-9;
    height = sized ? target.height : source.height;
    // ffmpeg's scale keeps the display aspect through the pixel shape.
    const std::vector<std::string> asked = {"scale=" + number(target.width) + ":" +
                                            number(target.height)};
    if (aspect <= 0)
        return sized ? asked : std::vector<std::string>{};
    // Square pixels that show the same: wider, or taller, never fewer pixels.
    const Size squared = square    ? source
                         : sar > 1 ? Size{even(source.width * sar), even(source.height)}
                                   : Size{even(source.width), even(source.height / sar)};
    switch (target.shape) {
    case Shape::SquarePixels: {
        const Size content = sized ? fitted(aspect, {target.width, target.height}) : squared;
        const Size frame = sized ? Size{target.width, target.height} : macroblockFrame(content);
        height = frame.height;
        std::vector<std::string> filters;
        if (content.width != source.width || content.height != source.height || !square)
            filters.push_back(scaled(content));
        if (content.width != frame.width || content.height != frame.height)
            filters.push_back(paddedTo(frame));
        return filters;
    }
    case Shape::StandardAspects:
        if (square || standardAspect(aspect))
            return {};
        height = squared.height;
        return {scaled(squared)};
    case Shape::AnyPixels:
        break;
    }
    return sized ? asked : std::vector<std::string>{};
}

bool isRgb(const std::string &format)
{
    for (const char *prefix : {"rgb", "bgr", "gbr", "argb", "abgr", "0rgb", "0bgr", "pal8", "x2"})
        if (format.compare(0, std::strlen(prefix), prefix) == 0)
            return true;
    return false;
}

bool isGray(const std::string &format)
{
    return format.compare(0, 4, "gray") == 0 || format.compare(0, 4, "mono") == 0 ||
           format.compare(0, 2, "ya") == 0;
}

// The matrix a picture's YUV is in, as the colorspace filter names it: what the file says, or
// what a player assumes for its height.
std::string matrixOf(const SourceInfo::Picture &picture)
{
    const std::string &told = picture.matrix;
    if (told == "bt709" || told == "fcc" || told == "smpte240m" || told == "ycgco")
        return told;
    if (told == "bt470bg" || told == "smpte170m")
        return "bt470bg";
    if (told == "bt2020nc" || told == "bt2020c")
        return "bt2020ncl";
    return picture.uprightHeight() >= HighDefinitionLines ? "bt709" : "bt470bg";
}

// setparams' names for the colours a player assumes, told outright.
std::string told(const std::string &matrix)
{
    const std::string name = matrix == "bt709" ? "bt709" : "smpte170m";
    return "setparams=colorspace=" + name + ":color_primaries=" + name + ":color_trc=" + name;
}

bool isHdr(const SourceInfo::Picture &picture)
{
    return picture.transfer == "smpte2084" || picture.transfer == "arib-std-b67";
}

// HDR (PQ or HLG in BT.2020) for an 8-bit SDR output: zimg brings it to BT.709 with reference
// white at 100 nits, as an SDR picture of the same scene shows it; brighter highlights clip.
// The matrix is the one a player assumes for the output where the format tells none.
std::vector<std::string> toneMapped(const SourceInfo::Picture &picture, const Target &target,
                                    int height)
{
    const std::string matrix =
        target.tellsColours || height >= HighDefinitionLines ? "bt709" : "smpte170m";
    const std::string source = picture.matrix == "bt2020c" ? "2020_cl" : "2020_ncl";
    std::vector<std::string> filters = {
        "zscale=tin=" + picture.transfer +
            ":pin=" + (picture.primaries.empty() ? "bt2020" : picture.primaries) +
            ":min=" + source + ":rin=" + (picture.range == "pc" ? "full" : "limited") +
            ":t=bt709:p=bt709:m=" + matrix + ":r=limited:npl=100",
        "format=yuv420p"};
    if (target.tellsColours)
        filters.push_back(told(matrix == "bt709" ? "bt709" : "bt470bg"));
    return filters;
}

std::vector<std::string> colours(const SourceInfo::Picture &picture, const Target &target,
                                 int height)
{
    if (isHdr(picture))
        return toneMapped(picture, target, height);
    if (isGray(picture.pixelFormat))
        return {};
    const std::string assumed = height >= HighDefinitionLines ? "bt709" : "bt470bg";
    if (isRgb(picture.pixelFormat)) {
        // ffmpeg would make YUV of it with BT.601 whatever the size.
        std::vector<std::string> filters = {std::string("scale=out_color_matrix=") +
                                                (assumed == "bt709" ? "bt709" : "bt601") +
                                                ":out_range=tv:flags=accurate_rnd",
                                            "format=yuv420p"};
        if (target.tellsColours)
            filters.push_back(told(assumed));
        return filters;
    }
    const std::string source = matrixOf(picture);
    // A YUV J format is brought to TV levels on its way to the encoder's format; any other
    // full-range picture only by a filter.
    const bool fullRange = picture.range == "pc" && picture.pixelFormat.compare(0, 4, "yuvj") != 0;
    const bool levels = fullRange && !target.tellsRange;
    const bool matrix = !target.tellsColours && source != assumed;
    if (matrix || levels) {
        const std::string space = target.tellsColours ? source : assumed;
        // Only the matrix and the levels change: the same primaries and transfer on both
        // sides keep the filter from converting anything else.
        return {"colorspace=ispace=" + source + ":space=" + space +
                ":iprimaries=bt709:primaries=bt709:itrc=bt709:trc=bt709:irange=" +
                (picture.range == "pc" ? "pc" : "tv") + ":range=tv"};
    }
    if (target.tellsColours && picture.matrix.empty() && source != assumed)
        return {told(source)};
    return {};
}

std::vector<std::string> deinterlacing(const SourceInfo::Picture &picture, const Target &target)
{
    if (picture.fields == SourceInfo::Fields::Progressive || picture.still ||
        isRgb(picture.pixelFormat))
        return {};
    // One frame from each field when the output's rate has room for them, else one from each
    // frame.
    const bool fields =
        target.rateValue > 0 && picture.rate > 0 && target.rateValue >= 1.5 * picture.rate;
    std::string filter = std::string("bwdif=mode=") + (fields ? "send_field" : "send_frame");
    switch (picture.fields) {
    case SourceInfo::Fields::TopFirst:
        return {filter + ":parity=tff:deint=all"};
    case SourceInfo::Fields::BottomFirst:
        return {filter + ":parity=bff:deint=all"};
    default:
        return {filter + ":deint=interlaced"};
    }
}

} // namespace

std::string chain(const SourceInfo::Picture &picture, const Target &target)
{
    std::vector<std::string> filters;
    if (!picture.leaps.empty())
        filters.push_back(SourceInfo::closing(picture.leaps, false));
    for (const std::string &filter : deinterlacing(picture, target))
        filters.push_back(filter);
    // A still (a song's cover) is one frame without a length, which the fps filter would drop:
    // it is held for as long as the sound lasts, at a slow rate where the format lets the
    // source choose one.
    if (picture.still && target.stillFor > 0) {
        std::string rate = target.rate.empty() ? StillRate : target.rate;
        for (size_t at; (at = rate.find("source_fps")) != std::string::npos;)
            rate.replace(at, 10, StillRate);
        char held[64];
        std::snprintf(held, sizeof held, "%.3f", target.stillFor);
        filters.push_back(std::string("tpad=stop_mode=clone:stop_duration=") + held);
        filters.push_back("fps=fps='" + rate + "':start_time=0");
    } else if (!target.rate.empty() && !picture.still) {
        filters.push_back("fps=fps='" + target.rate + "':start_time=0");
    }
    int height = 0;
    for (const std::string &filter : shape(picture, target, height))
        filters.push_back(filter);
    if (!target.burnIn.empty())
        filters.push_back(target.burnIn);
    for (const std::string &filter : colours(picture, target, height))
        filters.push_back(filter);
    std::string joined;
    for (const std::string &filter : filters)
        joined += (joined.empty() ? "" : ",") + filter;
    return joined;
}

} // namespace PictureFilters
