#include "coder/Encoders.h"

#include "ToolContract.h"
#include "common/ProbeMemo.h"
#include "common/Subprocess.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Encoders {

namespace {

// The presets keep today's formats near the speed of the older ones: on a 20 s 1280x720 clip
// x264's veryfast took 13 s of processor time, and x265's veryfast and SVT-AV1's preset 10
// 22 s each, as long as x264's own default (medium, which MOV gets). What slower presets would
// buy is in README.md.
constexpr char X264Preset[] = "veryfast";
constexpr char X265Preset[] = "veryfast";
constexpr char SvtAv1Preset[] = "10";
constexpr double SvtAv1MostFrames = 240;

std::string number(int value)
{
    return std::to_string(value);
}

// A whole number from 1 to `most` written out in full; 0 for anything else.
int positiveNumber(const char *text, long most)
{
    if (!text || !*text)
        return 0;
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' && value > 0 ? int(std::min(value, most)) : 0;
}

// The codec ffmpeg picks when -vcodec does not name one.
std::string defaultCodec(const std::string &extension)
{
    if (extension == "mov" || extension == "mp4" || extension == "m4v")
        return "h264";
    return {};
}

// The codec an encoder writes; the tools' other encoders are named after their codec.
std::string codecOf(const std::string &encoder)
{
    if (encoder == "libx264" || encoder == "h264_vaapi")
        return "h264";
    if (encoder == "libx265" || encoder == "hevc_vaapi")
        return "hevc";
    if (encoder == "libsvtav1")
        return "av1";
    return encoder;
}

// The render node to try: VIDMORPH_VAAPI_DEVICE when set (empty: none), else the first of
// /dev/dri/renderD*.
std::string renderNode()
{
    if (const char *chosen = std::getenv("VIDMORPH_VAAPI_DEVICE"))
        return chosen;
    std::vector<std::string> nodes;
    if (DIR *folder = opendir("/dev/dri")) {
        while (const dirent *entry = readdir(folder))
            if (std::string(entry->d_name).rfind("renderD", 0) == 0)
                nodes.push_back(std::string("/dev/dri/") + entry->d_name);
        closedir(folder);
    }
    std::sort(nodes.begin(), nodes.end());
    return nodes.empty() ? std::string() : nodes.front();
}

// One frame through the encoder on the device: drivers that are missing, too old or do not
// offer this codec all fail here, before the user's file is touched.
bool encodesAFrame(const std::string &device, const std::string &encoder)
{
    Subprocess ffmpeg({"ffmpeg",
                       "-nostdin",
                       "-hide_banner",
                       "-v",
                       "error",
                       "-vaapi_device",
                       device,
                       "-f",
                       "lavfi",
                       "-i",
                       "color=black:size=320x240:rate=25",
                       "-frames:v",
                       "1",
                       "-vf",
                       "format=nv12,hwupload",
                       "-c:v",
                       encoder,
                       "-f",
                       "null",
                       "-"});
    std::string out, err;
    return ffmpeg.capture(out, err) == 0;
}

} // namespace

int threadLimit(const std::string &requested)
{
    if (const char *text = std::getenv("VIDMORPH_ENCODER_THREADS"); text && *text)
        return positiveNumber(text, 1024);
    const int filesAtOnce = positiveNumber(std::getenv(ToolContract::FilesAtOnceVariable), 1024);
    if (requested != "libsvtav1" || filesAtOnce < 2)
        return 0;
    cpu_set_t usable;
    const long cores = sched_getaffinity(0, sizeof usable, &usable) == 0
                           ? CPU_COUNT(&usable)
                           : sysconf(_SC_NPROCESSORS_ONLN);
    return int(std::max(1L, cores / filesAtOnce));
}

Video software(const std::string &requested, const std::string &extension, int threads)
{
    Video video;
    video.encoder = requested;
    video.codec = requested.empty() ? defaultCodec(extension) : codecOf(requested);
    // Each encoder takes its thread count its own way; ffmpeg's -threads reaches x264 and
    // the older encoders, not x265 or SVT-AV1.
    const std::string limit = threads > 0 ? number(threads) : std::string();
    if (requested == "libx265") {
        // Apple's players open H.265 in MP4 only under the hvc1 tag; x265's own chatter stays
        // out of the tool's error text.
        video.options = {
            "-preset",      X265Preset,
            "-tag:v",       "hvc1",
            "-x265-params", "log-level=error" + (limit.empty() ? "" : ":pools=" + limit)};
        video.fastStart = true;
    } else if (requested == "libsvtav1") {
        video.options = {"-preset", SvtAv1Preset};
        // Slow-motion phone videos and cover pictures (whose rate is their time base) have
        // more.
        video.mostFrames = SvtAv1MostFrames;
        if (!limit.empty())
            video.options.insert(video.options.end(), {"-svtav1-params", "lp=" + limit});
    } else {
        if (requested == "libx264") {
            video.options = {"-preset", X264Preset};
            video.fastStart = true;
        }
        if (!limit.empty())
            video.options.insert(video.options.end(), {"-threads", limit});
    }
    return video;
}

int mostQuality(const std::string &requested)
{
    if (requested == "libx264" || requested == "libx265")
        return 51;
    if (requested == "libsvtav1")
        return 63;
    return -1;
}

std::vector<std::string> qualityOptions(const Video &video, int level)
{
    // A graphics chip has no CRF of its own; a constant quantiser of the same number comes
    // closest.
    if (video.hardware())
        return {"-rc_mode", "CQP", "-qp", number(level)};
    return {"-crf", number(level)};
}

bool hasHardwareFor(const std::string &requested)
{
    return requested == "libx264" || requested == "libx265";
}

std::optional<Video> hardware(const std::string &requested, std::string &why)
{
    const std::string encoder = requested == "libx265" ? "hevc_vaapi" : "h264_vaapi";
    const std::string device = renderNode();
    struct stat status = {};
    if (device.empty() || stat(device.c_str(), &status) != 0) {
        why = "no VAAPI render device" + (device.empty() ? std::string() : " at " + device);
        return std::nullopt;
    }
    // One test per run: the answer holds for every file of the batch.
    if (!ProbeMemo::answer(device + ' ' + encoder,
                           [&] { return encodesAFrame(device, encoder); })) {
        why = encoder + " does not work on " + device;
        return std::nullopt;
    }
    Video video;
    video.encoder = encoder;
    video.codec = codecOf(encoder);
    video.device = device;
    video.globalOptions = {"-vaapi_device", device};
    if (encoder == "hevc_vaapi")
        video.options = {"-tag:v", "hvc1"};
    video.lastFilter = "format=nv12,hwupload";
    video.fastStart = true;
    return video;
}

int sampleRate(const std::string &audioCodec, int asked)
{
    static const std::vector<int> aac = {7350,  8000,  11025, 12000, 16000, 22050, 24000,
                                         32000, 44100, 48000, 64000, 88200, 96000};
    static const std::vector<int> opus = {8000, 12000, 16000, 24000, 48000};
    const std::vector<int> *rates = audioCodec == "aac"       ? &aac
                                    : audioCodec == "libopus" ? &opus
                                                              : nullptr;
    if (!rates || asked <= 0)
        return asked;
    const auto above = std::lower_bound(rates->begin(), rates->end(), asked);
    return above == rates->end() ? rates->back() : *above;
}

double maxBitrate(const std::string &audioCodec, int channels)
{
    // libopus: "Please choose a value between 500 and 256000" for each channel.
    if (audioCodec == "libopus" && channels > 0)
        return 256000.0 * channels;
    return 0;
}

std::string audioName(const std::string &audioCodec)
{
    if (audioCodec == "aac")
        return "AAC";
    if (audioCodec == "libopus")
        return "Opus";
    return audioCodec;
}

} // namespace Encoders
