#pragma once

#include <QDBusAbstractInterface>

// The desktop's notification service (org.freedesktop.Notifications) as Qt signals, so that
// its signals connect like any other. Calls go through the base class's asyncCall.
class NotificationsInterface : public QDBusAbstractInterface
{
    Q_OBJECT
public:
    static constexpr const char *Service = "org.freedesktop.Notifications";
    static constexpr const char *Path = "/org/freedesktop/Notifications";

    NotificationsInterface(const QDBusConnection &bus, QObject *parent = nullptr);

signals:
    void ActionInvoked(uint id, const QString &actionKey);
    void NotificationClosed(uint id, uint reason);
};
