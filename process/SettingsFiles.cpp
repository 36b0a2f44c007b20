#include "process/SettingsFiles.h"

#include "process/NumberText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace SettingsFiles {

namespace {

// A settings file larger than this is damaged; reading it whole would only waste memory.
constexpr qint64 MaxFileSize = 64 * 1024 * 1024;

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

// Past the delimiter that ends a field: a comma, or a line end (CR LF counts once).
qsizetype skipDelimiter(const QByteArray &content, qsizetype i)
{
    while (i < content.size() && content[i] != ',' && !isLineEnd(content[i]))
        ++i;
    if (i >= content.size())
        return i;
    if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n')
        return i + 2;
    return i + 1;
}

QByteArray record(const QByteArray &value, bool quoted)
{
    return quoted ? '"' + value + "\"\r\n" : value + "\r\n";
}

} // namespace

QStringList readFields(const QByteArray &content, int maxFields)
{
    QStringList fields;
    qsizetype i = 0;
    while (fields.size() < maxFields && i < content.size()) {
        while (i < content.size() && (content[i] == ' ' || content[i] == '\t'))
            ++i;
        if (i < content.size() && content[i] == '"') {
            const qsizetype close = content.indexOf('"', i + 1);
            const qsizetype end = close < 0 ? content.size() : close;
            fields.append(QString::fromUtf8(content.mid(i + 1, end - i - 1)));
            i = skipDelimiter(content, close < 0 ? end : close + 1);
        } else {
            qsizetype end = i;
            while (end < content.size() && content[end] != ',' && !isLineEnd(content[end]))
                ++end;
            fields.append(QString::fromUtf8(content.mid(i, end - i)).trimmed());
            i = skipDelimiter(content, end);
        }
    }
    return fields;
}

std::optional<int> recordAsIndex(const QString &field)
{
    bool ok = false;
    const double number = field.trimmed().toDouble(&ok);
    if (!ok)
        return std::nullopt;
    const std::optional<qint16> index = NumberText::toInt16(number);
    if (!index)
        return std::nullopt;
    return *index;
}

QByteArray formatSetup(const SetupValues &values)
{
    return record(QByteArray::number(values.audioBitrateIndex), true) +
           record(QByteArray::number(values.sampleRateIndex), true) +
           record(QByteArray::number(values.channelIndex), true) +
           record(values.outputFolder.toUtf8(), true) +
           record(QByteArray::number(values.formatIndex), true);
}

QByteArray formatOptions(const OptionsValues &values)
{
    return record(QByteArray::number(values.SoundPrompt), false) +
           record(QByteArray::number(values.MusicCutter), false) +
           record(QByteArray::number(values.CutStart), false) +
           record(QByteArray::number(values.CutEnd), false);
}

OptionsValues parseOptions(const QByteArray &content, OptionsValues defaults)
{
    const QStringList fields = readFields(content, 4);
    OptionsValues values = defaults;
    auto number = [&](int i) { return NumberText::leadingNumber(fields.at(i)); };
    if (fields.size() > 0)
        values.SoundPrompt = NumberText::toInt16(number(0)).value_or(values.SoundPrompt);
    if (fields.size() > 1)
        values.MusicCutter = NumberText::toInt16(number(1)).value_or(values.MusicCutter);
    if (fields.size() > 2)
        values.CutStart = NumberText::toInt32(number(2)).value_or(values.CutStart);
    if (fields.size() > 3)
        values.CutEnd = NumberText::toInt32(number(3)).value_or(values.CutEnd);
    return values;
}

std::optional<QByteArray> readFile(const QString &path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.read(MaxFileSize);
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(content);
    return file.commit();
}

} // namespace SettingsFiles
