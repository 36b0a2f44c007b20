#pragma once

// What the converter and its encoder tools (conv, coder, coder2) must agree on: how a tool
// names its partial output, the lines it prints and how it ends. Plain C++17 without Qt, so
// that the tools and the Qt core include the same text; a change here is a change on both
// sides of the pipe.

#include <string>
#include <string_view>

namespace ToolContract {

// ---- Output files ---------------------------------------------------------------------------

// A tool writes its output into a file it creates itself, exclusively and without following
// links, in the output's own folder, under a hidden name nobody can tell in advance:
//   temporaryPrefix(<the tool's process id>) + <random letters> + "-" + <the final file name>
// (cut at its front to the 255 bytes a name may have). Only when it has succeeded does it
// rename that file onto the final name, which replaces whatever entry stands there, a file or a
// link, without ever writing through it. A run that is killed outright leaves the hidden file
// behind for the converter to remove, found by the process id in its name.
inline constexpr char TemporaryPrefix[] = ".vidmorph-";

inline std::string temporaryPrefix(long long pid)
{
    return TemporaryPrefix + std::to_string(pid) + '-';
}

// Whether a file name is one of the tools' hidden temporaries, of any run.
inline bool isTemporaryName(std::string_view name)
{
    return name.substr(0, sizeof TemporaryPrefix - 1) == TemporaryPrefix;
}

// The folder in which the converter reserved the output's name, as identity(): a tool that
// finds another folder under the output's path (a link swapped in by someone who can write a
// folder above it) writes nothing there, and while it is set, the tool replaces only the very
// empty file of the user's that reserved the name. Unset when the tool runs on its own.
inline constexpr char OutputFolderIdentityVariable[] = "VIDMORPH_OUTPUT_FOLDER_IDENTITY";

// A file's or folder's identity on this machine: "<st_dev>:<st_ino>", both in decimal, as the
// converter tells it to a tool.
inline std::string identity(unsigned long long device, unsigned long long inode)
{
    return std::to_string(device) + ':' + std::to_string(inode);
}

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

// ---- Environment ----------------------------------------------------------------------------

// The file in which the tools of one run keep what they found out about the machine (whether a
// hardware encoder works), so that only the first tool of a run tests it. The converter sets it
// for each batch to a file in the batch's own scratch folder, and removes the file when the
// batch begins and ends.
inline constexpr char HardwareProbeFileVariable[] = "VIDMORPH_HARDWARE_PROBE_FILE";
// How many files the converter converts at once, when more than one: an encoder that loses by
// running beside another with every core's threads gets its share of the cores instead.
inline constexpr char FilesAtOnceVariable[] = "VIDMORPH_FILES_AT_ONCE";

// The input file as the converter checked it, "<st_dev>:<st_ino>" in decimal: a tool whose
// input turns out to be another file (a name swapped for a link meanwhile) refuses it.
inline constexpr char InputIdentityVariable[] = "VIDMORPH_INPUT_IDENTITY";

// An output takes its input's dates (access and modification time, as `cp -p` keeps them), so
// a folder of phone videos sorts as it did; "conversion" here keeps the time of the conversion
// instead.
inline constexpr char OutputDateVariable[] = "VIDMORPH_OUTPUT_DATE";
inline constexpr char ConversionDate[] = "conversion";

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
inline constexpr char InputReplaced[] = "the input was replaced: ";  // + path
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
inline constexpr char OutputIsFolder[] = "output is a folder: "; // + path
// A device, a pipe or a socket: nothing a tool may put a file in the place of.
inline constexpr char OutputNotAFile[] = "output is not a file: "; // + path
// A muxer that writes more than one file (a playlist with its segments, an image sequence,
// several outputs), a device or a network stream; + its name, or the output's extension.
inline constexpr char OutputFormatRefused[] = "cannot write this format: ";
// + folder ": " reason
inline constexpr char OutputFolderUnwritable[] = "cannot write to the output folder ";
// The folder found at the output's path is not the one its name was reserved in; + folder.
inline constexpr char OutputFolderReplaced[] = "the output folder was replaced: ";
// These two + the system's reason.
inline constexpr char TemporaryFileUnavailable[] = "cannot create a temporary file: ";
inline constexpr char PipeUnavailable[] = "cannot create a pipe: ";
inline constexpr char CannotCreate[] = "cannot create "; // + path ": " reason
inline constexpr char NoOutputWritten[] = "the encoder wrote no output";
inline constexpr char AmrEncoderUnavailable[] = "cannot start the AMR-NB encoder";
inline constexpr char AmrWriteFailed[] = "cannot write the AMR audio: "; // + reason
inline constexpr char CannotStart[] = "cannot start ";                   // + program ": " reason
inline constexpr char EncodingFailed[] = "encoding failed: ";            // + reason
// What the encoder wrote is checked before it takes the final name.
inline constexpr char OutputUnplayable[] = "the output cannot be played: "; // + reason
inline constexpr char OutputNoStream[] = "the output has no audio or video stream";
inline constexpr char OutputNoVideo[] = "the output has no video stream";
inline constexpr char OutputEmpty[] = "the output holds nothing to play";
// + "7200.0 s of 1.0 s": the encoder ran past the input's length by more than
// LongOutputShare and LongOutputSlack, and was stopped there.
inline constexpr char OutputTooLong[] = "the output runs far past the input's length: ";
// The system ran short of something; [+ ": " what could not be had].
inline constexpr char OutOfMemory[] = "out of memory";
inline constexpr char OutOfProcesses[] = "too many processes";
inline constexpr char OutOfDescriptors[] = "too many open files";

// Every text above, for the converter's table of reasons and its test.
inline constexpr const char *All[] = {StoppedBySignal,
                                      InputNotFound,
                                      InputNotAFile,
                                      InputEmpty,
                                      InputUnreadable,
                                      InputReplaced,
                                      NotMediaFile,
                                      NoVideoStream,
                                      NoAudioStream,
                                      AudioUndecodable,
                                      BadParameter,
                                      UnknownOption,
                                      OptionNeedsValue,
                                      NoInputFile,
                                      NoOutputFile,
                                      MoreThanOneInput,
                                      NoAudioEncoder,
                                      NoVideoEncoder,
                                      OutputIsFolder,
                                      OutputNotAFile,
                                      OutputFormatRefused,
                                      OutputFolderUnwritable,
                                      OutputFolderReplaced,
                                      TemporaryFileUnavailable,
                                      PipeUnavailable,
                                      CannotCreate,
                                      NoOutputWritten,
                                      AmrEncoderUnavailable,
                                      AmrWriteFailed,
                                      CannotStart,
                                      EncodingFailed,
                                      OutputUnplayable,
                                      OutputNoStream,
                                      OutputNoVideo,
                                      OutputEmpty,
                                      OutputTooLong,
                                      OutOfMemory,
                                      OutOfProcesses,
                                      OutOfDescriptors};
} // namespace Error

// conv's progress, MEncoder's form: the position in seconds and the percentage done, each
// line ending in a carriage return. The last line says (100%). Its reader takes any "(" with
// ")" four or five places later for a percentage, so nothing else conv prints may hold
// parentheses.
inline constexpr char ConvProgressFormat[] = "Pos:%6.1fs (%2d%%)\r"; // seconds, percent
inline constexpr int ConvDonePercent = 100;

// coder's and coder2's progress, ffmpeg's form: the input's length once, as soon as it is
// known, then the position reached in seconds, each ending in a carriage return. conv prints the
// length too, so that the converter learns every file's length without a probe of its own. The
// converter finds them by their keys.
inline constexpr char DurationKey[] = "Duration: ";
inline constexpr char TimeKey[] = "time=";
inline constexpr char DurationLineFormat[] = "  Duration: %s, \n"; // DurationClockFormat or N/A
inline constexpr char DurationClockFormat[] = "%02lld:%02lld:%02lld.%02lld"; // h, m, s, 1/100 s
inline constexpr char DurationUnknown[] = "N/A";
inline constexpr char TimeLineFormat[] = "time=%.2f \r"; // seconds

// Whether `text` holds `part`, for checking at compile time that the lines carry their keys.
constexpr bool holds(const char *text, const char *part)
{
    for (; *text; ++text) {
        const char *a = text, *b = part;
        while (*b && *a == *b)
            ++a, ++b;
        if (!*b)
            return true;
    }
    return false;
}
static_assert(holds(DurationLineFormat, DurationKey), "the length line carries its key");
static_assert(holds(TimeLineFormat, TimeKey), "the position line carries its key");

// ---- Frame sizes ----------------------------------------------------------------------------

// The largest width or height a tool takes after -s; a larger one is a bad parameter. (The
// encoder may still have to make the picture smaller: tools/common/FrameLimits.h.)
inline constexpr int MaxRequestedSide = 16384;

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

// A line NotePrefix + LeapNote + "video " (or "audio ") + "3600.0 s at 12.0 s" for each stretch
// where the input's timestamps leap forward with nothing between (a broadcast switching
// programmes, a recorder's clock jumping): it is closed up, and the output keeps the length of
// what the input holds. The converter warns about it.
inline constexpr char LeapNote[] = "the input's timestamps leap, closed up: ";

// A line NotePrefix + DroppedNote + "audio#2(eng)" (or "subtitle#1(chi)", "video#2") for each
// stream of the input the output cannot carry: the file converts, and the user is told.
inline constexpr char DroppedNote[] = "not kept: ";

// An output longer than LongOutputShare of the input's length plus LongOutputSlack seconds has
// gone wrong (a timestamp that jumps by hours turns into hours of one frozen picture): the
// encoder is stopped as soon as it gets there, and the run fails. A length ffmpeg only
// estimated is not held against the output.
inline constexpr double LongOutputShare = 1.1;
inline constexpr double LongOutputSlack = 1.0;

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
