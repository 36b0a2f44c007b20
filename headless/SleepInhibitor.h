#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

// Keeps the machine from sleeping, by idle time or by its sleep timer, while a batch runs:
// logind's inhibitor lock on the system bus, or where logind is absent the desktop portal's
// Inhibit, or else the screensaver's, on the session bus. Nothing waits on the buses; a hold
// asked for and given up before its answer came is given back when it comes. The lock goes
// with the object, and with the process however it ends (logind's is a descriptor, the
// others end with the bus connection).
class SleepInhibitor : public QObject
{
    Q_OBJECT
public:
    enum class Via { None, Logind, Portal, ScreenSaver };
    Q_ENUM(Via)

    SleepInhibitor(const QDBusConnection &system, const QDBusConnection &session,
                   QObject *parent = nullptr);
    ~SleepInhibitor() override;

    // What the hold says to whoever lists the locks (systemd-inhibit --list).
    static QString reason()
    {
        return QStringLiteral("正在批量转换文件 (converting a batch of files)");
    }

    // Both may be called any number of times; only a change does anything.
    void hold(const QString &reason);
    void release();

    Via via() const { return m_via; }

signals:
    // Held through `via`, or (None) no service would take the hold, or it was given back.
    void changed(SleepInhibitor::Via via);

private:
    void askLogind();
    void askPortal();
    void askScreenSaver();
    void held(Via via);
    void giveBack();

    QDBusConnection m_system;
    QDBusConnection m_session;
    QString m_reason;
    bool m_wanted = false;
    bool m_asking = false;
    Via m_via = Via::None;
    QDBusUnixFileDescriptor m_lock; // logind's
    QString m_request;              // the portal's
    uint m_cookie = 0;              // the screensaver's
};
