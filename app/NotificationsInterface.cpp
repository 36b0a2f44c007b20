#include "app/NotificationsInterface.h"

NotificationsInterface::NotificationsInterface(const QDBusConnection &bus, QObject *parent)
    : QDBusAbstractInterface(QLatin1String(Service), QLatin1String(Path), Service, bus, parent)
{
}
