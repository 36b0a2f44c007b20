#pragma once

#include "app/DesktopServices.h"

#include <QStringList>

// Keeps what the window asked the desktop to open or play, instead of doing it.
class RecordingDesktopServices : public DesktopServices
{
public:
    void open(const QString &pathOrUrl) override { opened.append(pathOrUrl); }
    void playSound(const QString &waveFile) override { sounds.append(waveFile); }

    QStringList opened;
    QStringList sounds;
};
