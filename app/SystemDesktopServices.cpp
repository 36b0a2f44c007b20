#include "app/SystemDesktopServices.h"

#include "app/DesktopNotifications.h"
#include "process/MessageSink.h"

#include <QApplication>
#include <QDBusConnection>
#include <QFileInfo>
#include <QProcess>
#include <QSoundEffect>
#include <QStandardPaths>
#include <QUrl>

#include <cstdio>

namespace {

bool isWebAddress(const QString &pathOrUrl)
{
    return pathOrUrl.contains(QStringLiteral("://"));
}

} // namespace

SystemDesktopServices::SystemDesktopServices(MessageSink *messages, QObject *parent)
    : QObject(parent), m_messages(messages)
{
}

SystemDesktopServices::~SystemDesktopServices()
{
    // An opener still waiting on what it started is left to end by itself.
    for (QProcess *opener : findChildren<QProcess *>()) {
        opener->disconnect(this);
        opener->kill();
        opener->waitForFinished(1000);
    }
}

QString SystemDesktopServices::openerMissingText(const QString &pathOrUrl)
{
    return QStringLiteral("无法打开“%1”：找不到 xdg-open（软件包 xdg-utils）。请手动打开它。")
        .arg(pathOrUrl);
}

QString SystemDesktopServices::nothingOpensText(const QString &pathOrUrl)
{
    return QStringLiteral("无法打开“%1”：系统没有能打开它的程序。请手动打开它。").arg(pathOrUrl);
}

QString SystemDesktopServices::missingText(const QString &pathOrUrl)
{
    return QStringLiteral("无法打开“%1”：文件不存在。").arg(pathOrUrl);
}

void SystemDesktopServices::failed(const QString &pathOrUrl, const QString &why, Failure failure)
{
    if (failure == Failure::Told && m_messages)
        m_messages->showMessage(MessageSink::Icon::Exclamation, QStringLiteral("打开"), why);
    else
        std::fputs(("vidmorph: " + why + '\n').toUtf8().constData(), stderr);
    emit openEnded(pathOrUrl, false);
}

void SystemDesktopServices::open(const QString &pathOrUrl, Failure failure)
{
    // A file that is not there is no fault of the opener's.
    if (!isWebAddress(pathOrUrl) && !QFileInfo::exists(pathOrUrl)) {
        failed(pathOrUrl, missingText(pathOrUrl), failure);
        return;
    }
    const QString program =
        QFileInfo(m_opener).isAbsolute() ? m_opener : QStandardPaths::findExecutable(m_opener);
    if (program.isEmpty() || !QFileInfo(program).isExecutable()) {
        failed(pathOrUrl, openerMissingText(pathOrUrl), failure);
        return;
    }
    // An absolute path can never be read as one of the opener's options.
    const QString target =
        isWebAddress(pathOrUrl) ? pathOrUrl : QFileInfo(pathOrUrl).absoluteFilePath();
    auto *opener = new QProcess(this);
    opener->setStandardInputFile(QProcess::nullDevice());
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->setStandardErrorFile(QProcess::nullDevice());
    // xdg-open says by its exit status whether anything took the request.
    connect(opener, &QProcess::finished, this,
            [this, opener, pathOrUrl, failure](int exitCode, QProcess::ExitStatus status) {
                opener->deleteLater();
                if (status != QProcess::NormalExit || exitCode != 0)
                    failed(pathOrUrl, nothingOpensText(pathOrUrl), failure);
                else
                    emit openEnded(pathOrUrl, true);
            });
    connect(opener, &QProcess::errorOccurred, this,
            [this, opener, pathOrUrl, failure](QProcess::ProcessError error) {
                if (error != QProcess::FailedToStart)
                    return;
                opener->deleteLater();
                failed(pathOrUrl, openerMissingText(pathOrUrl), failure);
            });
    opener->start(program, {target});
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

void SystemDesktopServices::notify(const QString &title, const QString &text, const QString &folder)
{
    if (!m_notifications)
        m_notifications = new DesktopNotifications(
            QDBusConnection::sessionBus(),
            [this](const QString &path) { open(path, Failure::Quiet); }, this);
    m_notifications->show(title, text, folder);
}
