#include "MediaProbe.h"

#include "FfmpegText.h"
#include "OutputFile.h"
#include "Subprocess.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <vector>

namespace {

// Seconds from ffprobe's text, below 0 for "N/A" or anything that is no finite length.
double seconds(const std::string &text)
{
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    return end != text.c_str() && std::isfinite(value) && value >= 0 && value < 1e12 ? value : -1;
}

MediaProbe::Facts probe(const std::vector<std::string> &source, int fd)
{
    std::vector<std::string> arguments = {"ffprobe",
                                          "-v",
                                          "warning",
                                          "-show_entries",
                                          "format=duration:stream=codec_type,"
                                          "duration:stream_disposition=attached_pic",
                                          "-of",
                                          "compact"};
    arguments.insert(arguments.end(), source.begin(), source.end());
    Subprocess ffprobe(arguments);
    if (fd >= 0)
        ffprobe.passDescriptor(fd, OutputFile::ChildDescriptor);
    std::string out, err;
    if (ffprobe.capture(out, err) != 0) {
        MediaProbe::Facts facts;
        facts.failure = FfmpegText::failureReason(err);
        return facts;
    }
    return MediaProbe::read(out, err);
}

} // namespace

namespace MediaProbe {

Facts input(const std::string &path)
{
    static std::map<std::string, Facts> known;
    const auto found = known.find(path);
    if (found != known.end())
        return found->second;
    return known[path] = probe(FfmpegText::inputArguments(path), -1);
}

Facts openFile(int fd)
{
    return probe({"-protocol_whitelist", "file", "-i",
                  "file:/proc/self/fd/" + std::to_string(OutputFile::ChildDescriptor)},
                 fd);
}

Facts read(const std::string &out, const std::string &err)
{
    Facts facts;
    facts.opened = true;
    facts.estimated = err.find("Estimating duration from bitrate") != std::string::npos;
    size_t start = 0, end;
    while ((end = out.find('\n', start)) != std::string::npos) {
        // "stream|codec_type=audio|duration=1.000000|disposition:attached_pic=0"; a program's
        // streams come again as "program|stream|...", and are the same streams.
        const std::string line = "|" + out.substr(start, end - start) + "|";
        start = end + 1;
        const auto value = [&line](const std::string &key) {
            const size_t at = line.find("|" + key + "=");
            if (at == std::string::npos)
                return std::string();
            const size_t from = at + key.size() + 2;
            return line.substr(from, line.find('|', from) - from);
        };
        if (line.rfind("|format|", 0) == 0) {
            facts.length = seconds(value("duration"));
        } else if (line.rfind("|stream|", 0) == 0 && value("codec_type") == "video") {
            (value("disposition:attached_pic") == "1" ? facts.cover : facts.video) = true;
        } else if (line.rfind("|stream|", 0) == 0 && value("codec_type") == "audio" &&
                   !facts.audio) {
            facts.audio = true;
            facts.audioLength = seconds(value("duration"));
        }
    }
    return facts;
}

} // namespace MediaProbe
