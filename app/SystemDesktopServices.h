#pragma once

#include "app/DesktopServices.h"

#include <QObject>
#include <memory>

class DesktopNotifications;
class MessageSink;
class QSoundEffect;

// The real desktop: xdg-open (package xdg-utils) for folders, documents and web addresses,
// QSoundEffect for the sound, which fails silently where there is no sound device, and the
// desktop's notification service over D-Bus for notices.
class SystemDesktopServices : public QObject, public DesktopServices
{
    Q_OBJECT
public:
    // Says through `messages` what could not be opened, where the user is to be told.
    explicit SystemDesktopServices(MessageSink *messages, QObject *parent = nullptr);
    ~SystemDesktopServices() override;

    // The program that opens things: a name looked up on PATH, or a path.
    void setOpener(const QString &program) { m_opener = program; }

    void open(const QString &pathOrUrl, Failure failure) override;
    void playSound(const QString &waveFile) override;
    void notify(const QString &title, const QString &text, const QString &folder) override;

    // Why `pathOrUrl` could not be opened, in the words the user is shown.
    static QString openerMissingText(const QString &pathOrUrl);
    static QString nothingOpensText(const QString &pathOrUrl);
    static QString missingText(const QString &pathOrUrl);

signals:
    // The opener has ended for `pathOrUrl`, or could not be started.
    void openEnded(const QString &pathOrUrl, bool opened);

private:
    void failed(const QString &pathOrUrl, const QString &why, Failure failure);

    MessageSink *m_messages;
    QString m_opener = QStringLiteral("xdg-open");
    std::unique_ptr<QSoundEffect> m_sound;
    DesktopNotifications *m_notifications = nullptr;
};
