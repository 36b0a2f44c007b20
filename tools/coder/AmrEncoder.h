#pragma once

#include <functional>
#include <string>

class InputFile;
class MemoryFile;
namespace MediaProbe {
struct Facts;
}

// Writes AMR narrow-band audio, which Debian's ffmpeg cannot encode: ffmpeg decodes the
// input's sound to 8 kHz mono PCM on a pipe, libopencore-amrnb encodes it into a file in
// memory (storage format, "#!AMR\n" header) that ffmpeg can then mux.
class AmrEncoder
{
public:
    // bitrate in bit/s; one of the eight AMR-NB modes (4750 ... 12200), else a ToolFailure.
    explicit AmrEncoder(double bitrate);

    // Encodes the sound a player plays of `source` (what the input holds) through `filters`.
    // Reports the input's length (seconds, below 0 for none) before it starts, and the seconds
    // of sound encoded as they are. Returns false when the input has no audio stream to encode.
    bool encode(const InputFile &input, const MediaProbe::Facts &source, const std::string &filters,
                MemoryFile &amr, const std::function<void(double)> &duration,
                const std::function<void(double)> &encoded) const;

private:
    int m_mode = 0;
};
