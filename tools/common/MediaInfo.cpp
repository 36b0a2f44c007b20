#include "MediaInfo.h"

#include "FfmpegText.h"
#include "Subprocess.h"
#include "ToolFailure.h"

#include <cstdlib>
#include <sstream>
#include <sys/stat.h>

MediaInfo MediaInfo::probe(const std::string &path)
{
    struct stat status = {};
    if (stat(path.c_str(), &status) != 0)
        throw ToolFailure("Error: input file not found: " + path);
    if (!S_ISREG(status.st_mode))
        throw ToolFailure("Error: input is not a file: " + path);
    if (status.st_size == 0)
        throw ToolFailure("Error: input file is empty: " + path);

    std::string out, err;
    const int code = Subprocess({"ffprobe", "-v", "error", "-show_entries",
                                 "format=duration:stream=codec_type,width,height,avg_frame_rate,"
                                 "sample_rate,channels:stream_disposition=attached_pic",
                                 "-of", "default", FfmpegText::fileUrl(path)})
                         .capture(out, err);
    if (code != 0)
        throw ToolFailure("Error: cannot read input file " + path + ": " +
                          FfmpegText::failureReason(err));

    MediaInfo info;
    std::istringstream lines(out);
    std::string line, type;
    int width = 0, height = 0, rateNum = 0, rateDen = 0, sampleRate = 0, channels = 0;
    bool attachedPicture = false;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        const std::string key = line.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
        if (line == "[STREAM]") {
            type.clear();
            width = height = rateNum = rateDen = sampleRate = channels = 0;
            attachedPicture = false;
        } else if (line == "[/STREAM]") {
            if (type == "video" && !attachedPicture && !info.hasVideo && width > 0) {
                info.hasVideo = true;
                info.width = width;
                info.height = height;
                info.frameRateNum = rateNum;
                info.frameRateDen = rateDen;
            } else if (type == "audio" && !info.hasAudio && channels > 0) {
                info.hasAudio = true;
                info.sampleRate = sampleRate;
                info.channels = channels;
            }
        } else if (key == "codec_type") {
            type = value;
        } else if (key == "width") {
            width = std::atoi(value.c_str());
        } else if (key == "height") {
            height = std::atoi(value.c_str());
        } else if (key == "avg_frame_rate") {
            rateNum = std::atoi(value.c_str());
            const size_t slash = value.find('/');
            rateDen = slash == std::string::npos ? 1 : std::atoi(value.c_str() + slash + 1);
        } else if (key == "sample_rate") {
            sampleRate = std::atoi(value.c_str());
        } else if (key == "channels") {
            channels = std::atoi(value.c_str());
        } else if (key == "DISPOSITION:attached_pic") {
            attachedPicture = value == "1";
        } else if (key == "duration") {
            info.duration = std::atof(value.c_str());
        }
    }
    if (!info.hasVideo && !info.hasAudio)
        throw ToolFailure("Error: input file " + path + " holds no audio or video");
    return info;
}
