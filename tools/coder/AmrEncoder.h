#pragma once

#include <functional>
#include <string>

class MemoryFile;

// Writes AMR narrow-band audio, which Debian's ffmpeg cannot encode: ffmpeg decodes the
// input's first audio stream to 8 kHz mono PCM on a pipe, libopencore-amrnb encodes it into
// a file in memory (storage format, "#!AMR\n" header) that ffmpeg can then mux.
class AmrEncoder
{
public:
    // bitrate in bit/s; one of the eight AMR-NB modes (4750 ... 12200), else a ToolFailure.
    explicit AmrEncoder(double bitrate);

    // Reports the input's length (seconds, below 0 for none) before it starts. Returns
    // false when the input has no audio stream to encode.
    bool encode(const std::string &input, MemoryFile &amr,
                const std::function<void(double)> &duration) const;

private:
    int m_mode = 0;
};
