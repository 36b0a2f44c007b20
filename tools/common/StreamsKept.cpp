#include "StreamsKept.h"

#include "Notes.h"
#include "ToolContract.h"

namespace StreamsKept {

void noteDropped(const SourceInfo &source, const Kept &kept)
{
    const auto note = [](const char *kind, size_t ordinal, const std::string &language) {
        Notes::print(ToolContract::DroppedNote + SourceInfo::streamName(kind, ordinal, language));
    };
    if (kept.picture)
        for (int other = 2; other <= source.pictures; ++other)
            note("video", size_t(other), {});
    const int chosen = source.chosenSound();
    for (size_t i = 0; i < source.sounds.size(); ++i)
        if (!kept.everySound && int(i) != chosen)
            note("audio", i + 1, source.sounds[i].language);
    const int shown = kept.shownSubtitle ? source.shownSubtitle() : -1;
    for (size_t i = 0; i < source.subtitles.size(); ++i)
        if ((!kept.textSubtitles || !source.subtitles[i].text) && int(i) != shown)
            note("subtitle", i + 1, source.subtitles[i].language);
}

} // namespace StreamsKept
