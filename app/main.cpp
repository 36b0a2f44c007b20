#include "app/MessageBoxSink.h"
#include "app/QtTranslation.h"
#include "app/SingleInstance.h"
#include "app/SystemDesktopServices.h"
#include "app/frmMain.h"
#include "convert/Locations.h"
#include "headless/HeadlessMode.h"
#include "headless/HeadlessOptions.h"
#include "process/TerminationSignals.h"

#include <QApplication>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QStringList fileArguments(const QStringList &arguments)
{
    QStringList files;
    for (const QString &argument : arguments.mid(1))
        files.append(QFileInfo(argument).absoluteFilePath());
    return files;
}

} // namespace

int main(int argc, char **argv)
{
    // Decided before any QApplication exists: the headless mode must work without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (HeadlessOptions::wanted(arguments))
        return HeadlessMode::run(argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vidmorph"));
    QtTranslation::install(&app);

    const QStringList files = fileArguments(QApplication::arguments());
    SingleInstance instance(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
    if (!instance.acquire())
        return instance.handOff(files) ? 0 : 1;

    MessageBoxSink messages;
    SystemDesktopServices desktop;
    frmMain window(Locations::standard(QApplication::applicationDirPath()), &messages, &desktop);
    messages.setOwner(&window);
    window.Form_Load();
    window.show();
    window.appendFiles(files);
    QObject::connect(&instance, &SingleInstance::filesReceived, &window, &frmMain::appendFiles);
    // Logging out, a closed terminal or a kill end the window as Alt+F4 does: the running tool
    // is stopped, nothing half-written stays, no settings are written.
    TerminationSignals signalsToEnd;
    signalsToEnd.install();
    QObject::connect(&signalsToEnd, &TerminationSignals::received, &window, [&window](int number) {
        window.close();
        QCoreApplication::exit(128 + number);
    });
    return app.exec();
}
