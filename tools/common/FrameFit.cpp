#include "FrameFit.h"

#include "Notes.h"

#include <cstdio>
#include <utility>

namespace FrameFit {

namespace {

std::string number(int value)
{
    return std::to_string(value);
}

// One side's expression; the same operations in the same order as Frames::fitted.
std::string side(const Frames::Limits &limits, const std::string &input,
                 const std::string &tooLarge, const std::string &factor)
{
    const std::string a = number(limits.alignment);
    const std::string scaled = "if(" + tooLarge + ",max(2,trunc(" + input + "*" + factor +
                               "/2+0.000001)*2)," + input + ")";
    if (limits.forbiddenMultiple == 0)
        return scaled;
    const std::string aligned = "ceil(" + scaled + "/" + a + ")*" + a;
    return "if(eq(mod(" + aligned + "," + number(limits.forbiddenMultiple) + "),0)," + aligned +
           "-" + a + "," + scaled + ")";
}

} // namespace

std::string filters(const Frames::Limits &limits, bool centre)
{
    const std::string a = number(limits.alignment);
    const auto align = [&](const std::string &side) { return "ceil(" + side + "/" + a + ")*" + a; };
    std::string tooLarge = "gt(" + align("iw") + "," + number(limits.maxWidth) + ")+gt(" +
                           align("ih") + "," + number(limits.maxHeight) + ")";
    std::string factor =
        "min(" + number(limits.maxWidth) + "/iw," + number(limits.maxHeight) + "/ih)";
    if (limits.maxMacroblocks > 0) {
        tooLarge += "+gt(ceil(iw/16)*ceil(ih/16)," + number(limits.maxMacroblocks) + ")";
        const std::string pa = "(iw*ih/256)", pb = "((iw+ih)/16)";
        factor = "min(" + factor + ",(sqrt(" + pb + "*" + pb + "+4*" + pa + "*" +
                 number(limits.maxMacroblocks - 1) + ")-" + pb + ")/(2*" + pa + "))";
    }
    const auto padded = [&](const std::string &side) {
        return limits.minSide > 0 ? "max(" + number(limits.minSide) + "," + align(side) + ")"
                                  : align(side);
    };
    std::string chain = "scale=w='" + side(limits, "iw", tooLarge, factor) + "':h='" +
                        side(limits, "ih", tooLarge, factor) + "',pad=w='" + padded("iw") +
                        "':h='" + padded("ih") + "'";
    if (centre)
        chain += ":x='(ow-iw)/2':y='(oh-ih)/2'";
    return chain;
}

bool scaledDown(Frames::Size wanted, Frames::Size output, Frames::Size &from)
{
    from = wanted;
    if ((wanted.width > wanted.height) != (output.width > output.height) &&
        wanted.width != wanted.height && output.width != output.height)
        std::swap(from.width, from.height);
    return output.width < from.width || output.height < from.height;
}

void printScaledNote(Frames::Size from, Frames::Size to, const std::string &why)
{
    char sizes[128];
    std::snprintf(sizes, sizeof sizes, "%dx%d to %dx%d: ", from.width, from.height, to.width,
                  to.height);
    Notes::print(ToolContract::FrameScaledNote + std::string(sizes) + why);
}

} // namespace FrameFit
