#include "SoundFilters.h"

#include "Codecs.h"

#include <cmath>
#include <cstdio>

namespace SoundFilters {

namespace {
// -0.5 dB: room for the peaks lossy encoders add to a downmix that reaches full scale.
constexpr char SurroundMaximum[] = "0.944";
// Timestamps further apart from the samples than this are corrected at once, by silence or by
// cutting; within it the sound is stretched (one sample a second at most).
constexpr char HardCorrection[] = "0.02";
constexpr int UnknownRate = 48000;
} // namespace

int encoderDelay(const std::string &encoder)
{
    const Codecs::Audio *row = Codecs::audioEncoder(encoder.c_str());
    return row ? row->delay : 0;
}

std::string chain(const SourceInfo::Sound &sound, const Target &target)
{
    const int source = sound.channels > 0 ? sound.channels : 2;
    const int channels = target.channels > 0 ? target.channels : (source >= 2 ? 2 : 1);
    std::string filter = SourceInfo::closing(sound.leaps, true);
    if (!filter.empty())
        filter += ",";
    filter += std::string("aresample=ochl=") + (channels == 1 ? "mono" : "stereo") +
              ":rematrix_maxval=" + (source > 2 ? SurroundMaximum : "1");
    if (target.alignToPicture) {
        // The first sample that goes out is the one at the picture's start, or, past the
        // encoder's delay, the one that will play there.
        const int rate = sound.sampleRate > 0 ? sound.sampleRate : UnknownRate;
        const int encoderRate = target.encoderRate > 0 ? target.encoderRate : rate;
        const long first = std::lround(double(target.encoderDelay) * rate / encoderRate);
        filter += std::string(":async=1:min_hard_comp=") + HardCorrection +
                  ":first_pts=" + std::to_string(first);
    }
    if (target.ceiling > 0) {
        char limit[96];
        std::snprintf(limit, sizeof limit, ",alimiter=limit=%.3f:level=false:latency=true",
                      target.ceiling);
        filter += limit;
    }
    return filter;
}

} // namespace SoundFilters
