#include "headless/HeadlessMode.h"

#include "convert/FileSearch.h"
#include "convert/Leftovers.h"
#include "convert/Locations.h"
#include "convert/RunFolder.h"
#include "headless/ConsoleOutput.h"
#include "headless/DryRun.h"
#include "headless/ExitStatus.h"
#include "headless/FolderWatch.h"
#include "headless/HeadlessConverter.h"
#include "headless/HeadlessOptions.h"
#include "headless/JsonReport.h"
#include "headless/MediaFilter.h"
#include "headless/TerminalReport.h"
#include "headless/WatchState.h"
#include "process/NativePath.h"
#include "process/TerminationSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

// Nothing when a folder holds more files than a search takes (said why).
std::optional<QStringList> expandFolders(const QStringList &inputs)
{
    QStringList files;
    for (const QString &input : inputs) {
        if (!NativePath::isFolder(input)) {
            files.append(input);
            continue;
        }
        QString error;
        files += FileSearch::SearchFolder(input, nullptr, &error);
        if (!error.isEmpty()) {
            printError(error);
            return std::nullopt;
        }
    }
    return files;
}

// Every byte of a file, or of standard input for "-".
std::optional<QByteArray> readList(const QString &path)
{
    const int fd = path == QLatin1String("-")
                       ? STDIN_FILENO
                       : ::open(NativePath::encode(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray bytes;
    char buffer[64 * 1024];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
        if (got > 0)
            bytes.append(buffer, got);
    if (fd != STDIN_FILENO)
        ::close(fd);
    if (got < 0)
        return std::nullopt;
    return bytes;
}

// The files named on the command line and in the list, folders searched; nothing when the
// command cannot be followed (it said why).
std::optional<QStringList> filesToConvert(HeadlessOptions &options)
{
    QStringList inputs = options.inputs();
    if (!options.filesFrom().isEmpty()) {
        const std::optional<QByteArray> list = readList(options.filesFrom());
        if (!list) {
            printError(QStringLiteral("无法读取文件清单 (cannot read the list) %1: %2")
                           .arg(options.filesFrom(), QString::fromLocal8Bit(std::strerror(errno))));
            return std::nullopt;
        }
        QString error;
        const QStringList named = HeadlessOptions::namesInList(*list, options.nulSeparated(),
                                                               QDir::currentPath(), &error);
        if (!error.isEmpty()) {
            printError(error);
            return std::nullopt;
        }
        if (const QString outside = options.outsideTree(named); !outside.isEmpty()) {
            printError(
                QStringLiteral("不在 --keep-tree 的文件夹之下 (not below the tree's root): %1")
                    .arg(NativePath::readable(outside)));
            return std::nullopt;
        }
        inputs += named;
        options.addListed(named);
    }
    const std::optional<QStringList> files = expandFolders(inputs);
    if (!files)
        return std::nullopt;
    if (files->isEmpty()) {
        printError(QStringLiteral("所给文件夹中没有文件 (no files in the folders given)"));
        return std::nullopt;
    }
    return files;
}

int dryRun(const HeadlessOptions &options, const QStringList &files)
{
    ConsoleOutput out;
    const std::unique_ptr<BatchReport> report = reportFor(options, out);
    DryRun planner(OutputNaming(options.outputFolder(), options.names(), options.treeRoots()),
                   options.parameters().format, options.skipExisting());
    planner.setGivenBack(Leftovers::namesOfDeadRuns(
        Locations::standard(QCoreApplication::applicationDirPath()).scratchFolder));
    BatchReport::PlanSummary summary;
    summary.outputFolder = options.outputFolder();
    for (qsizetype i = 0; i < files.size(); ++i) {
        const DryRun::Plan plan = planner.planFor(files.at(i));
        report->planned({int(i + 1), int(files.size()), files.at(i)}, plan);
        switch (plan.action) {
        case DryRun::Plan::Action::Convert:
            ++summary.convert;
            break;
        case DryRun::Plan::Action::Skip:
            ++summary.skip;
            break;
        case DryRun::Plan::Action::Refuse:
            ++summary.refuse;
            break;
        }
    }
    report->planSummary(summary);
    return summary.refuse > 0 ? ExitStatus::FileFailed : ExitStatus::Converted;
}

// The places of a run: the standard ones, or a private temporary folder where the home folder
// cannot take them (said once). Nothing when there is nowhere to work.
std::optional<Locations> placesForRun(const HeadlessOptions &options)
{
    Locations places = Locations::standard(QCoreApplication::applicationDirPath());
    QString movedTo;
    if (!places.leaveUnusableHome(&movedTo)) {
        printError(QStringLiteral("没有可用的主文件夹，也无法创建私有临时文件夹 (no usable home "
                                  "folder, and no private temporary folder can be made)"));
        return std::nullopt;
    }
    if (!movedTo.isEmpty() && !options.quiet())
        printError(QStringLiteral("注意 (note): 主文件夹不可用，临时文件和记录放在 (the home "
                                  "folder cannot be used; scratch files and logs go to) %1")
                       .arg(NativePath::readable(movedTo)));
    return places;
}

// Whether `inner` is the folder `outer` or lies below it, asked of the folders themselves
// (device and inode, from `inner` up to the root), however either is spelled or linked to.
bool isWithin(const QString &inner, const QString &outer)
{
    struct stat top = {};
    if (::stat(NativePath::encode(outer).constData(), &top) != 0)
        return false;
    int fd = ::open(NativePath::encode(inner).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool within = false;
    while (fd >= 0 && !within) {
        struct stat here = {}, parent = {};
        const int up =
            ::fstat(fd, &here) == 0 ? ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
        within = here.st_dev == top.st_dev && here.st_ino == top.st_ino;
        ::close(fd);
        fd = up;
        // The root is its own parent.
        if (fd >= 0 && ::fstat(fd, &parent) == 0 && parent.st_dev == here.st_dev &&
            parent.st_ino == here.st_ino) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd >= 0)
        ::close(fd);
    return within;
}

// Converts each file that appears in the watched folder, once, until a signal stops it.
int watchAndConvert(const HeadlessOptions &options, const Locations &places,
                    HeadlessConverter &converter)
{
    QDir().mkpath(options.outputFolder());
    // Outputs in the watched tree would come back as inputs, and a watched folder in the output
    // folder would take other files' outputs for inputs.
    if (isWithin(options.outputFolder(), options.watchFolder()) ||
        isWithin(options.watchFolder(), options.outputFolder())) {
        printError(
            QStringLiteral("--output 的文件夹不能是 --watch 的文件夹，也不能在它之内或包含它 "
                           "(the output folder must not be the watched folder, nor lie "
                           "inside it, nor hold it): %1")
                .arg(NativePath::readable(options.outputFolder())));
        return ExitStatus::BadArguments;
    }
    // Beside the logs: the user's own data folder, or the private folder that stands in for it.
    const QString stateFolder = QFileInfo(places.logFolder).path() + QStringLiteral("/watch");
    WatchState state;
    switch (state.open(stateFolder, options.outputFolder(), options.watchFolder())) {
    case WatchState::Opened::Yes:
        break;
    case WatchState::Opened::Busy:
        printError(
            QStringLiteral("另一个 vidmorph --watch 正在把这个文件夹转换到 %1 (another watch "
                           "converts this folder into it)")
                .arg(NativePath::readable(options.outputFolder())));
        return ExitStatus::FileFailed;
    case WatchState::Opened::Failed:
        printError(QStringLiteral("无法记录监视状态 (cannot keep the watch's state) in %1")
                       .arg(NativePath::readable(stateFolder)));
        return ExitStatus::FileFailed;
    }
    FolderWatch watch(options.watchFolder(), options.outputFolder(),
                      options.settleSeconds() * 1000);
    QHash<QString, FolderWatch::Stamp> converting;
    const MediaFilter media(options.includes());
    QSet<QString> leftAlone; // said once each
    // Versions that settled while an earlier version of the same file was converting.
    QHash<QString, FolderWatch::Stamp> cameAgain;
    const auto convertVersion = [&](const QString &path, const FolderWatch::Stamp &stamp) {
        if (state.contains(path, stamp))
            return;
        if (!media.takes(path)) {
            if (!leftAlone.contains(path) && !options.quiet())
                printError(QStringLiteral("不是要转换的媒体文件，不处理 (not a media file to "
                                          "convert, left alone): %1")
                               .arg(NativePath::readable(path)));
            leftAlone.insert(path);
            return;
        }
        if (converting.contains(path)) {
            cameAgain.insert(path, stamp);
            return;
        }
        converting.insert(path, stamp);
        converter.add({path});
    };
    QObject::connect(&watch, &FolderWatch::ready, &converter, convertVersion);
    QObject::connect(&converter, &HeadlessConverter::fileEnded, &watch,
                     [&](const QString &path, const QString &how) {
                         state.record(path, converting.take(path), how);
                         // Replaced or changed while it converted: the new version comes
                         // again, whether it settled meanwhile or settles now.
                         if (cameAgain.contains(path))
                             convertVersion(path, cameAgain.take(path));
                         else
                             watch.recheck(path);
                     });
    QObject::connect(&watch, &FolderWatch::folderLost, &converter, [&] {
        printError(QStringLiteral("监视的文件夹已不在，或已被换成别的文件夹，停止监视 (the watched "
                                  "folder is gone or was replaced; the watch ends): %1")
                       .arg(NativePath::readable(options.watchFolder())));
        converter.endWatch();
    });
    if (!watch.start()) {
        printError(QStringLiteral("无法监视文件夹 (cannot watch) %1: %2")
                       .arg(NativePath::readable(options.watchFolder()),
                            QString::fromLocal8Bit(std::strerror(errno))));
        return ExitStatus::forSystemError(errno);
    }
    return QCoreApplication::exec();
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
    HeadlessOptions options = HeadlessOptions::parse(arguments, QDir::currentPath());
    switch (options.action()) {
    case HeadlessOptions::Action::Help:
        std::fputs(HeadlessOptions::helpText().toUtf8().constData(), stdout);
        return ExitStatus::Converted;
    case HeadlessOptions::Action::Version:
        std::fputs(HeadlessOptions::versionText().toUtf8().constData(), stdout);
        return ExitStatus::Converted;
    case HeadlessOptions::Action::Error:
        printError(options.error());
        printError(QStringLiteral("用法见 (see) vidmorph --help"));
        return ExitStatus::BadArguments;
    case HeadlessOptions::Action::Convert:
    case HeadlessOptions::Action::Watch:
        break;
    }
    const bool watching = options.action() == HeadlessOptions::Action::Watch;
    QStringList files;
    if (!watching) {
        const std::optional<QStringList> found = filesToConvert(options);
        if (!found)
            return ExitStatus::BadArguments;
        files = options.shard().of(*found);
        if (files.isEmpty()) {
            // More shares than files: this task of the array has nothing to do.
            if (!options.quiet())
                printError(QStringLiteral("第 %1/%2 份没有文件 (share %1/%2 has no files)")
                               .arg(options.shard().index())
                               .arg(options.shard().count()));
            return ExitStatus::Converted;
        }
        if (options.dryRun())
            return dryRun(options, files);
    }
    std::optional<Locations> places = placesForRun(options);
    if (!places)
        return ExitStatus::NoHome;
    // Scratch files of a run of their own, so runs side by side never share tmp.mp4; the
    // folder goes when the run ends, whatever way it ends short of being killed, and a later
    // run removes it then (what runs that were killed left goes first).
    RunFolder scratch;
    if (!scratch.create(places->scratchFolder)) {
        printError(QStringLiteral("无法创建临时文件夹 (cannot create) %1: %2")
                       .arg(NativePath::readable(places->scratchFolder),
                            QString::fromLocal8Bit(std::strerror(scratch.error()))));
        return ExitStatus::forSystemError(scratch.error());
    }
    places->scratchFolder = scratch.path();

    TerminationSignals signalsToStop;
    if (!signalsToStop.install())
        printError(QStringLiteral("无法处理中断信号 (cannot catch SIGINT/SIGTERM)"));
    // A closed standard output shows up as a failed write, which stops the batch cleanly.
    std::signal(SIGPIPE, SIG_IGN);
    ConsoleOutput out;
    HeadlessConverter converter(*places, options, reportFor(options, out), out);
    QObject::connect(&signalsToStop, &TerminationSignals::received, &converter,
                     &HeadlessConverter::requestStop);
    QObject::connect(&converter, &HeadlessConverter::finished, &app, &QCoreApplication::exit);
    if (!watching)
        return converter.start(files) ? QCoreApplication::exec() : ExitStatus::FileFailed;

    return watching                 ? watchAndConvert(options, *places, converter)
           : converter.start(files) ? QCoreApplication::exec()
                                    : int(ExitStatus::FileFailed);
}
