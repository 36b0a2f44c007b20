#pragma once

#include <QHash>
#include <QObject>
#include <functional>

class NotificationsInterface;
class QDBusConnection;

// Notices on the desktop through its notification service over D-Bus, with the program's icon
// and desktop entry, and an action that opens a folder.
class DesktopNotifications : public QObject
{
    Q_OBJECT
public:
    // The desktop entry (vidmorph.desktop) and the icon the notices name.
    static constexpr const char *DesktopEntry = "vidmorph";
    static constexpr const char *DefaultAction = "default";

    DesktopNotifications(const QDBusConnection &bus,
                         std::function<void(const QString &folder)> openFolder,
                         QObject *parent = nullptr);
    ~DesktopNotifications() override;

    // Clicking the notice, or its button, opens `folder`.
    void show(const QString &title, const QString &text, const QString &folder);

signals:
    // The service took the notice (`id` > 0) or could not be reached (`id` 0).
    void shown(uint id);

private:
    void actionInvoked(uint id, const QString &actionKey);

    NotificationsInterface *m_service;
    std::function<void(const QString &)> m_openFolder;
    QHash<uint, QString> m_folders; // by notice, while it is on the desktop
};
