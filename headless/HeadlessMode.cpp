#include "headless/HeadlessMode.h"

#include "convert/FileSearch.h"
#include "convert/Leftovers.h"
#include "convert/Locations.h"
#include "headless/ConsoleOutput.h"
#include "headless/HeadlessConverter.h"
#include "headless/HeadlessOptions.h"
#include "headless/JsonReport.h"
#include "headless/LineReport.h"
#include "headless/TerminalReport.h"
#include "process/NativePath.h"
#include "process/TerminationSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>

namespace {

constexpr int BadArguments = 2;

void printError(const QString &text)
{
    std::fputs(("vidmorph: " + text + "\n").toUtf8().constData(), stderr);
}

std::unique_ptr<BatchReport> reportFor(const HeadlessOptions &options, ConsoleOutput &out)
{
    if (options.progress() == HeadlessOptions::Progress::Json)
        return std::make_unique<JsonReport>(out, options.quiet());
    if (out.isTerminal())
        return std::make_unique<TerminalReport>(out, options.jobs(), options.quiet());
    return std::make_unique<LineReport>(out, options.quiet());
}

QStringList expandFolders(const QStringList &inputs)
{
    QStringList files;
    for (const QString &input : inputs) {
        if (NativePath::isFolder(input))
            files += FileSearch::SearchFolder(input);
        else
            files.append(input);
    }
    return files;
}

} // namespace

int HeadlessMode::run(int &argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vidmorph"));

    // The arguments byte for byte: a file name that is not UTF-8 must still name its file.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(NativePath::decode(argv[i]));
    const HeadlessOptions options = HeadlessOptions::parse(arguments, QDir::currentPath());
    switch (options.action()) {
    case HeadlessOptions::Action::Help:
        std::fputs(HeadlessOptions::helpText().toUtf8().constData(), stdout);
        return 0;
    case HeadlessOptions::Action::Version:
        std::fputs(HeadlessOptions::versionText().toUtf8().constData(), stdout);
        return 0;
    case HeadlessOptions::Action::Error:
        printError(options.error());
        printError(QStringLiteral("用法见 (see) vidmorph --help"));
        return BadArguments;
    case HeadlessOptions::Action::Convert:
        break;
    }
    const QStringList files = expandFolders(options.inputs());
    if (files.isEmpty()) {
        printError(QStringLiteral("所给文件夹中没有文件 (no files in the folders given)"));
        return BadArguments;
    }
    // Scratch files of a run of their own, so runs side by side never share tmp.mp4; the
    // folder goes when the run ends, whatever way it ends short of being killed.
    Locations places = Locations::standard(QCoreApplication::applicationDirPath());
    // What runs that were killed left behind goes before this run adds its own.
    Leftovers::removeDeadRuns(places.scratchFolder);
    if (!places.makeScratchFolder()) {
        printError(
            QStringLiteral("无法创建临时文件夹 (cannot create) %1").arg(places.scratchFolder));
        return 1;
    }
    QTemporaryDir scratch(places.scratchFolder +
                          QStringLiteral("/run-%1-XXXXXX").arg(QCoreApplication::applicationPid()));
    if (!scratch.isValid()) {
        printError(QStringLiteral("无法创建临时文件夹 (cannot create) %1: %2")
                       .arg(places.scratchFolder, scratch.errorString()));
        return 1;
    }
    places.scratchFolder = scratch.path();

    TerminationSignals signalsToStop;
    if (!signalsToStop.install())
        printError(QStringLiteral("无法处理中断信号 (cannot catch SIGINT/SIGTERM)"));
    // A closed standard output shows up as a failed write, which stops the batch cleanly.
    std::signal(SIGPIPE, SIG_IGN);
    ConsoleOutput out;
    HeadlessConverter converter(places, options.parameters(), options.outputFolder(),
                                options.jobs(), reportFor(options, out), out);
    QObject::connect(&signalsToStop, &TerminationSignals::received, &converter,
                     &HeadlessConverter::requestStop);
    QObject::connect(&converter, &HeadlessConverter::finished, &app, &QCoreApplication::exit);
    if (!converter.start(files))
        return 1;
    return QCoreApplication::exec();
}
