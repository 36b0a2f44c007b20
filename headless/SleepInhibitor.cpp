#include "headless/SleepInhibitor.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {

// The portal's flags: suspending the session, and going idle.
constexpr uint PortalSuspend = 4;
constexpr uint PortalIdle = 8;

} // namespace

SleepInhibitor::SleepInhibitor(const QDBusConnection &system, const QDBusConnection &session,
                               QObject *parent)
    : QObject(parent), m_system(system), m_session(session)
{
}

SleepInhibitor::~SleepInhibitor()
{
    m_wanted = false;
    giveBack();
}

void SleepInhibitor::hold(const QString &reason)
{
    m_reason = reason;
    m_wanted = true;
    if (m_via == Via::None && !m_asking)
        askLogind();
}

void SleepInhibitor::release()
{
    m_wanted = false;
    if (!m_asking)
        giveBack();
}

void SleepInhibitor::askLogind()
{
    m_asking = true;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("Vidmorph") << m_reason
         << QStringLiteral("block");
    auto *watcher = new QDBusPendingCallWatcher(m_system.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        if (reply.isValid() && reply.value().isValid()) {
            m_lock = reply.value();
            held(Via::Logind);
        } else {
            askPortal();
        }
    });
}

void SleepInhibitor::askPortal()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
    call << QString() << (PortalSuspend | PortalIdle)
         << QVariantMap{{QStringLiteral("reason"), m_reason}};
    auto *watcher = new QDBusPendingCallWatcher(m_session.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isValid()) {
            m_request = reply.value().path();
            held(Via::Portal);
        } else {
            askScreenSaver();
        }
    });
}

void SleepInhibitor::askScreenSaver()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.ScreenSaver"),
        QStringLiteral("/org/freedesktop/ScreenSaver"),
        QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("Inhibit"));
    call << QStringLiteral("Vidmorph") << m_reason;
    auto *watcher = new QDBusPendingCallWatcher(m_session.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isValid())
            m_cookie = reply.value();
        held(reply.isValid() ? Via::ScreenSaver : Via::None);
    });
}

void SleepInhibitor::held(Via via)
{
    m_asking = false;
    m_via = via;
    emit changed(via);
    // Given up while the answer was on its way.
    if (!m_wanted)
        giveBack();
}

void SleepInhibitor::giveBack()
{
    const Via via = m_via;
    m_via = Via::None;
    switch (via) {
    case Via::None:
        return;
    case Via::Logind:
        // Closing the descriptor ends the lock.
        m_lock = QDBusUnixFileDescriptor();
        break;
    case Via::Portal:
        m_session.asyncCall(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), m_request,
            QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close")));
        break;
    case Via::ScreenSaver:
        m_session.asyncCall(
            QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
                                           QStringLiteral("/org/freedesktop/ScreenSaver"),
                                           QStringLiteral("org.freedesktop.ScreenSaver"),
                                           QStringLiteral("UnInhibit"))
            << m_cookie);
        break;
    }
    emit changed(Via::None);
}
