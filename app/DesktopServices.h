#pragma once

#include <QString>

// What the window asks of the desktop: opening a folder, a document or a web address with
// its associated program, playing a sound, and showing a notification. Tests record the requests
// instead, so no test opens windows of other programs or needs a sound device.
class DesktopServices
{
public:
    // What a failed opening does. Openings the user gets by the way (the output folder at the
    // end of a batch, the help, the web links) fail quietly, only noted on standard error; an
    // opening of our own files that the user asked for says why it failed.
    enum class Failure { Quiet, Told };

    virtual ~DesktopServices() = default;
    // A local folder or file path, or a web address, with its associated program.
    virtual void open(const QString &pathOrUrl, Failure failure) = 0;
    // A wave file; the desktop's default beep when the file is missing. Never blocks.
    virtual void playSound(const QString &waveFile) = 0;
    // A desktop notification, where the desktop offers one, whose action opens `folder`;
    // otherwise nothing happens.
    virtual void notify(const QString &title, const QString &text, const QString &folder) = 0;
};
