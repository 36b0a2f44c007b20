#pragma once

#include "coder/CoderOptions.h"

#include <string>
#include <vector>

// What a coder command line asks for, its values read and checked: a bad value is refused
// here, before anything runs.
struct CoderRequest
{
    std::string input;
    std::string output;
    std::string extension; // of the output, in lower case
    int channels = 0;      // 0: not asked for
    int sampleRate = 0;
    int width = 0; // -s, 0: the source's size
    int height = 0;
    double audioBitrate = 0; // bit/s
    double videoBitrate = 0;
    double frameRate = 0;
    int quality = -1; // -crf: the encoder's quality level instead of a bitrate; -1: none
    std::string videoCodec;
    std::string audioCodec;
    std::string format;
    bool amr = false;   // AMR-NB sound, which the tool encodes itself
    bool video = false; // the output has a picture

    // Throws ToolFailure for a value the encoders cannot take.
    static CoderRequest checked(const CoderOptions::Options &options);

    // The sound encoder: the one -acodec names, else the one ffmpeg picks for the container
    // (AC-3 for RealMedia, LAME for MP3); empty for AMR-NB, which the tool encodes itself.
    std::string audioEncoder() const;

    // The lists offer rates and bitrates some codecs do not have: takes the nearest the codec
    // has that loses nothing asked for, and returns a word about each change.
    std::vector<std::string> fitAudio();
};
