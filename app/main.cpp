#include "app/DisplayOpening.h"
#include "app/MessageBoxSink.h"
#include "app/QtTranslation.h"
#include "app/RuntimeFolder.h"
#include "app/SingleInstance.h"
#include "app/SystemDesktopServices.h"
#include "app/WindowOptions.h"
#include "app/frmMain.h"
#include "convert/Locations.h"
#include "headless/HeadlessMode.h"
#include "headless/HeadlessOptions.h"
#include "process/NativePath.h"
#include "process/TerminationSignals.h"

#include <QApplication>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <cstdio>
#include <memory>

namespace {

QStringList absolutePaths(const QStringList &files)
{
    QStringList paths;
    for (const QString &file : files)
        paths.append(QFileInfo(file).absoluteFilePath());
    return paths;
}

void printError(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
}

} // namespace

int main(int argc, char **argv)
{
    // Decided before any QApplication exists: the headless mode must work without a display,
    // and a window that cannot open must say why rather than abort.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(NativePath::decode(argv[i]));
    if (HeadlessOptions::wanted(arguments))
        return HeadlessMode::run(argc, argv);
    const WindowOptions options = WindowOptions::parse(arguments);
    switch (options.action()) {
    case WindowOptions::Action::Headless:
        return HeadlessMode::run(argc, argv);
    case WindowOptions::Action::Refuse:
        printError(options.message());
        return options.exitCode();
    case WindowOptions::Action::OpenWindow:
        break;
    }
    if (!WindowOptions::displayAvailable(QProcessEnvironment::systemEnvironment())) {
        printError(WindowOptions::noDisplayText());
        return WindowOptions::NoDisplayExitCode;
    }

    // Qt sees the program's name only: the rest are file names, however they look.
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};
    auto opening = std::make_unique<DisplayOpening>(
        WindowOptions::displayFailedText(QProcessEnvironment::systemEnvironment()));
    QApplication app(qtArgc, qtArgv);
    opening.reset();
    QApplication::setApplicationName(QStringLiteral("vidmorph"));
    QtTranslation::install(&app);

    const QStringList files = absolutePaths(options.files());
    const RuntimeFolder::Choice runtime =
        RuntimeFolder::choose(QProcessEnvironment::systemEnvironment());
    if (!runtime.problem.isEmpty())
        printError(runtime.problem);
    SingleInstance instance(runtime.folder);
    if (!instance.acquire())
        return instance.handOff(files) ? 0 : 1;

    MessageBoxSink messages;
    SystemDesktopServices desktop(&messages);
    frmMain window(Locations::standard(QApplication::applicationDirPath()), &messages, &desktop);
    messages.setOwner(&window);
    window.Form_Load();
    window.show();
    window.appendFiles(files);
    QObject::connect(&instance, &SingleInstance::filesReceived, &window, &frmMain::receiveFiles);
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
