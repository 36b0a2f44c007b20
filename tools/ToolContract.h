#pragma once

// What the converter and its encoder tools (conv, coder, coder2) must agree on: how a tool
// names its partial output, the lines it prints and how it ends. Plain C++17 without Qt, so
// that the tools and the Qt core include the same text; a change here is a change on both
// sides of the pipe.

#include <algorithm>
#include <cmath>

namespace ToolContract {

// ---- Output files ---------------------------------------------------------------------------

// A tool writes its output under a hidden name in the output's own folder,
//   TemporaryPrefix + <the tool's process id> + "-" + <the final file name>
// and gives it the final name only when it has succeeded. A run that is killed outright
// leaves that file behind for the converter to remove.
inline constexpr char TemporaryPrefix[] = ".vidmorph-";

// ---- Inputs ---------------------------------------------------------------------------------

// Every ffmpeg or ffprobe run on a user's file gets, before its -i,
//   -protocol_whitelist InputProtocols -format_whitelist InputFormats
// so that a "video" is read as one local media file and nothing else: a playlist or list
// file (HLS, DASH, concat, IMF, SDP), an image sequence pattern, a filter graph or a device
// is refused before it can open any file or address it names.
inline constexpr char InputProtocols[] = "file";
// Demuxers of real containers and elementary streams, none of which opens another file or
// an address: chosen one by one from "ffmpeg -demuxers" of Debian's ffmpeg 5.1. Image formats
// stay out (image2 takes patterns, and a still picture is no video to convert).
inline constexpr char InputFormats[] =
    // containers with video
    "avi,mov,matroska,mpeg,mpegts,asf,flv,rm,ogg,nut,mxf,dv,gxf,wtv,nsv,nuv,ivf,yuv4mpegpipe,"
    "gif,swf,mtv,dhav,ty,"
    // elementary video streams
    "mpegvideo,m4v,h261,h263,h264,hevc,vc1,cavsvideo,obu,av1,"
    // audio
    "wav,w64,aiff,au,caf,flac,mp3,aac,loas,ac3,eac3,dts,dtshd,truehd,mlp,amr,amrnb,amrwb,ape,"
    "tta,wv,mpc,mpc8,tak,oma,xwma,voc,qcp,mmf";

// ---- Exit codes -----------------------------------------------------------------------------

inline constexpr int ExitDone = 0;
inline constexpr int ExitFailed = 1;
// A tool stopped by SIGTERM, SIGINT or SIGHUP exits with ExitSignalBase + that signal.
inline constexpr int ExitSignalBase = 128;

// ---- Lines ----------------------------------------------------------------------------------

// A failed run ends with exactly one line ErrorPrefix + one of the texts below (and what it
// names); the converter tells the user why by the text's fixed beginning.
inline constexpr char ErrorPrefix[] = "Error: ";

// Information a user may want beside the progress, such as a change the tool had to make to
// get the file written. Never a failure, and free of the progress lines' markers.
inline constexpr char NotePrefix[] = "Note: ";

namespace Error {
// Each text as it begins; a path, a name or the system's reason may follow.
inline constexpr char StoppedBySignal[] = "stopped by signal ";      // + the signal number
inline constexpr char InputNotFound[] = "input file not found: ";    // + path
inline constexpr char InputNotAFile[] = "input is not a file: ";     // + path
inline constexpr char InputEmpty[] = "input file is empty: ";        // + path
inline constexpr char InputUnreadable[] = "cannot read input file "; // + path ": " reason
// A playlist, list file, image sequence or any format outside InputFormats.
inline constexpr char NotMediaFile[] = "not a media file: "; // + path
inline constexpr char NoVideoStream[] = "the input has no video stream";
inline constexpr char NoAudioStream[] = "the input has no audio stream";
inline constexpr char AudioUndecodable[] = "cannot decode the audio: "; // + reason
// + " " and the option with its value, or ": " and what the option takes.
inline constexpr char BadParameter[] = "bad parameter";
inline constexpr char UnknownOption[] = "unknown option "; // + option
// OptionNeedsValue + option + OptionNeedsValueEnd
inline constexpr char OptionNeedsValue[] = "option ";
inline constexpr char OptionNeedsValueEnd[] = " needs a value";
inline constexpr char NoInputFile[] = "no input file given";   // [+ ", use -i"]
inline constexpr char NoOutputFile[] = "no output file given"; // [+ ", use -o"]
inline constexpr char MoreThanOneInput[] = "more than one input file given";
inline constexpr char NoAudioEncoder[] = "no audio encoder selected, use -oac";
inline constexpr char NoVideoEncoder[] = "no video encoder selected, use -ovc";
inline constexpr char OutputExists[] = "output file already exists: "; // + path
inline constexpr char OutputIsFolder[] = "output is a folder: ";       // + path
// + folder ": " reason
inline constexpr char OutputFolderUnwritable[] = "cannot write to the output folder ";
// These two + the system's reason.
inline constexpr char TemporaryFileUnavailable[] = "cannot create a temporary file: ";
inline constexpr char PipeUnavailable[] = "cannot create a pipe: ";
inline constexpr char CannotCreate[] = "cannot create "; // + path ": " reason
inline constexpr char NoOutputWritten[] = "the encoder wrote no output";
inline constexpr char AmrEncoderUnavailable[] = "cannot start the AMR-NB encoder";
inline constexpr char AmrWriteFailed[] = "cannot write the AMR audio: "; // + reason
inline constexpr char CannotStart[] = "cannot start ";                   // + program ": " reason
inline constexpr char EncodingFailed[] = "encoding failed: ";            // + reason
} // namespace Error

// conv's progress, MEncoder's form: the position in seconds and the percentage done, each
// line ending in a carriage return. The last line says (100%). Its reader takes any "(" with
// ")" four or five places later for a percentage, so nothing else conv prints may hold
// parentheses.
inline constexpr char ConvProgressFormat[] = "Pos:%6.1fs (%2d%%)\r"; // seconds, percent
inline constexpr int ConvDonePercent = 100;

// coder's and coder2's progress, ffmpeg's form: the input's length once, as soon as it is
// known, then the position reached in seconds, each ending in a carriage return.
inline constexpr char DurationLineFormat[] = "  Duration: %s, \n"; // DurationClockFormat or N/A
inline constexpr char DurationClockFormat[] = "%02lld:%02lld:%02lld.%02lld"; // h, m, s, 1/100 s
inline constexpr char DurationUnknown[] = "N/A";
inline constexpr char TimeLineFormat[] = "time=%.2f \r"; // seconds

// ---- Frame sizes ----------------------------------------------------------------------------

// The largest width or height a tool takes after -s; a larger one is a bad parameter. (The
// encoder may still have to make the picture smaller, see FrameLimits.)
inline constexpr int MaxRequestedSide = 16384;

// What each video encoder of the tools takes, as found with Debian's ffmpeg 5.1: encoding a
// frame of each size at the edges and decoding it back. A picture the encoder cannot take
// is scaled down by the tool, keeping its shape, to the largest size it can take; a picture
// that is not a whole number of the encoder's units gets blank rows and columns added.
struct FrameLimits
{
    const char *codec; // ffmpeg's name of the video codec
    int maxWidth;      // the largest coded width and height, each a multiple of alignment
    int maxHeight;
    int alignment;         // the coded width and height are multiples of this
    int maxMacroblocks;    // the most 16x16 blocks a picture may have, 0 for no limit of its own
    int forbiddenMultiple; // neither side may be a multiple of this, 0 for no such rule
    int minSide = 0;       // the smallest width and height, a multiple of alignment; 0: none
};

inline constexpr FrameLimits FrameLimitsTable[] = {
    // MPEG-2 (MPG, AVI): sizes up to 16383 with the size extension, but the low 12 bits of
    // a side may not all be zero, so 4096 or 8192 is refused ("not allowed to be multiples
    // of 4096"); 4:2:0 needs even sides.
    {"mpeg2video", 16382, 16382, 2, 0, 4096},
    // MPEG-4 Part 2 (MPEG4, the intermediate file, mobile MP4 and 3GP): 13 bits per side,
    // 8192 is "too large for MPEG-4".
    {"mpeg4", 8190, 8190, 2, 0, 0},
    // RealVideo 1 (RMVB, RM): whole macroblocks, at most 4095 of them (1024x1024 fails,
    // 1040x1008 works); the RealMedia header has 16 bits per side.
    {"rv10", 65520, 65520, 16, 4095, 0},
    // H.264 through libx264 (MOV, H264): "invalid width x height" beyond 16384 per side.
    {"h264", 16384, 16384, 2, 0, 0},
    // H.265 through libx265 (H265): "Image size is too small" below 16 per side, and below 32
    // it refuses a picture whose other side is 8192 or more (8192x16 fails, 8192x32 and 30x30
    // work), so the table asks for 32. x265 takes sides beyond 32768; the table stops where
    // H.264 does, at the largest -s there is.
    {"hevc", 16384, 16384, 2, 0, 0, 32},
    // AV1 through SVT-AV1 (AV1): "Source Width must be at least 64", at most 16384 wide and
    // 8704 high.
    {"av1", 16384, 8704, 2, 0, 0, 64},
};

// The limits of a codec, nullptr for one the tools do not know.
inline const FrameLimits *frameLimits(const char *codec)
{
    for (const FrameLimits &limits : FrameLimitsTable) {
        const char *a = limits.codec, *b = codec;
        while (*a && *a == *b)
            ++a, ++b;
        if (*a == *b)
            return &limits;
    }
    return nullptr;
}

struct FrameSize
{
    int width;
    int height;
};

// Whether the encoder takes a picture of this size as it is.
inline bool takesFrame(const FrameLimits &limits, int width, int height)
{
    const int a = limits.alignment;
    const auto forbidden = [&](int side) {
        return limits.forbiddenMultiple > 0 && side % limits.forbiddenMultiple == 0;
    };
    return width > 0 && height > 0 && width >= limits.minSide && height >= limits.minSide &&
           width % a == 0 && height % a == 0 && width <= limits.maxWidth &&
           height <= limits.maxHeight &&
           (limits.maxMacroblocks == 0 ||
            ((width + 15) / 16) * ((height + 15) / 16) <= limits.maxMacroblocks) &&
           !forbidden(width) && !forbidden(height);
}

// The coded size the tools make of a width x height picture (after -s): the picture as it
// is, or scaled down by the largest factor f that keeps it within the limits (for a
// macroblock limit, the largest f with (w f / 16 + 1) (h f / 16 + 1) <= maxMacroblocks, a
// bound within a macroblock row or column of the best), each side then cut to an even
// number; a side that is a forbidden multiple loses one unit; last, blank rows and columns
// up to the alignment, and up to the smallest side. The tools compute the same in ffmpeg's
// expressions, in this order of operations, so both sides come to the same numbers.
inline FrameSize fittedFrame(const FrameLimits &limits, int width, int height)
{
    const double w = width, h = height;
    const double a = limits.alignment;
    const auto align = [a](double side) { return std::ceil(side / a) * a; };
    const bool tooLarge = align(w) > limits.maxWidth || align(h) > limits.maxHeight ||
                          (limits.maxMacroblocks > 0 &&
                           std::ceil(w / 16) * std::ceil(h / 16) > limits.maxMacroblocks);
    double sw = w, sh = h;
    if (tooLarge) {
        double f = std::min(limits.maxWidth / w, limits.maxHeight / h);
        if (limits.maxMacroblocks > 0) {
            const double pa = w * h / 256, pb = (w + h) / 16;
            f = std::min(f, (std::sqrt(pb * pb + 4 * pa * (limits.maxMacroblocks - 1)) - pb) /
                                (2 * pa));
        }
        sw = std::max(2.0, std::trunc(w * f / 2 + 0.000001) * 2);
        sh = std::max(2.0, std::trunc(h * f / 2 + 0.000001) * 2);
    }
    if (limits.forbiddenMultiple > 0) {
        if (std::fmod(align(sw), limits.forbiddenMultiple) == 0)
            sw = align(sw) - a;
        if (std::fmod(align(sh), limits.forbiddenMultiple) == 0)
            sh = align(sh) - a;
    }
    const double least = limits.minSide;
    return {int(std::max(least, align(sw))), int(std::max(least, align(sh)))};
}

// A line NotePrefix + FrameScaledNote + "WxH to WxH: " + why, when the tool had to make the
// picture smaller than asked for: the encoder's limits, or a picture too detailed for the
// 64 kB packets of RealMedia.
inline constexpr char FrameScaledNote[] = "frame size scaled from ";

// A line NotePrefix + ShortOutputNote + "27.0 s of 60.0 s" when the output holds less than
// ShortOutputShare of the length the input says it has and lacks more than ShortOutputSlack
// seconds (a file cut short, say): the output is written all the same, but the converter warns
// about it.
inline constexpr char ShortOutputNote[] = "the output is shorter than the input: ";
inline constexpr double ShortOutputShare = 0.9;
inline constexpr double ShortOutputSlack = 0.5;

// A line NotePrefix + Mp2BitrateNote + "10.2 kbit/s, it is written at 32 kbit/s": MP2 audio
// knows only a few bitrates, and the converter offers others.
inline constexpr char Mp2BitrateNote[] = "MP2 audio has no bitrate of ";

// A line NotePrefix + "Opus" (or "AAC") + SampleRateNote + "44100 Hz, it is written at 48000 Hz":
// the codec has only some sample rates, and the converter offers others. It is written at the
// lowest rate the codec has above the one asked for, else at its highest.
inline constexpr char SampleRateNote[] = " audio has no sample rate of ";

// A line NotePrefix + "Opus" + BitrateNote + "320 kbit/s for 1 channel, it is written at 256
// kbit/s": the most the codec takes.
inline constexpr char BitrateNote[] = " audio has no bitrate of ";

// A line NotePrefix + "AV1" + FrameRateNote + "300 fps, it is written at 240 fps": the most
// the encoder takes.
inline constexpr char FrameRateNote[] = " video has no frame rate of ";

// Which encoder wrote the H.264 or H.265 video of a file, one line each run:
//   NotePrefix + HardwareEncoderNote + "h264_vaapi on /dev/dri/renderD128"
//   NotePrefix + SoftwareEncoderNote + "libx264: " + why not the graphics chip ("no VAAPI
//   render device", "h264_vaapi does not work on /dev/dri/renderD128", or "h264_vaapi failed
//   on this input, " + ffmpeg's reason)
inline constexpr char HardwareEncoderNote[] = "hardware video encoder ";
inline constexpr char SoftwareEncoderNote[] = "software video encoder ";

} // namespace ToolContract
