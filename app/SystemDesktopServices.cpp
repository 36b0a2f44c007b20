#include "app/SystemDesktopServices.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

SystemDesktopServices::SystemDesktopServices(QObject *parent) : QObject(parent) {}

SystemDesktopServices::~SystemDesktopServices() = default;

void SystemDesktopServices::open(const QString &pathOrUrl)
{
    const QUrl url = pathOrUrl.contains(QStringLiteral("://")) ? QUrl(pathOrUrl)
                                                               : QUrl::fromLocalFile(pathOrUrl);
    QDesktopServices::openUrl(url);
}

void SystemDesktopServices::playSound(const QString &waveFile)
{
    if (!QFileInfo::exists(waveFile)) {
        QApplication::beep();
        return;
    }
    if (!m_sound)
        m_sound = std::make_unique<QSoundEffect>();
    m_sound->setSource(QUrl::fromLocalFile(waveFile));
    m_sound->play();
}
