#pragma once

#include <QString>

// What the window asks of the desktop: opening a folder, a document or a web address with
// its associated program, playing a sound, and showing a notification. Tests record the requests
// instead, so no test opens windows of other programs or needs a sound device.
class DesktopServices
{
public:
    virtual ~DesktopServices() = default;
    // A local folder or file path, or a web address. When nothing can open it, the user is told
    // where it is, to open it by hand.
    virtual void open(const QString &pathOrUrl) = 0;
    // A wave file; the desktop's default beep when the file is missing. Never blocks.
    virtual void playSound(const QString &waveFile) = 0;
    // A desktop notification, where the desktop offers one, whose action opens `folder`;
    // otherwise nothing happens.
    virtual void notify(const QString &title, const QString &text, const QString &folder) = 0;
};
