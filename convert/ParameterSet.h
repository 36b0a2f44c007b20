#pragma once

#include <QMetaType>
#include <QString>

// The output format and the parameter texts as the lists show them at the moment a command
// is built. Texts are used unchanged: a value the tool cannot use shows up as a failed file.
struct ParameterSet
{
    int format = -1; // 0..13, see Formats; anything else builds no command
    QString sampleRate;
    QString audioBitrate;
    int channelCount = 0; // selected channel index + 1; 0 when typed text selects no item
    QString frameSize;    // Formats::keepSourceSize() keeps the source size
    QString videoBitrate; // Formats::qualityItem() lets the encoder choose it for a quality
    QString frameRate;
    int quality = -1; // the quality level the quality item asks for; -1: the format's own
};

Q_DECLARE_METATYPE(ParameterSet)
