#include "SourceInfo.h"

#include <cstdio>

int SourceInfo::chosenSound() const
{
    for (size_t i = 0; i < sounds.size(); ++i)
        if (sounds[i].flaggedDefault)
            return int(i);
    return sounds.empty() ? -1 : 0;
}

int SourceInfo::shownSubtitle() const
{
    for (size_t i = 0; i < subtitles.size(); ++i)
        if (subtitles[i].flaggedDefault)
            return int(i);
    for (size_t i = 0; i < subtitles.size(); ++i)
        if (subtitles[i].forced)
            return int(i);
    return -1;
}

std::string SourceInfo::closing(const std::vector<Leap> &leaps, bool sound)
{
    if (leaps.empty())
        return {};
    // Each frame after a leap moves back by it, and by every leap before.
    std::string shift;
    for (const Leap &leap : leaps) {
        char term[96];
        std::snprintf(term, sizeof term, "%sgte(T,%.6f)*%.6f", shift.empty() ? "" : "+", leap.from,
                      leap.length);
        shift += term;
    }
    return std::string(sound ? "asetpts" : "setpts") + "='PTS-(" + shift + ")/TB'";
}

std::string SourceInfo::streamName(const char *kind, size_t ordinal, const std::string &language)
{
    return kind + ("#" + std::to_string(ordinal)) + (language.empty() ? "" : "(" + language + ")");
}
