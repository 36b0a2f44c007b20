#pragma once

#include <functional>
#include <string>

class MemoryFile;
class SourcePlan;

// Writes AMR narrow-band audio, which Debian's ffmpeg cannot encode: ffmpeg decodes the
// input's sound to 8 kHz mono PCM on a pipe, libopencore-amrnb encodes it into a file in
// memory (storage format, "#!AMR\n" header) that ffmpeg can then mux.
class AmrEncoder
{
public:
    // bitrate in bit/s; one of the eight AMR-NB modes (4750 ... 12200), else a ToolFailure.
    explicit AmrEncoder(double bitrate);

    // The sound stream and its filters come from the plan. Reports the input's length
    // (seconds, below 0 for none) before it starts, and the seconds of sound encoded as they
    // are. Returns false when the input has no audio stream to encode.
    bool encode(const std::string &input, SourcePlan &plan, MemoryFile &amr,
                const std::function<void(double)> &duration,
                const std::function<void(double)> &encoded) const;

private:
    int m_mode = 0;
};
