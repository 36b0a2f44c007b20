#include "RecordingMessageSink.h"
#include "app/DesktopNotifications.h"
#include "app/NotificationsInterface.h"
#include "app/SystemDesktopServices.h"
#include "headless/SleepInhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

// A notification service of the test's own, as a desktop runs one.
class StandInNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notice
    {
        QString appName, appIcon, summary, body;
        QStringList actions;
        QVariantMap hints;
    };
    QList<Notice> notices;

public slots:
    uint Notify(const QString &appName, uint, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int)
    {
        notices.append({appName, appIcon, summary, body, actions, hints});
        return uint(notices.size()) + 40;
    }
};

// Sleep inhibitors of the test's own: logind's, the desktop portal's (with the request it
// hands out) and the screensaver's.
class StandInLogind : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    QStringList asked;
    int lockEnd = -1; // the end logind keeps; it hangs up once every holder has let go

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why,
                                    const QString &mode)
    {
        asked = QStringList{what, who, why, mode};
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return {};
        lockEnd = ends[0];
        QDBusUnixFileDescriptor lock(ends[1]);
        ::close(ends[1]);
        return lock;
    }
};

class StandInPortal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
public:
    static constexpr const char *Request = "/org/freedesktop/portal/desktop/request/1_1/t";
    uint flags = 0;
    QString reason;

public slots:
    QDBusObjectPath Inhibit(const QString &, uint flags, const QVariantMap &options)
    {
        this->flags = flags;
        reason = options.value(QStringLiteral("reason")).toString();
        return QDBusObjectPath(QLatin1String(Request));
    }
};

class StandInRequest : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    bool closed = false;

public slots:
    void Close() { closed = true; }
};

class StandInScreenSaver : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    QString reason;
    uint givenBack = 0;

public slots:
    uint Inhibit(const QString &, const QString &why)
    {
        reason = why;
        return 7;
    }
    void UnInhibit(uint cookie) { givenBack = cookie; }
};

// The real opener and notification service of the desktop, met by stand-ins: an opener that
// is missing or finds nothing to open with, and a notification service on a private bus.
class TestDesktop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void opener_data();
    void opener();
    void notificationOpensTheFolder();
    void sleepInhibited_data();
    void sleepInhibited();

private:
    QString script(const QString &name, const QString &body);

    QTemporaryDir m_dir;
    QProcess m_bus;
    QString m_address;
};

void TestDesktop::initTestCase()
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    QVERIFY2(!daemon.isEmpty(), "dbus-daemon (package dbus-daemon)");
    m_bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                         QStringLiteral("--print-address=1")});
    QVERIFY(m_bus.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(m_bus.canReadLine(), 30000);
    m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
    QVERIFY(!m_address.isEmpty());
}

void TestDesktop::cleanupTestCase()
{
    m_bus.terminate();
    m_bus.waitForFinished();
}

QString TestDesktop::script(const QString &name, const QString &body)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write("#!/bin/sh\n" + body.toUtf8() + '\n');
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    return path;
}

void TestDesktop::opener_data()
{
    QTest::addColumn<QString>("opener"); // the script's body; "" for no opener at all
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("told");   // whether a failure is the user's to be told
    QTest::addColumn<QString>("why"); // what the user is told; "" when it opened or is quiet
    const QString folder = m_dir.filePath(QStringLiteral("视频 输出/"));
    const QString gone = m_dir.filePath(QStringLiteral("gone.log"));
    const QString web = QStringLiteral("https://example.invalid/");
    QTest::newRow("no opener installed")
        << "" << folder << true << SystemDesktopServices::openerMissingText(folder);
    QTest::newRow("nothing opens it")
        << "exit 3" << folder << true << SystemDesktopServices::nothingOpensText(folder);
    QTest::newRow("nothing opens it, quietly") << "exit 3" << folder << false << "";
    QTest::newRow("a log that is not there")
        << "exit 0" << gone << true << SystemDesktopServices::missingText(gone);
    QTest::newRow("a help file that is not there, quietly") << "exit 0" << gone << false << "";
    QTest::newRow("the action failed")
        << "exit 4" << web << true << SystemDesktopServices::nothingOpensText(web);
    QTest::newRow("opened") << "exit 0" << folder << true << "";
    QTest::newRow("a relative name reaches the opener whole")
        << "exit 0" << QStringLiteral("-help.html") << true << "";
}

void TestDesktop::opener()
{
    QFETCH(QString, opener);
    QFETCH(QString, target);
    QFETCH(bool, told);
    QFETCH(QString, why);
    // The folder and the dashed name are there; gone.log is not.
    QVERIFY(QDir::setCurrent(m_dir.path()));
    QVERIFY(QDir().mkpath(QStringLiteral("视频 输出")));
    QFile dashed(QStringLiteral("-help.html"));
    QVERIFY(dashed.open(QIODevice::WriteOnly));
    dashed.close();
    const bool missing = target.endsWith(QStringLiteral("gone.log"));
    RecordingMessageSink messages;
    SystemDesktopServices desktop(&messages);
    const QString received = m_dir.filePath(QStringLiteral("received"));
    QFile::remove(received);
    desktop.setOpener(
        opener.isEmpty()
            ? m_dir.filePath(QStringLiteral("no-such-opener"))
            : script(
                  QStringLiteral("opener"),
                  QStringLiteral("printf '%s\\n' \"$#\" \"$@\" > '%1'\n%2").arg(received, opener)));
    QSignalSpy ended(&desktop, &SystemDesktopServices::openEnded);
    desktop.open(target, told ? DesktopServices::Failure::Told : DesktopServices::Failure::Quiet);
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 60000);
    QCOMPARE(ended.at(0).at(0).toString(), target);
    QCOMPARE(ended.at(0).at(1).toBool(), opener == QStringLiteral("exit 0") && !missing);
    QCOMPARE(messages.messages.size(), why.isEmpty() ? 0 : 1);
    if (!why.isEmpty()) {
        QCOMPARE(messages.messages.at(0).caption, QStringLiteral("打开"));
        QCOMPARE(messages.messages.at(0).text, why);
    }
    // What is not there never reaches the opener.
    QCOMPARE(QFile::exists(received), !opener.isEmpty() && !missing);
    if (QFile::exists(received)) {
        QFile file(received);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        QCOMPARE(lines.at(0), QStringLiteral("1"));
        QVERIFY2(lines.at(1).endsWith(target) && !lines.at(1).startsWith(QLatin1Char('-')),
                 qPrintable(lines.at(1)));
    }
}

void TestDesktop::notificationOpensTheFolder()
{
    QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("service"));
    QDBusConnection program = QDBusConnection::connectToBus(m_address, QStringLiteral("program"));
    QVERIFY(service.isConnected() && program.isConnected());
    StandInNotifications standIn;
    QVERIFY(service.registerObject(QLatin1String(NotificationsInterface::Path), &standIn,
                                   QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(QLatin1String(NotificationsInterface::Service)));

    QStringList opened;
    DesktopNotifications notifications(program, [&](const QString &folder) { opened << folder; });
    QSignalSpy shown(&notifications, &DesktopNotifications::shown);
    notifications.show(QStringLiteral("Vidmorph 转换完成"), QStringLiteral("2 个文件转换成功"),
                       QStringLiteral("/srv/out/"));
    QVERIFY(shown.wait(30000));
    const uint id = shown.at(0).at(0).toUInt();
    QCOMPARE(id, 41u);
    QCOMPARE(standIn.notices.size(), 1);
    const StandInNotifications::Notice &notice = standIn.notices.at(0);
    QCOMPARE(notice.appName, QStringLiteral("Vidmorph"));
    QCOMPARE(notice.appIcon, QStringLiteral("vidmorph"));
    QCOMPARE(notice.summary, QStringLiteral("Vidmorph 转换完成"));
    QCOMPARE(notice.body, QStringLiteral("2 个文件转换成功"));
    QCOMPARE(notice.hints.value(QStringLiteral("desktop-entry")).toString(),
             QStringLiteral("vidmorph"));
    QCOMPARE(notice.actions.size(), 2);
    QCOMPARE(notice.actions.at(0), QStringLiteral("default"));

    // Another program's notice, or another action, opens nothing; a click on this one does.
    auto invoke = [&](uint which, const QString &key) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QLatin1String(NotificationsInterface::Path),
            QLatin1String(NotificationsInterface::Service), QStringLiteral("ActionInvoked"));
        signal << which << key;
        QVERIFY(service.send(signal));
    };
    invoke(id + 1, QStringLiteral("default"));
    invoke(id, QStringLiteral("inline-reply"));
    invoke(id, QStringLiteral("default"));
    QTRY_VERIFY_WITH_TIMEOUT(!opened.isEmpty(), 30000);
    QCOMPARE(opened, QStringList{QStringLiteral("/srv/out/")});
}

QTEST_GUILESS_MAIN(TestDesktop)
void TestDesktop::sleepInhibited_data()
{
    QTest::addColumn<QStringList>("services"); // on the private bus
    QTest::addColumn<bool>("releasedAtOnce");  // given up before the answer came
    QTest::addColumn<SleepInhibitor::Via>("via");
    const QStringList all = {"logind", "portal", "screensaver"};
    QTest::newRow("logind") << all << false << SleepInhibitor::Via::Logind;
    QTest::newRow("logind, given up before its answer")
        << all << true << SleepInhibitor::Via::Logind;
    QTest::newRow("no logind: the desktop portal")
        << QStringList({"portal", "screensaver"}) << false << SleepInhibitor::Via::Portal;
    QTest::newRow("only the screensaver")
        << QStringList{"screensaver"} << false << SleepInhibitor::Via::ScreenSaver;
    QTest::newRow("nothing to ask") << QStringList() << false << SleepInhibitor::Via::None;
}

// The batch's hold is taken from the first service there is, and given back.
void TestDesktop::sleepInhibited()
{
    QFETCH(QStringList, services);
    QFETCH(bool, releasedAtOnce);
    QFETCH(SleepInhibitor::Via, via);
    const QString name = QStringLiteral("stand-ins %1").arg(QTest::currentDataTag());
    QDBusConnection standIns = QDBusConnection::connectToBus(m_address, name);
    StandInLogind logind;
    StandInPortal portal;
    StandInRequest request;
    StandInScreenSaver saver;
    const auto offer = [&](const char *service, const char *path, QObject *object) {
        QVERIFY(
            standIns.registerObject(QLatin1String(path), object, QDBusConnection::ExportAllSlots));
        QVERIFY(standIns.registerService(QLatin1String(service)));
    };
    if (services.contains("logind"))
        offer("org.freedesktop.login1", "/org/freedesktop/login1", &logind);
    if (services.contains("portal")) {
        offer("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", &portal);
        QVERIFY(standIns.registerObject(QLatin1String(StandInPortal::Request), &request,
                                        QDBusConnection::ExportAllSlots));
    }
    if (services.contains("screensaver"))
        offer("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", &saver);
    {
        // One bus stands for both the system's and the session's.
        QDBusConnection bus = QDBusConnection::connectToBus(m_address, name + " client");
        SleepInhibitor inhibitor(bus, bus);
        QSignalSpy changed(&inhibitor, &SleepInhibitor::changed);
        inhibitor.hold(SleepInhibitor::reason());
        if (releasedAtOnce)
            inhibitor.release();
        QTRY_VERIFY_WITH_TIMEOUT(!changed.isEmpty(), 30000);
        QCOMPARE(changed.first().first().value<SleepInhibitor::Via>(), via);
        QCOMPARE(inhibitor.via(), releasedAtOnce ? SleepInhibitor::Via::None : via);
        const QString reason = SleepInhibitor::reason();
        if (via == SleepInhibitor::Via::Logind)
            QCOMPARE(logind.asked, QStringList({"sleep:idle", "Vidmorph", reason, "block"}));
        if (via == SleepInhibitor::Via::Portal)
            QVERIFY(portal.flags == (4 | 8) && portal.reason == reason);
        if (via == SleepInhibitor::Via::ScreenSaver)
            QCOMPARE(saver.reason, reason);
        inhibitor.release();
        QCOMPARE(inhibitor.via(), SleepInhibitor::Via::None);
        QDBusConnection::disconnectFromBus(name + " client");
    }
    // Given back: logind's descriptor closed by every holder, the others told.
    if (via == SleepInhibitor::Via::Logind) {
        pollfd hangUp = {logind.lockEnd, POLLIN, 0};
        QTRY_VERIFY_WITH_TIMEOUT(::poll(&hangUp, 1, 0) == 1 && (hangUp.revents & POLLHUP), 30000);
        ::close(logind.lockEnd);
    }
    QTRY_COMPARE_WITH_TIMEOUT(request.closed, via == SleepInhibitor::Via::Portal, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(saver.givenBack, via == SleepInhibitor::Via::ScreenSaver ? 7u : 0u,
                              30000);
    QDBusConnection::disconnectFromBus(name);
}

#include "test_desktop.moc"
