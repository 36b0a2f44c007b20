#pragma once

#include "app/DesktopServices.h"

#include <QObject>
#include <memory>

class QSoundEffect;

// The real desktop: xdg-open through QDesktopServices, and QSoundEffect for the sound, which
// fails silently where there is no sound device.
class SystemDesktopServices : public QObject, public DesktopServices
{
    Q_OBJECT
public:
    explicit SystemDesktopServices(QObject *parent = nullptr);
    ~SystemDesktopServices() override;

    void open(const QString &pathOrUrl) override;
    void playSound(const QString &waveFile) override;

private:
    std::unique_ptr<QSoundEffect> m_sound;
};
