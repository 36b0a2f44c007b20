#pragma once

#include "app/DesktopServices.h"

#include <QObject>
#include <memory>

class QSoundEffect;
class QSystemTrayIcon;

// The real desktop: xdg-open through QDesktopServices, QSoundEffect for the sound, which
// fails silently where there is no sound device, and the tray or notify-send for notices.
class SystemDesktopServices : public QObject, public DesktopServices
{
    Q_OBJECT
public:
    explicit SystemDesktopServices(QObject *parent = nullptr);
    ~SystemDesktopServices() override;

    void open(const QString &pathOrUrl) override;
    void playSound(const QString &waveFile) override;
    void notify(const QString &title, const QString &text) override;

private:
    std::unique_ptr<QSoundEffect> m_sound;
    std::unique_ptr<QSystemTrayIcon> m_tray;
};
