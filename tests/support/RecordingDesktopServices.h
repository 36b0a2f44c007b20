#pragma once

#include "app/DesktopServices.h"

#include <QStringList>

// Keeps what the window asked the desktop to open, play or show, instead of doing it.
class RecordingDesktopServices : public DesktopServices
{
public:
    void open(const QString &pathOrUrl, Failure failure) override
    {
        opened.append(pathOrUrl);
        if (failure == Failure::Told)
            told.append(pathOrUrl);
    }
    void playSound(const QString &waveFile) override { sounds.append(waveFile); }
    void notify(const QString &title, const QString &text, const QString &folder) override
    {
        notifications.append(title + QLatin1Char('\n') + text + QLatin1Char('\n') + folder);
    }

    QStringList opened;
    QStringList told; // those opened whose failure the user would be told
    QStringList sounds;
    QStringList notifications; // "title\ntext\nfolder"
};
