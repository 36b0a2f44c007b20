#include "app/SystemDesktopServices.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QSoundEffect>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

namespace {

// How long the tray icon stays after its message; it is there only to carry the message.
constexpr int TrayMessageMs = 10000;

} // namespace

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

void SystemDesktopServices::notify(const QString &title, const QString &text)
{
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        if (!m_tray) {
            m_tray =
                std::make_unique<QSystemTrayIcon>(QIcon(QStringLiteral(":/icons/vidmorph.svg")));
            m_tray->setToolTip(QStringLiteral("Vidmorph"));
        }
        m_tray->show();
        m_tray->showMessage(title, text, QSystemTrayIcon::Information, TrayMessageMs);
        QTimer::singleShot(TrayMessageMs, m_tray.get(), &QSystemTrayIcon::hide);
        return;
    }
    // Without a tray, the desktop's notification daemon, when its client is installed.
    const QString notifySend = QStandardPaths::findExecutable(QStringLiteral("notify-send"));
    if (!notifySend.isEmpty())
        QProcess::startDetached(notifySend, {QStringLiteral("--app-name=Vidmorph"), title, text});
}
