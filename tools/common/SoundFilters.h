#pragma once

#include "SourceInfo.h"

#include <string>

// The filters every tool puts on the sound, so that each format plays it alike.
//
// One downmix: surround (5.1, 7.1 ...) comes to stereo or mono through the one matrix of
// swresample, normalised so that no output channel sums more than 0.944 (-0.5 dB) of full scale
// (float encoders would otherwise get the unnormalised matrix and clip), and stereo to mono as
// the mean of the two. A centre channel thus comes out at the same level in every format,
// stereo or mono, and a stereo source keeps its level.
//
// Peaks: a lossy encoder's output overshoots its input's peaks by a few tenths of a decibel, so a
// master that reaches full scale would clip; for those encoders a limiter holds the peaks at the
// encoder's ceiling first (1 to 2.5 dB below full scale, its look-ahead compensated so the sync
// stays), and leaves anything below alone.
//
// Sync: a sound that starts after the picture is padded with silence, and one that starts
// before it cut, so that both start together; gaps in the sound's timestamps (a broadcast
// recording that lost packets) are filled, so that it never runs ahead. Where the container
// has no timestamps of its own (AVI, RealMedia), the encoder's start-up delay is cut from the
// front as well, since players of those play it as sound.
namespace SoundFilters {

struct Target
{
    int channels = 0;            // 1 or 2; 0: the source's, at most stereo
    bool alignToPicture = false; // the output has a picture to keep the sound with
    int encoderDelay = 0;        // samples the encoder puts in front, to be cut; 0: none
    int encoderRate = 0;         // the encoder's sample rate (for the delay); 0: the source's
    double ceiling = 0;          // the highest peak a lossy encoder is given; 0: no limit
};

// The encoder's start-up delay in samples, for the encoders whose output goes where nothing
// can mark it (MP3 and MP2 in AVI, AC-3 in RealMedia); 0 for any other.
int encoderDelay(const std::string &encoder);

// The aresample filter for a sound stream (its channels and sample rate as the source
// describes them; unknown ones taken as stereo at 48000 Hz).
std::string chain(const SourceInfo::Sound &sound, const Target &target);

} // namespace SoundFilters
