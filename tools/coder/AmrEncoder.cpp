#include "coder/AmrEncoder.h"

#include "common/FfmpegRun.h"
#include "common/FfmpegText.h"
#include "common/InputFile.h"
#include "common/MediaProbe.h"
#include "common/MemoryFile.h"
#include "common/Signals.h"
#include "common/Subprocess.h"
#include "common/ToolStopped.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <opencore-amrnb/interf_enc.h>
#include <vector>

namespace {
constexpr int SampleRate = 8000;
constexpr int SamplesPerFrame = 160; // 20 ms at 8 kHz
constexpr int BytesPerFrame = SamplesPerFrame * 2;
} // namespace

AmrEncoder::AmrEncoder(double bitrate)
{
    static const double rates[] = {4750, 5150, 5900, 6700, 7400, 7950, 10200, 12200};
    for (int mode = 0; mode < 8; ++mode) {
        if (std::fabs(rates[mode] - bitrate) < 1) {
            m_mode = mode;
            return;
        }
    }
    throw toolError(ToolContract::Error::BadParameter,
                    " -ab: AMR-NB takes 4.75k, 5.15k, 5.9k, 6.7k, 7.4k, 7.95k, 10.2k or 12.2k");
}

bool AmrEncoder::encode(const InputFile &input, const MediaProbe::Facts &source,
                        const std::string &filters, MemoryFile &amr,
                        const std::function<void(double)> &duration,
                        const std::function<void(double)> &encoded) const
{
    const int chosen = source.source.chosenSound();
    if (chosen < 0)
        return false;
    std::unique_ptr<void, void (*)(void *)> state(Encoder_Interface_init(0),
                                                  Encoder_Interface_exit);
    if (!state)
        throw toolError(ToolContract::Error::AmrEncoderUnavailable);
    std::string stored = "#!AMR\n";
    bool writeFailed = false;
    const auto write = [&](bool all) {
        if (stored.size() >= (all ? 1u : 65536u)) {
            writeFailed = writeFailed || !amr.write(stored.data(), stored.size());
            stored.clear();
        }
    };

    std::vector<unsigned char> pcm;
    long long samples = 0;
    const auto encodeFrames = [&](bool flush) {
        size_t used = 0;
        while (pcm.size() - used >= size_t(BytesPerFrame) || (flush && used < pcm.size())) {
            short frameSamples[SamplesPerFrame] = {};
            const size_t take = std::min(pcm.size() - used, size_t(BytesPerFrame));
            std::memcpy(frameSamples, pcm.data() + used, take);
            used += take;
            samples += SamplesPerFrame;
            unsigned char frame[64];
            const int size =
                Encoder_Interface_Encode(state.get(), Mode(m_mode), frameSamples, frame, 0);
            if (size > 0)
                stored.append(reinterpret_cast<const char *>(frame), size_t(size));
        }
        pcm.erase(pcm.begin(), pcm.begin() + long(used));
        write(false);
        encoded(double(samples) / SampleRate);
    };

    duration(source.length);
    std::vector<std::string> arguments = {"ffmpeg", "-nostdin", "-hide_banner", "-nostats"};
    for (const auto &part :
         {FfmpegRun::inputArguments(input, source),
          {"-map", "0:" + std::to_string(source.source.sounds[size_t(chosen)].stream), "-vn"},
          filters.empty() ? std::vector<std::string>() : std::vector<std::string>{"-af", filters}})
        arguments.insert(arguments.end(), part.begin(), part.end());
    arguments.insert(arguments.end(), {"-ac", "1", "-ar", std::to_string(SampleRate), "-c:a",
                                       "pcm_s16le", "-f", "s16le", "pipe:1"});
    std::string errors;
    const int code = Subprocess(arguments)
                         .passDescriptor(input.descriptor(), InputFile::ChildDescriptor)
                         .run(
                             [&](const char *data, size_t size) {
                                 pcm.insert(pcm.end(), data, data + size);
                                 encodeFrames(false);
                             },
                             [&](const char *data, size_t size) {
                                 errors.append(data, size);
                                 // Only the end says why it failed.
                                 if (errors.size() > (1u << 20))
                                     errors.erase(0, errors.size() - (1u << 16));
                             });
    if (Signals::received() != 0)
        throw ToolStopped(Signals::received());
    if (const char *shortage = code != 0 ? FfmpegText::resourceShortage(errors) : nullptr)
        throw toolError(shortage, ": " + FfmpegText::failureReason(errors));
    if (code != 0)
        throw toolError(ToolContract::Error::AudioUndecodable, FfmpegText::failureReason(errors));
    encodeFrames(true);
    write(true);
    if (writeFailed)
        throw toolError(ToolContract::Error::AmrWriteFailed, std::strerror(errno));
    return true;
}
