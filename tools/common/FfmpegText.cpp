#include "FfmpegText.h"

#include "ToolContract.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace FfmpegText {

std::string absolutePath(const std::string &path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    std::vector<char> cwd(4096);
    while (!getcwd(cwd.data(), cwd.size()) && errno == ERANGE)
        cwd.resize(cwd.size() * 2);
    return std::string(cwd.data()) + "/" + path;
}

static std::string withoutFileNames(std::string line)
{
    // ffmpeg starts many messages with the url it failed on: "file:/a/b.avi: Invalid data".
    // Keep only the part after the last "file:...: " prefix.
    const size_t at = line.rfind("file:");
    if (at != std::string::npos) {
        const size_t colon = line.find(": ", at + 5);
        if (colon != std::string::npos)
            line = line.substr(0, at) + line.substr(colon + 2);
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

std::string failureReason(const std::string &stderrText)
{
    std::istringstream lines(stderrText);
    std::string line, last, lastError, diskFull;
    while (std::getline(lines, line)) {
        line = withoutFileNames(line);
        if (line.empty() || line == "Conversion failed!" || line.rfind("Exiting", 0) == 0)
            continue;
        last = line;
        if (line.find("No space left") != std::string::npos)
            diskFull = line;
        if (line.find("rror") != std::string::npos || line.find("nvalid") != std::string::npos)
            lastError = line;
    }
    // A full disk shows up as many follow-on errors; the disk is what the user must know.
    const std::string &reason =
        !diskFull.empty() ? diskFull : (lastError.empty() ? last : lastError);
    return reason.empty() ? "ffmpeg failed" : reason;
}

const char *resourceShortage(const std::string &stderrText)
{
    namespace E = ToolContract::Error;
    // The system's words, and those of the loader and the encoders for a failed allocation.
    static const std::pair<const char *, const char *> words[] = {
        {"Cannot allocate memory", E::OutOfMemory},
        {"failed to map segment from shared object", E::OutOfMemory},
        {"cannot map zero-fill pages", E::OutOfMemory},
        {"cannot allocate memory in static TLS block", E::OutOfMemory},
        {"malloc of size", E::OutOfMemory},
        {"Resource temporarily unavailable", E::OutOfProcesses},
        {"Too many open files", E::OutOfDescriptors},
    };
    std::istringstream lines(stderrText);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find("rror") == std::string::npos && line.find("failed") == std::string::npos)
            continue;
        for (const auto &[word, shortage] : words)
            if (line.find(word) != std::string::npos)
                return shortage;
    }
    return nullptr;
}

// The first "WxH" among the words of the first complete video stream line between start and
// end. Only stream lines count: a file name may hold anything.
static bool streamSize(const std::string &text, size_t start, size_t end, Frames::Size &size)
{
    static const std::string stream = "\n  Stream #", video = ": Video: ";
    for (size_t at = text.find(stream, start); at != std::string::npos && at < end;
         at = text.find(stream, at + 1)) {
        const size_t lineEnd = text.find('\n', at + 1);
        if (lineEnd == std::string::npos)
            return false;
        const size_t kind = text.find(video, at);
        if (kind == std::string::npos || kind > lineEnd)
            continue;
        std::istringstream words(text.substr(kind + video.size(), lineEnd - kind - video.size()));
        std::string word;
        while (words >> word) {
            while (!word.empty() && word.back() == ',')
                word.pop_back();
            // "640x360", not a codec tag such as "0x31637661".
            int width = 0, height = 0, used = 0;
            if (!word.empty() && word[0] >= '1' && word[0] <= '9' &&
                std::sscanf(word.c_str(), "%9dx%9d%n", &width, &height, &used) == 2 &&
                size_t(used) == word.size() && width > 0 && height > 0) {
                size = {width, height};
                return true;
            }
        }
    }
    return false;
}

bool videoSizes(const std::string &stderrText, Frames::Size &input, Frames::Size &output)
{
    const size_t in = stderrText.find("Input #0");
    const size_t out = stderrText.find("Output #0");
    if (in == std::string::npos || out == std::string::npos || out < in)
        return false;
    return streamSize(stderrText, in, out, input) &&
           streamSize(stderrText, out, std::string::npos, output);
}

long refusedPacketSize(const std::string &stderrText)
{
    static const std::string key = "Muxing packets larger than 64 kB (";
    const size_t at = stderrText.rfind(key);
    if (at == std::string::npos)
        return 0;
    const long size = std::atol(stderrText.c_str() + at + key.size());
    return size > 0 ? size : 0;
}

std::string clock(double seconds)
{
    if (seconds < 0)
        seconds = 0;
    const long long hundredths = (long long)(seconds * 100 + 0.5);
    char text[64];
    std::snprintf(text, sizeof text, ToolContract::DurationClockFormat, hundredths / 360000,
                  hundredths / 6000 % 60, hundredths / 100 % 60, hundredths % 100);
    return text;
}

std::string extensionOf(const std::string &path)
{
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string extension = path.substr(dot + 1);
    for (char &c : extension)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

bool isPlainName(const std::string &name)
{
    // A dash inside a name (libvpx-vp9) is part of it; only a first one would make an option.
    return !name.empty() && name.front() != '-' &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
           });
}

bool parseBitrate(const std::string &text, double &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    double number = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || errno != 0 || !(number > 0))
        return false;
    const std::string suffix(end);
    if (suffix == "k" || suffix == "K")
        number *= 1000;
    else if (suffix == "M" || suffix == "m")
        number *= 1000000;
    else if (!suffix.empty())
        return false;
    // ffmpeg takes the rate as a whole number of bit/s; "inf" or "1e300" would come out of the
    // conversion as garbage, and no encoder has a use for more than conv's 1e9 kbit/s.
    if (!(number <= 1e12))
        return false;
    value = number;
    return true;
}

bool parseFrameRate(const std::string &text, double &rate)
{
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        return false;
    char *end = nullptr;
    rate = std::strtod(text.c_str(), &end);
    if (end != text.c_str() && *end == '/') {
        const char *denominator = end + 1;
        const double below = std::strtod(denominator, &end);
        rate = end != denominator && below > 0 ? rate / below : 0;
    }
    return *end == '\0' && rate > 0 && rate <= 1000;
}

bool parseWholeNumber(const std::string &text, int most, int &value)
{
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int number = std::atoi(text.c_str());
    if (number > most)
        return false;
    value = number;
    return true;
}

bool parsePositiveInt(const std::string &text, int &value)
{
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    value = std::atoi(text.c_str());
    return value > 0;
}

} // namespace FfmpegText
