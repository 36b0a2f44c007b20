// setup.ini as start-up reads it: five records through readFields, each index record through
// recordAsIndex; and what Exit writes must read back as written.
#include "FuzzCheck.h"
#include "process/SettingsFiles.h"

#include <QByteArray>
#include <QStringList>
#include <cstdint>
#include <cstring>

namespace {

// A quoted field ends at its closing quote and an unquoted one at a comma or line end, so no
// field can hold both a double quote and a delimiter.
bool holdsQuoteAndDelimiter(const QString &field)
{
    return field.contains(QLatin1Char('"')) &&
           (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('\r')) ||
            field.contains(QLatin1Char('\n')));
}

void checkIndex(const QString &field)
{
    const std::optional<int> index = SettingsFiles::recordAsIndex(field);
    if (!index)
        return;
    FUZZ_CHECK(*index >= -32768 && *index <= 32767);
    FUZZ_CHECK(SettingsFiles::recordAsIndex(QString::number(*index)) == index);
}

qint16 int16At(const uint8_t *data, size_t size, size_t at)
{
    qint16 value = 0;
    if (at + sizeof value <= size)
        std::memcpy(&value, data + at, sizeof value);
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Not copied: a read past the end of the file's bytes is caught at once.
    const QByteArray content =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));

    const QStringList records = SettingsFiles::readFields(content, 5);
    FUZZ_CHECK(records.size() <= 5);
    FUZZ_CHECK(records.isEmpty() == content.isEmpty());
    for (const QString &record : records) {
        FUZZ_CHECK(!holdsQuoteAndDelimiter(record));
        checkIndex(record);
    }

    // The same bytes as the output folder of a file Exit writes: any folder without a double
    // quote, and any index, must come back unchanged.
    const QString folder = QString::fromUtf8(content);
    if (folder.contains(QLatin1Char('"')))
        return 0;
    const SettingsFiles::SetupValues values{int16At(data, size, 0), int16At(data, size, 2),
                                            int16At(data, size, 4), folder, int16At(data, size, 6)};
    const QStringList back = SettingsFiles::readFields(SettingsFiles::formatSetup(values), 5);
    FUZZ_CHECK(back.size() == 5);
    FUZZ_CHECK(back.at(3) == folder);
    FUZZ_CHECK(SettingsFiles::recordAsIndex(back.at(0)) == values.audioBitrateIndex);
    FUZZ_CHECK(SettingsFiles::recordAsIndex(back.at(1)) == values.sampleRateIndex);
    FUZZ_CHECK(SettingsFiles::recordAsIndex(back.at(2)) == values.channelIndex);
    FUZZ_CHECK(SettingsFiles::recordAsIndex(back.at(4)) == values.formatIndex);
    return 0;
}
