#pragma once

#include "FilterScripts.h"
#include "SourceInfo.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Which sound stream a run maps and which filters its streams get, as far as the source decides
// them. Until ffmpeg has described the source these are unknown: the first run maps the first
// sound stream and takes its filters through FilterScripts, handed over as soon as the
// description is complete. When the description shows that a player would pick another sound
// stream (the one flagged default), that run is given up: ffmpeg gets no filters and ends, and
// the next run starts with everything known. Every later run (a retry of the tool's own) knows
// the source from the start.
class SourcePlan
{
public:
    struct Filters
    {
        std::string picture;
        std::string sound;
    };
    using Planner = std::function<Filters(const SourceInfo &source)>;
    enum class Sound { None, Optional, Required };

    // url: the input as ffmpeg is given it; picture: whether the run writes a video stream;
    // sound: whether it writes an audio stream, and whether a source without one fails it;
    // known: the source when an earlier run of ffmpeg has described it.
    SourcePlan(std::string url, bool picture, Sound sound, Planner planner,
               const SourceInfo *known = nullptr);

    // ffmpeg's options for the next run: an input for after the source's -i (empty when the
    // source is known), the picture's filters, the sound's -map and filters.
    struct Options
    {
        std::vector<std::string> marker;
        std::vector<std::string> pictureFilters;
        std::vector<std::string> soundMap;
        std::vector<std::string> soundFilters;
    };
    Options next();

    // ffmpeg's error output of the current run so far.
    void read(const std::string &stderrText);

    // After a run failed: whether it was given up to start again with the source known.
    bool givenUp() const { return m_givenUp; }
    // The source, once ffmpeg has described it; null before.
    const SourceInfo *source() const { return m_known ? &m_source : nullptr; }

private:
    std::string m_url;
    bool m_picture;
    Sound m_sound;
    Planner m_planner;
    std::unique_ptr<FilterScripts> m_scripts;
    SourceInfo m_source;
    bool m_known = false;
    bool m_givenUp = false;
};
