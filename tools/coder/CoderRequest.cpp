#include "coder/CoderRequest.h"

#include "ToolContract.h"
#include "coder/Encoders.h"
#include "common/FfmpegText.h"
#include "common/ToolFailure.h"

#include <algorithm>
#include <cstdio>

namespace {

[[noreturn]] void badParameter(const std::string &option, const std::string &value)
{
    throw toolError(ToolContract::Error::BadParameter, " " + option + " " + value);
}

bool isAudioOnlyExtension(const std::string &extension)
{
    static const std::vector<std::string> audio = {"mp3", "mp2", "wav", "m4a", "aac", "ac3",
                                                   "ogg", "oga", "wma", "amr", "flac"};
    return std::find(audio.begin(), audio.end(), extension) != audio.end();
}

std::string kbits(double bitrate)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g kbit/s", bitrate / 1000);
    return text;
}

} // namespace

CoderRequest CoderRequest::checked(const CoderOptions::Options &options)
{
    const auto value = [&](const std::string &key) {
        const auto found = options.values.find(key);
        return found == options.values.end() ? std::string() : found->second;
    };
    CoderRequest request;
    request.input = options.input;
    request.output = options.output;
    request.extension = FfmpegText::extensionOf(options.output);
    if (!value("-ac").empty() && !FfmpegText::parsePositiveInt(value("-ac"), request.channels))
        badParameter("-ac", value("-ac"));
    if (!value("-ar").empty() && !FfmpegText::parsePositiveInt(value("-ar"), request.sampleRate))
        badParameter("-ar", value("-ar"));
    if (!value("-ab").empty() && !FfmpegText::parseBitrate(value("-ab"), request.audioBitrate))
        badParameter("-ab", value("-ab"));
    if (!value("-b").empty() && !FfmpegText::parseBitrate(value("-b"), request.videoBitrate))
        badParameter("-b", value("-b"));
    if (!value("-r").empty() && !FfmpegText::parseFrameRate(value("-r"), request.frameRate))
        badParameter("-r", value("-r"));
    const std::string size = value("-s");
    if (!size.empty()) {
        const size_t x = size.find('x');
        if (x == std::string::npos ||
            !FfmpegText::parsePositiveInt(size.substr(0, x), request.width) ||
            !FfmpegText::parsePositiveInt(size.substr(x + 1), request.height) ||
            request.width > ToolContract::MaxRequestedSide ||
            request.height > ToolContract::MaxRequestedSide)
            badParameter("-s", size);
    }
    request.videoCodec = value("-vcodec");
    request.audioCodec = value("-acodec");
    request.format = value("-f");
    if (!request.videoCodec.empty() && !FfmpegText::isPlainName(request.videoCodec))
        badParameter("-vcodec", request.videoCodec);
    if (!request.audioCodec.empty() && !FfmpegText::isPlainName(request.audioCodec))
        badParameter("-acodec", request.audioCodec);
    if (!request.format.empty() && !FfmpegText::isPlainName(request.format))
        badParameter("-f", request.format);
    if (!value("-crf").empty()) {
        // x264 and x265 count their levels up to 51, SVT-AV1 up to 63; the other encoders have
        // none, and a bitrate beside a level would leave one of them unheeded.
        const int most = Encoders::mostQuality(request.videoCodec);
        if (most < 0 || request.videoBitrate > 0 ||
            !FfmpegText::parseWholeNumber(value("-crf"), most, request.quality))
            badParameter("-crf", value("-crf"));
    }
    request.amr = request.audioCodec == "amr_nb" || request.audioCodec == "libopencore_amrnb";
    if (request.amr && ((request.channels != 0 && request.channels != 1) ||
                        (request.sampleRate != 0 && request.sampleRate != 8000)))
        throw toolError(ToolContract::Error::BadParameter,
                        ": AMR-NB audio is mono at 8000 Hz, use -ac 1 -ar 8000");
    request.video =
        !options.noVideo && !isAudioOnlyExtension(request.extension) && request.format != "mp3";
    return request;
}

std::string CoderRequest::audioEncoder() const
{
    if (amr)
        return {};
    return !audioCodec.empty() ? audioCodec : Encoders::containerAudio(format, extension);
}

std::vector<std::string> CoderRequest::fitAudio()
{
    // Without -acodec, the encoder ffmpeg picks for the container: AC-3 for RealMedia.
    const std::string encoder = !audioCodec.empty() ? audioCodec
                                : amr               ? std::string()
                                                    : Encoders::containerAudio(format, extension);
    const int codecRate = Encoders::sampleRate(encoder, sampleRate);
    const double codecMaxBitrate = Encoders::maxBitrate(encoder, channels);
    std::vector<std::string> notes;
    if (codecRate != sampleRate) {
        notes.push_back(Encoders::audioName(encoder) + ToolContract::SampleRateNote +
                        std::to_string(sampleRate) + " Hz, it is written at " +
                        std::to_string(codecRate) + " Hz");
        sampleRate = codecRate;
    }
    if (codecMaxBitrate > 0 && audioBitrate > codecMaxBitrate) {
        notes.push_back(Encoders::audioName(encoder) + ToolContract::BitrateNote +
                        kbits(audioBitrate) + " for " + std::to_string(channels) +
                        (channels == 1 ? " channel" : " channels") + ", it is written at " +
                        kbits(codecMaxBitrate));
        audioBitrate = codecMaxBitrate;
    }
    return notes;
}
