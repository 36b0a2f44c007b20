// options.ini as start-up reads it through parseOptions.
#include "FuzzCheck.h"
#include "process/SettingsFiles.h"

#include <QByteArray>
#include <QStringList>
#include <cstdint>

namespace {

using SettingsFiles::OptionsValues;

bool operator==(const OptionsValues &a, const OptionsValues &b)
{
    return a.SoundPrompt == b.SoundPrompt && a.MusicCutter == b.MusicCutter &&
           a.CutStart == b.CutStart && a.CutEnd == b.CutEnd;
}

// A value read from its record cannot depend on the defaults; where the two reads differ, each
// kept its own default.
template <typename Int> void checkValue(Int a, Int b, Int defaultA, Int defaultB, bool present)
{
    if (!present) {
        FUZZ_CHECK(a == defaultA && b == defaultB);
        return;
    }
    if (a != b)
        FUZZ_CHECK(a == defaultA && b == defaultB);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));

    const OptionsValues defaultsA{};
    const OptionsValues defaultsB{1, -1, 5400, -30};
    const OptionsValues a = SettingsFiles::parseOptions(content, defaultsA);
    const OptionsValues b = SettingsFiles::parseOptions(content, defaultsB);
    const qsizetype records = SettingsFiles::readFields(content, 4).size();
    checkValue(a.SoundPrompt, b.SoundPrompt, defaultsA.SoundPrompt, defaultsB.SoundPrompt,
               records > 0);
    checkValue(a.MusicCutter, b.MusicCutter, defaultsA.MusicCutter, defaultsB.MusicCutter,
               records > 1);
    checkValue(a.CutStart, b.CutStart, defaultsA.CutStart, defaultsB.CutStart, records > 2);
    checkValue(a.CutEnd, b.CutEnd, defaultsA.CutEnd, defaultsB.CutEnd, records > 3);

    // What the options dialog writes back reads as the same values.
    FUZZ_CHECK(SettingsFiles::parseOptions(SettingsFiles::formatOptions(a), defaultsB) == a);
    return 0;
}
