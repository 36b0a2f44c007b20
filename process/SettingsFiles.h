#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// The two settings files, byte for byte: one record per line, lines ended by CR LF.
// setup.ini quotes every record; options.ini holds plain integers.
namespace SettingsFiles {

// The main window's choices kept by the Exit command.
struct SetupValues
{
    int audioBitrateIndex = -1; // cmbBR
    int sampleRateIndex = -1;   // cmbR
    int channelIndex = -1;      // cmbChannel
    QString outputFolder;       // txtPath, unchanged
    int formatIndex = -1;       // cmbOF
};

// The four options values; only SoundPrompt changes what the program does.
struct OptionsValues
{
    qint16 SoundPrompt = 0; // 0 plays the completion sound
    qint16 MusicCutter = 0;
    qint32 CutStart = 0;
    qint32 CutEnd = 0;
};

// Reads up to maxFields fields: leading blanks are skipped; a field that begins with a double
// quote runs to the next double quote, so a comma inside it belongs to the field; any other
// field runs to the next comma or the end of the line. Fewer fields come back when the text
// ends early.
QStringList readFields(const QByteArray &content, int maxFields);

// A setup.ini record as a list index: the whole field must be a number; nothing otherwise.
std::optional<int> recordAsIndex(const QString &field);

QByteArray formatSetup(const SetupValues &values);
QByteArray formatOptions(const OptionsValues &values);

// Each value read from its record by its leading number; a missing or unusable record keeps
// the value of `defaults`.
OptionsValues parseOptions(const QByteArray &content, OptionsValues defaults = {});

// Reads a whole settings file; nothing when it does not exist or cannot be read.
std::optional<QByteArray> readFile(const QString &path);

// Replaces the file's whole content, creating its folder when needed. The old content stays
// whole if the new one cannot be written.
bool writeFile(const QString &path, const QByteArray &content);

} // namespace SettingsFiles
