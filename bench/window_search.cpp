// Add folder on a tree of 100 000 files: how long the search and the listing take next to
// find(1), the longest stall of the window's event loop meanwhile, and the memory the
// process holds with the 100 000 rows in the list.
//   window_search [FILES]          (prints RESULT lines)
#include "app/DesktopServices.h"
#include "app/frmMain.h"
#include "dialogs/FileDialogs.h"
#include "process/MessageSink.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

class NoMessages : public MessageSink
{
public:
    void showMessage(Icon, const QString &, const QString &) override {}
};

class NoDesktop : public DesktopServices
{
public:
    void open(const QString &, Failure) override {}
    void playSound(const QString &) override {}
    void notify(const QString &, const QString &, const QString &) override {}
};

long residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir tree;
    const int perFolder = 1000;
    for (int i = 0; i < files; ++i) {
        const QString folder = tree.filePath(QStringLiteral("d%1").arg(i / perFolder));
        if (i % perFolder == 0)
            QDir().mkpath(folder);
        QFile(folder + QStringLiteral("/clip %1.avi").arg(i)).open(QIODevice::WriteOnly);
    }

    QElapsedTimer findTimer;
    findTimer.start();
    QProcess find;
    find.start(QStringLiteral("find"), {tree.path(), QStringLiteral("-type"), QStringLiteral("f")});
    find.waitForFinished(-1);
    const double findSeconds = findTimer.nsecsElapsed() / 1e9;
    const int found = find.readAllStandardOutput().count('\n');

    NoMessages messages;
    NoDesktop desktop;
    QTemporaryDir home;
    Locations places;
    places.appFolder = home.path();
    places.settingsFolder = home.filePath(QStringLiteral("settings"));
    places.scratchFolder = home.filePath(QStringLiteral("scratch"));
    places.logFolder = home.filePath(QStringLiteral("logs"));
    frmMain window(places, &messages, &desktop);
    window.Form_Load();
    window.show();
    const long before = residentKilobytes();

    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longestGap = qMax(longestGap, sinceTick.restart()); });
    QElapsedTimer searchTimer;
    QObject::connect(&window, &frmMain::folderSearchFinished, &app, [&] {
        const double searchSeconds = searchTimer.nsecsElapsed() / 1e9;
        // Let the list paint its new rows before the stall and memory are read.
        QTimer::singleShot(200, &app, [&, searchSeconds] {
            std::printf("RESULT folder_search_rows %d rows\n", window.files()->count());
            std::printf("RESULT find_rows %d rows\n", found);
            std::printf("RESULT folder_search_seconds %.3f s\n", searchSeconds);
            std::printf("RESULT find_seconds %.3f s\n", findSeconds);
            std::printf("RESULT folder_search_longest_stall %lld ms\n", longestGap);
            std::printf("RESULT memory_with_rows %.1f MB\n", residentKilobytes() / 1024.0);
            std::printf("RESULT memory_for_rows %.1f MB\n",
                        (residentKilobytes() - before) / 1024.0);
            app.quit();
        });
    });
    QTimer::singleShot(0, &app, [&] {
        FileDialogs::queueAnswers({tree.path()});
        sinceTick.start();
        ticker.start();
        searchTimer.start();
        window.AddFolder();
    });
    return app.exec();
}
