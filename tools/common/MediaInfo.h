#pragma once

#include <string>

// What the tools need to know of an input file before they encode it, read with ffprobe.
class MediaInfo
{
public:
    // Throws ToolFailure with a readable reason when the file is missing or not media.
    static MediaInfo probe(const std::string &path);

    double duration = 0; // seconds; 0 when unknown
    bool hasVideo = false;
    int width = 0;
    int height = 0;
    int frameRateNum = 0;
    int frameRateDen = 0;
    bool hasAudio = false;
    int sampleRate = 0;
    int channels = 0;
};
