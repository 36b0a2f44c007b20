#include "SourceInfo.h"

#include "FfmpegText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The channels of ffmpeg's named layouts ("ffmpeg -layouts"); a layout it cannot name it calls
// "N channels".
struct Layout
{
    const char *name;
    int channels;
};
constexpr Layout layouts[] = {
    {"mono", 1},       {"stereo", 2},
    {"downmix", 2},    {"2.1", 3},
    {"3.0", 3},        {"3.0(back)", 3},
    {"4.0", 4},        {"quad", 4},
    {"quad(side)", 4}, {"3.1", 4},
    {"5.0", 5},        {"5.0(side)", 5},
    {"4.1", 5},        {"5.1", 6},
    {"5.1(side)", 6},  {"6.0", 6},
    {"6.0(front)", 6}, {"hexagonal", 6},
    {"6.1", 7},        {"6.1(back)", 7},
    {"6.1(front)", 7}, {"7.0", 7},
    {"7.0(front)", 7}, {"7.1", 8},
    {"7.1(wide)", 8},  {"7.1(wide-side)", 8},
    {"octagonal", 8},  {"hexadecagonal", 16},
    {"22.2", 24},
};

int channelsOf(const std::string &layout)
{
    for (const Layout &known : layouts)
        if (layout == known.name)
            return known.channels;
    int channels = 0;
    char rest[16] = {};
    if (std::sscanf(layout.c_str(), "%d %15s", &channels, rest) == 2 &&
        std::strcmp(rest, "channels") == 0 && channels > 0)
        return channels;
    return 0;
}

// The items of a stream line after "Video: " or "Audio: ", split at the commas that are not
// inside parentheses or brackets: "h264 (High) (avc1 / 0x31637661)", "yuv420p(tv, bt709)" ...
std::vector<std::string> items(const std::string &text)
{
    std::vector<std::string> found;
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '(' || c == '[')
            ++depth;
        else if ((c == ')' || c == ']') && depth > 0)
            --depth;
        else if (c == ',' && depth == 0) {
            found.push_back(text.substr(start, i - start));
            start = i + 1;
            while (start < text.size() && text[start] == ' ')
                ++start;
        }
    }
    found.push_back(text.substr(start));
    return found;
}

bool startsWith(const std::string &text, const char *prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

bool endsWith(const std::string &text, const char *suffix)
{
    const size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// "yuv420p(tv, bt709/bt709/smpte2084, top first)": the format and what its parentheses say.
void readPixelFormat(const std::string &item, SourceInfo::Picture &picture)
{
    const size_t open = item.find('(');
    picture.pixelFormat = item.substr(0, open);
    if (open == std::string::npos || item.back() != ')')
        return;
    for (std::string detail : items(item.substr(open + 1, item.size() - open - 2))) {
        if (detail == "tv" || detail == "pc") {
            picture.range = detail;
        } else if (detail == "progressive") {
            picture.fields = SourceInfo::Fields::Progressive;
        } else if (startsWith(detail, "top ")) {
            picture.fields = SourceInfo::Fields::TopFirst;
        } else if (startsWith(detail, "bottom ")) {
            picture.fields = SourceInfo::Fields::BottomFirst;
        } else if (!endsWith(detail, " bpc")) {
            // One name when space, primaries and transfer agree, else all three.
            detail = detail.substr(0, detail.find('/'));
            if (detail != "unknown" && detail != "reserved")
                picture.matrix = detail;
        }
    }
}

// "1920x1080 [SAR 1:1 DAR 16:9]", "SAR 64:45 DAR 16:9": the size and the pixel shape.
void readSize(const std::string &item, SourceInfo::Picture &picture)
{
    int width = 0, height = 0, used = 0;
    if (!item.empty() && item[0] >= '1' && item[0] <= '9' &&
        std::sscanf(item.c_str(), "%9dx%9d%n", &width, &height, &used) == 2 && width > 0 &&
        height > 0 && (size_t(used) == item.size() || item[size_t(used)] == ' ')) {
        picture.width = width;
        picture.height = height;
    }
    const size_t sar = item.find("SAR ");
    int num = 0, den = 0;
    if (sar != std::string::npos &&
        std::sscanf(item.c_str() + sar + 4, "%9d:%9d", &num, &den) == 2 && num > 0 && den > 0) {
        picture.sarNum = num;
        picture.sarDen = den;
    }
}

void readPicture(const std::string &line, const std::string &sideData, SourceInfo::Picture &picture)
{
    const std::vector<std::string> parts = items(line);
    for (size_t i = 1; i < parts.size(); ++i) {
        const std::string &item = parts[i];
        if (item.empty())
            continue;
        if ((item[0] >= '1' && item[0] <= '9') || startsWith(item, "SAR ")) {
            if (endsWith(item, " tbr")) {
                // ffmpeg writes whole thousands as "90k".
                char *end = nullptr;
                picture.rate = std::strtod(item.c_str(), &end);
                if (*end == 'k')
                    picture.rate *= 1000;
            } else if (item.find('x') != std::string::npos || startsWith(item, "SAR "))
                readSize(item, picture);
        } else if (i == 1 && picture.pixelFormat.empty()) {
            readPixelFormat(item, picture);
        }
    }
    // ffmpeg turns the picture by the opposite of the angle its display matrix is rotated by.
    const size_t rotation = sideData.find("displaymatrix: rotation of ");
    if (rotation != std::string::npos) {
        const double degrees = -std::strtod(sideData.c_str() + rotation + 27, nullptr);
        if (std::isfinite(degrees)) {
            const long quarter = std::lround(std::fmod(degrees, 360) / 90);
            picture.rotation = int(((quarter % 4) + 4) % 4) * 90;
        }
    }
}

void readSound(const std::string &line, SourceInfo::Sound &sound)
{
    const std::vector<std::string> parts = items(line);
    for (size_t i = 1; i < parts.size(); ++i) {
        if (endsWith(parts[i], " Hz")) {
            sound.sampleRate = std::max(0, std::atoi(parts[i].c_str()));
            if (i + 1 < parts.size())
                sound.channels = channelsOf(parts[i + 1]);
            return;
        }
    }
}

// Where the description of the first input starts (after its "from '<url>':" line, so that
// nothing in a file name is taken for a stream) and ends; false while it has not ended.
bool describedPart(const std::string &text, const std::string &url, size_t &start, size_t &end)
{
    const size_t input = text.find("Input #0, ");
    if (input == std::string::npos)
        return false;
    const std::string from = " from '" + url + "':\n";
    const size_t named = text.find(from, input);
    start = named != std::string::npos ? named + from.size() : text.find('\n', input);
    if (start == std::string::npos)
        return false;
    end = std::string::npos;
    for (const char *next : {"\nInput #1, ", "\nOutput #0, ", "\nStream mapping:"}) {
        const size_t at = text.find(next, start - 1);
        if (at != std::string::npos && at < end)
            end = at + 1;
    }
    return end != std::string::npos;
}

} // namespace

int SourceInfo::chosenSound() const
{
    for (size_t i = 0; i < sounds.size(); ++i)
        if (sounds[i].flaggedDefault)
            return int(i);
    return sounds.empty() ? -1 : 0;
}

bool SourceInfo::parse(const std::string &stderrText, const std::string &url, SourceInfo &info)
{
    size_t start = 0, end = 0;
    if (!describedPart(stderrText, url, start, end))
        return false;
    info = SourceInfo();
    info.lengthEstimated = FfmpegText::lengthEstimated(stderrText);

    // A stream's line begins a line: a title or a name may hold the same words further on.
    static const std::string streamStart = "  Stream #0:";
    size_t at = stderrText.find("\n" + streamStart, start - 1);
    if (at != std::string::npos)
        ++at;
    while (at != std::string::npos && at < end) {
        const size_t lineEnd = stderrText.find('\n', at);
        // The stream's own lines (metadata, side data) are indented further.
        size_t next = stderrText.find("\n  Stream #0:", lineEnd);
        if (next == std::string::npos || next > end)
            next = end;
        else
            ++next;
        const std::string line = stderrText.substr(at, lineEnd - at);
        const std::string own = stderrText.substr(lineEnd, next - lineEnd);
        const int number = std::atoi(line.c_str() + streamStart.size());
        const size_t video = line.find(": Video: ");
        const size_t audio = line.find(": Audio: ");
        if (video != std::string::npos && !info.hasPicture) {
            info.hasPicture = true;
            readPicture(line.substr(video + 9), own, info.picture);
            info.picture.still = line.find(" (attached pic)", video) != std::string::npos;
        } else if (audio != std::string::npos) {
            Sound sound;
            sound.stream = number;
            sound.flaggedDefault = line.find(" (default)", audio) != std::string::npos;
            readSound(line.substr(audio + 9), sound);
            info.sounds.push_back(sound);
        }
        at = next < end ? next : std::string::npos;
    }
    return true;
}
