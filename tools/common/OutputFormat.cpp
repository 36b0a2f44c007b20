#include "OutputFormat.h"

#include "FfmpegText.h"
#include "ToolFailure.h"

namespace {

// Debian's ffmpeg 5.1 muxers of real media that write one file, each with the extensions for
// which ffmpeg picks it ("ffmpeg -h muxer=NAME"; where two share one, ffmpeg takes the one it
// registers first: .vob is svcd's, .m4v ipod's, .mpg mpeg's). Some are only taken by name.
struct Muxer
{
    const char *name;
    const char *extensions; // between blanks
};
// clang-format off
constexpr Muxer muxers[] = {
    {"3g2", "3g2"}, {"3gp", "3gp"}, {"ac3", "ac3"}, {"adts", "aac adts"},
    {"aiff", "aif aiff afc aifc"}, {"amr", "amr"}, {"asf", "asf wmv wma"}, {"asf_stream", ""},
    {"au", "au"}, {"avi", "avi"}, {"caf", "caf"}, {"dts", "dts"}, {"dv", "dv"}, {"dvd", "dvd"},
    {"eac3", "eac3"}, {"f4v", "f4v"}, {"flac", "flac"}, {"flv", "flv"}, {"gxf", "gxf"},
    {"h261", "h261"}, {"h263", "h263"}, {"h264", "h264 264"}, {"hevc", "hevc h265 265"},
    {"ipod", "m4v m4a m4b"}, {"ismv", "ismv isma"}, {"ivf", "ivf"}, {"latm", "latm loas"},
    {"m4v", ""}, {"matroska", "mkv mka"}, {"mjpeg", "mjpg mjpeg"}, {"mlp", "mlp"},
    {"mmf", "mmf"}, {"mov", "mov"}, {"mp2", "mp2 m2a mpa"}, {"mp3", "mp3"}, {"mp4", "mp4"},
    {"mpeg", "mpg mpeg"}, {"mpeg1video", "m1v"}, {"mpeg2video", "m2v"},
    {"mpegts", "ts m2t m2ts mts"}, {"mxf", "mxf"}, {"mxf_d10", ""}, {"mxf_opatom", ""},
    {"nut", "nut"}, {"obu", "obu"}, {"oga", "oga"}, {"ogg", "ogg"}, {"ogv", "ogv"},
    {"oma", "oma"}, {"opus", "opus"}, {"psp", "psp"}, {"rm", "rm ra"}, {"spx", "spx"},
    {"svcd", "vob"}, {"swf", "swf"}, {"truehd", "thd"}, {"tta", "tta"}, {"vc1", "vc1"},
    {"vcd", ""}, {"vob", ""}, {"voc", "voc"}, {"w64", "w64"}, {"wav", "wav"},
    {"webm", "webm"}, {"wtv", "wtv"}, {"wv", "wv"}, {"yuv4mpegpipe", "y4m"},
};
// clang-format on

// The muxer named, or, with none named, the one for the extension.
bool isChosen(const Muxer &muxer, const std::string &requested, const std::string &extension)
{
    if (!requested.empty())
        return requested == muxer.name;
    return !extension.empty() &&
           (" " + std::string(muxer.extensions) + " ").find(" " + extension + " ") !=
               std::string::npos;
}

} // namespace

namespace OutputFormat {

std::string muxerFor(const std::string &requested, const std::string &path)
{
    const std::string extension = FfmpegText::extensionOf(path);
    for (const Muxer &muxer : muxers)
        if (isChosen(muxer, requested, extension))
            return muxer.name;
    if (!requested.empty())
        throw toolError(ToolContract::Error::OutputFormatRefused, requested);
    throw toolError(ToolContract::Error::OutputFormatRefused,
                    extension.empty() ? std::string("a name without extension") : "." + extension);
}

} // namespace OutputFormat
