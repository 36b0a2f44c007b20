#pragma once

#include <string>

// Writes AMR narrow-band audio, which Debian's ffmpeg cannot encode: ffmpeg decodes the
// input's first audio stream to 8 kHz mono PCM on a pipe, libopencore-amrnb encodes it into
// an .amr file (storage format, "#!AMR\n" header) that ffmpeg can then mux.
class AmrEncoder
{
public:
    // bitrate in bit/s; one of the eight AMR-NB modes (4750 ... 12200), else a ToolFailure.
    explicit AmrEncoder(double bitrate);

    void encode(const std::string &input, const std::string &amrFile) const;

private:
    int m_mode = 0;
};
