#include "coder/Encoders.h"

#include "Codecs.h"
#include "ToolContract.h"
#include "common/ProbeMemo.h"
#include "common/Subprocess.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Encoders {

namespace {

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

// The codec an encoder writes; an encoder the table does not know is taken to be named after
// its codec.
std::string codecOf(const std::string &encoder)
{
    const Codecs::Video *row = Codecs::videoEncoder(encoder.c_str());
    return row ? row->codec : encoder;
}

// The row's options, in the order the table gives them.
void takeOptions(const Codecs::Video *row, Video &video)
{
    if (!row)
        return;
    for (const char *option : row->options)
        if (option)
            video.options.push_back(option);
    video.fastStart = row->fastStart;
    video.mostFrames = row->mostFrames;
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
    takeOptions(Codecs::videoEncoder(requested.c_str()), video);
    // Each encoder takes its thread count its own way; ffmpeg's -threads reaches x264 and
    // the older encoders, not x265 or SVT-AV1.
    const std::string limit = threads > 0 ? number(threads) : std::string();
    if (requested == "libx265") {
        // x265's own chatter stays out of the tool's error text.
        video.options.insert(
            video.options.end(),
            {"-x265-params", "log-level=error" + (limit.empty() ? "" : ":pools=" + limit)});
    } else if (requested == "libsvtav1") {
        if (!limit.empty())
            video.options.insert(video.options.end(), {"-svtav1-params", "lp=" + limit});
    } else if (!limit.empty()) {
        video.options.insert(video.options.end(), {"-threads", limit});
    }
    return video;
}

int mostQuality(const std::string &requested)
{
    return Codecs::mostQuality(requested.c_str());
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
    const Codecs::Video *row = Codecs::videoEncoder(requested.c_str());
    return row && row->hardware;
}

std::optional<Video> hardware(const std::string &requested, std::string &why)
{
    const Codecs::Video *software = Codecs::videoEncoder(requested.c_str());
    const std::string encoder =
        software && software->hardware ? software->hardware : std::string("h264_vaapi");
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
    takeOptions(Codecs::videoEncoder(encoder.c_str()), video);
    video.lastFilter = "format=nv12,hwupload";
    return video;
}

int sampleRate(const std::string &audioCodec, int asked)
{
    const Codecs::Audio *row = Codecs::audioEncoder(audioCodec.c_str());
    return row ? Codecs::sampleRate(*row, asked) : asked;
}

double maxBitrate(const std::string &audioCodec, int channels)
{
    const Codecs::Audio *row = Codecs::audioEncoder(audioCodec.c_str());
    return row && channels > 0 ? row->mostBitratePerChannel * channels : 0;
}

std::string audioName(const std::string &audioCodec)
{
    const Codecs::Audio *row = Codecs::audioEncoder(audioCodec.c_str());
    return row ? row->name : audioCodec;
}

std::string containerAudio(const std::string &format, const std::string &extension)
{
    const std::string name = "output." + extension;
    const AVOutputFormat *muxer =
        av_guess_format(format.empty() ? nullptr : format.c_str(), name.c_str(), nullptr);
    const AVCodec *encoder = muxer && muxer->audio_codec != AV_CODEC_ID_NONE
                                 ? avcodec_find_encoder(muxer->audio_codec)
                                 : nullptr;
    return encoder ? encoder->name : std::string();
}

} // namespace Encoders
