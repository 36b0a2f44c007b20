// File names byte for byte: any bytes decode and encode back to themselves, and the readable
// form a person is shown is valid Unicode with the same number of path parts.
#include "FuzzCheck.h"
#include "process/NativePath.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString path = NativePath::decode(bytes);
    FUZZ_CHECK(NativePath::encode(path) == bytes);
    const QString shown = NativePath::readable(path);
    FUZZ_CHECK(!NativePath::hasRawBytes(shown));
    FUZZ_CHECK(shown.count(QLatin1Char('/')) == bytes.count('/'));
    // What is shown names a file the system could hold: it encodes as valid UTF-8.
    FUZZ_CHECK(QString::fromUtf8(NativePath::encode(shown)) == shown);
    return 0;
}
