#pragma once

#include "coder/CoderRequest.h"
#include "coder/Encoders.h"
#include "common/MediaProbe.h"
#include "common/SourceInfo.h"
#include "common/StreamsKept.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class AmrEncoder;
class InputFile;
class MemoryFile;
class OutputFile;
class PacketTooLarge;
class ToolFailure;

// coder and coder2: take ffmpeg's options as the converter uses them (-i -y -vn -ar -ab -ac -s
// -vcodec -acodec -b -f -r, the output file last), encode with ffmpeg, and print the input's
// length once as "Duration: HH:MM:SS.xx, " and the position as "time=SECONDS.xx ".
// -vcodec libx264 or libx265 asks for H.264 or H.265, which a VAAPI graphics chip encodes
// when it can; without -r the output keeps the input's frame rate.
class Coder
{
public:
    Coder(int argc, char **argv);
    ~Coder();
    void run();

private:
    void showDuration(double seconds);
    void showPosition(double seconds);
    void chooseEncoder();
    void encodeAmr(const AmrEncoder &encoder);
    StreamsKept::Kept kept() const;
    std::string subtitleCodec() const;
    std::vector<std::string> soundArguments() const;
    std::vector<std::string> arguments() const;
    void encode();
    bool shrinkFor(const PacketTooLarge &tooLarge, int attempt);
    bool softwareAfter(const ToolFailure &failure);

    int m_argc;
    char **m_argv;
    CoderRequest m_request;
    std::unique_ptr<InputFile> m_input;
    MediaProbe::Facts m_source;           // what the input holds
    const OutputFile *m_output = nullptr; // the file ffmpeg writes, while run() runs
    int m_threads = 0;
    Encoders::Video m_encoder;
    std::unique_ptr<MemoryFile> m_amr; // coder2's sound, encoded before the picture
    bool m_amrSound = false;
    double m_duration = 0;
    bool m_durationShown = false;
    double m_shown = 0;  // the position last printed
    double m_shrink = 1; // < 1: the picture made smaller for RealMedia's packets
    double m_wantedArea = 0;
    double m_codedArea = 0;
};
