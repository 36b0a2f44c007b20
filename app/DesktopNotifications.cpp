#include "app/DesktopNotifications.h"

#include "app/NotificationsInterface.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {

// The server picks how long a notice stays.
constexpr int ServerTimeout = -1;

} // namespace

DesktopNotifications::DesktopNotifications(const QDBusConnection &bus,
                                           std::function<void(const QString &)> openFolder,
                                           QObject *parent)
    : QObject(parent), m_service(new NotificationsInterface(bus, this)),
      m_openFolder(std::move(openFolder))
{
    connect(m_service, &NotificationsInterface::ActionInvoked, this,
            &DesktopNotifications::actionInvoked);
    connect(m_service, &NotificationsInterface::NotificationClosed, this,
            [this](uint id, uint) { m_folders.remove(id); });
}

DesktopNotifications::~DesktopNotifications() = default;

void DesktopNotifications::show(const QString &title, const QString &text, const QString &folder)
{
    const QString entry = QLatin1String(DesktopEntry);
    const QStringList actions{QLatin1String(DefaultAction), QStringLiteral("打开输出文件夹")};
    const QVariantMap hints{{QStringLiteral("desktop-entry"), entry},
                            {QStringLiteral("category"), QStringLiteral("transfer.complete")}};
    // Never waited for: a desktop without the service must not hold the window up.
    const QDBusPendingCall call =
        m_service->asyncCall(QStringLiteral("Notify"), QStringLiteral("Vidmorph"), uint(0), entry,
                             title, text, actions, hints, ServerTimeout);
    auto *watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, folder](QDBusPendingCallWatcher *finished) {
                const QDBusPendingReply<uint> reply = *finished;
                finished->deleteLater();
                const uint id = reply.isValid() ? reply.value() : 0;
                if (id != 0)
                    m_folders.insert(id, folder);
                emit shown(id);
            });
}

void DesktopNotifications::actionInvoked(uint id, const QString &actionKey)
{
    const auto found = m_folders.constFind(id);
    if (found == m_folders.constEnd() || actionKey != QLatin1String(DefaultAction))
        return;
    m_openFolder(*found);
}
