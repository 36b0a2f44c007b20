#include "app/WindowOptions.h"
#include "headless/HeadlessOptions.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using Action = WindowOptions::Action;

Q_DECLARE_METATYPE(WindowOptions::Action)

namespace {

const QString Executable = QStringLiteral(VIDMORPH_APP_DIR "/vidmorph");

struct Run
{
    int exitCode = -1; // -1: crashed or hung
    QString out;
    QString err;
};

// The real program with no display at all: a window it tried to open could not appear, and a
// Qt that found no display would abort.
Run run(const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(Executable, arguments);
    Run result;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QLatin1String(name));
    return environment;
}

} // namespace

// The window's command line, read without a window, and what the real program does with it.
class TestWindowOptions : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void refusals_data();
    void refusals();
    void headlessOnlyOptionsAreTheHeadlessModes_data();
    void headlessOnlyOptionsAreTheHeadlessModes();
    void everyHeadlessOptionIsKnown();
    void displayAvailable_data();
    void displayAvailable();
    void programExits_data();
    void programExits();
};

void TestWindowOptions::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");
    QTest::addColumn<QStringList>("files");

    QTest::newRow("nothing") << QStringList{} << Action::OpenWindow << QStringList{};
    QTest::newRow("files in order")
        << QStringList{"b.avi", "/v/a clip.mp4", "视频.mkv"} << Action::OpenWindow
        << QStringList{"b.avi", "/v/a clip.mp4", "视频.mkv"};
    QTest::newRow("a lone dash is a file")
        << QStringList{"-", "a.avi"} << Action::OpenWindow << QStringList{"-", "a.avi"};
    QTest::newRow("dashed names after --")
        << QStringList{"a.avi", "--", "-f", "--version", "--", "-x.avi"} << Action::OpenWindow
        << QStringList{"a.avi", "-f", "--version", "--", "-x.avi"};
    QTest::newRow("-- alone") << QStringList{"--"} << Action::OpenWindow << QStringList{};
    QTest::newRow("--convert") << QStringList{"--convert", "a.avi"} << Action::Headless
                               << QStringList{};
    QTest::newRow("--help after a file")
        << QStringList{"a.avi", "--help"} << Action::Headless << QStringList{};
    QTest::newRow("-h") << QStringList{"-h"} << Action::Headless << QStringList{};
    QTest::newRow("--version") << QStringList{"--version"} << Action::Headless << QStringList{};
    QTest::newRow("single-dash long form, as the headless mode reads it")
        << QStringList{"-convert", "-format", "MP3", "a.avi"} << Action::Headless << QStringList{};
    QTest::newRow("unknown option")
        << QStringList{"a.avi", "--frobnicate"} << Action::Refuse << QStringList{};
    QTest::newRow("Qt's own option")
        << QStringList{"-platform", "xcb"} << Action::Refuse << QStringList{};
    QTest::newRow("format without --convert")
        << QStringList{"-f", "MP3", "clip.mp4"} << Action::Refuse << QStringList{};
}

void TestWindowOptions::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(Action, action);
    QFETCH(QStringList, files);
    const WindowOptions options = WindowOptions::parse(QStringList{"vidmorph"} + arguments);
    QCOMPARE(options.action(), action);
    QCOMPARE(options.files(), files);
    QCOMPARE(options.exitCode(), action == Action::Refuse ? 2 : 0);
    QCOMPARE(options.message().isEmpty(), action != Action::Refuse);
}

void TestWindowOptions::refusals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("named"); // the argument the message names
    QTest::addColumn<bool>("needsConvert");

    QTest::newRow("unknown long") << QStringList{"--frobnicate"} << "--frobnicate" << false;
    QTest::newRow("unknown short") << QStringList{"-x", "a.avi"} << "-x" << false;
    QTest::newRow("unknown with a value") << QStringList{"--colour=red"} << "--colour=red" << false;
    QTest::newRow("file named with a dash, before --")
        << QStringList{"a.avi", "-clip.avi"} << "-clip.avi" << false;
    QTest::newRow("-f") << QStringList{"-f", "MP3", "clip.mp4"} << "-f" << true;
    QTest::newRow("--format=MP3") << QStringList{"--format=MP3", "clip.mp4"} << "--format=MP3"
                                  << true;
    QTest::newRow("-o") << QStringList{"clip.mp4", "-o", "out"} << "-o" << true;
    QTest::newRow("--output") << QStringList{"--output", "out"} << "--output" << true;
    QTest::newRow("-j") << QStringList{"-j", "2"} << "-j" << true;
    QTest::newRow("--jobs") << QStringList{"--jobs", "2"} << "--jobs" << true;
    QTest::newRow("--progress") << QStringList{"--progress", "json"} << "--progress" << true;
    QTest::newRow("-q") << QStringList{"-q"} << "-q" << true;
    QTest::newRow("--quiet") << QStringList{"--quiet"} << "--quiet" << true;
    QTest::newRow("--size") << QStringList{"--size", "320x240"} << "--size" << true;
    QTest::newRow("--sample-rate")
        << QStringList{"--sample-rate", "8000"} << "--sample-rate" << true;
}

void TestWindowOptions::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, named);
    QFETCH(bool, needsConvert);
    const WindowOptions options = WindowOptions::parse(QStringList{"vidmorph"} + arguments);
    QCOMPARE(options.action(), Action::Refuse);
    QCOMPARE(options.exitCode(), 2);
    QVERIFY(options.files().isEmpty());
    const QString message = options.message();
    QVERIFY2(message.contains(named), qPrintable(message));
    QCOMPARE(message.contains(QStringLiteral("needs --convert")), needsConvert);
    QCOMPARE(message.contains(QStringLiteral("unknown option")), !needsConvert);
    QVERIFY2(message.contains(WindowOptions::usageText()), qPrintable(message));
}

void TestWindowOptions::headlessOnlyOptionsAreTheHeadlessModes_data()
{
    QTest::addColumn<QString>("name");
    for (const QString &name : WindowOptions::headlessOnlyOptions())
        QTest::newRow(qPrintable(name)) << name;
}

// Each option the window refuses as needing --convert is one that --convert takes.
void TestWindowOptions::headlessOnlyOptionsAreTheHeadlessModes()
{
    QFETCH(QString, name);
    const QString option = (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    const bool takesValue = !QStringList{"q", "quiet"}.contains(name);
    const QStringList withValue =
        takesValue ? QStringList{option, QStringLiteral("1")} : QStringList{option};
    const HeadlessOptions headless = HeadlessOptions::parse(
        QStringList{"vidmorph", "--convert"} + withValue + QStringList{"a.avi"}, QDir::tempPath());
    QVERIFY2(!headless.error().contains(QStringLiteral("bad argument")),
             qPrintable(headless.error()));
}

// And each option --convert's help lists is either one of those or one the window routes to
// the headless mode.
void TestWindowOptions::everyHeadlessOptionIsKnown()
{
    const QStringList routed = {"convert", "help", "h", "version"};
    const QRegularExpression option(QStringLiteral("(?:^|[\\s,])--?([a-z][a-z-]*)"));
    QStringList listed;
    QStringList unknown;
    for (const QString &line : HeadlessOptions::helpText().split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String("  -")))
            continue;
        for (auto match = option.globalMatch(line); match.hasNext();) {
            const QString name = match.next().captured(1);
            listed.append(name);
            if (!routed.contains(name) && !WindowOptions::headlessOnlyOptions().contains(name))
                unknown.append(name);
        }
    }
    QVERIFY2(listed.contains(QStringLiteral("f")) && listed.contains(QStringLiteral("quiet")),
             qPrintable(listed.join(' ')));
    QCOMPARE(unknown, QStringList());
}

void TestWindowOptions::displayAvailable_data()
{
    QTest::addColumn<QStringList>("variables"); // NAME=value
    QTest::addColumn<bool>("available");
    QTest::newRow("none") << QStringList{} << false;
    QTest::newRow("X") << QStringList{"DISPLAY=:0"} << true;
    QTest::newRow("Wayland") << QStringList{"WAYLAND_DISPLAY=wayland-0"} << true;
    QTest::newRow("a named Qt platform") << QStringList{"QT_QPA_PLATFORM=offscreen"} << true;
    QTest::newRow("empty values count as unset")
        << QStringList{"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="} << false;
    QTest::newRow("other variables")
        << QStringList{"TERM=xterm", "SSH_CONNECTION=1 2 3 4"} << false;
}

void TestWindowOptions::displayAvailable()
{
    QFETCH(QStringList, variables);
    QFETCH(bool, available);
    QProcessEnvironment environment;
    for (const QString &variable : variables)
        environment.insert(variable.section(QLatin1Char('='), 0, 0),
                           variable.section(QLatin1Char('='), 1));
    QCOMPARE(WindowOptions::displayAvailable(environment), available);
}

void TestWindowOptions::programExits_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("display"); // NAME=value, beside no display at all
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out"); // a text standard output holds
    QTest::addColumn<QString>("err"); // a text standard error holds

    QTest::newRow("--version") << QStringList{"--version"} << QStringList{} << 0 << "1.0.0"
                               << "";
    QTest::newRow("--help") << QStringList{"--help"} << QStringList{} << 0 << "--convert"
                            << "";
    QTest::newRow("unknown option")
        << QStringList{"--frobnicate", "a.avi"} << QStringList{} << 2 << ""
        << "unknown option";
    QTest::newRow("-f without --convert")
        << QStringList{"-f", "MP3", "clip.mp4"} << QStringList{} << 2 << ""
        << "needs --convert";
    QTest::newRow("no display") << QStringList{"clip.mp4"} << QStringList{} << 1 << ""
                                << "no display";
    QTest::newRow("no display, no files") << QStringList{} << QStringList{} << 1 << ""
                                          << "没有图形显示";
    QTest::newRow("no display, dashed file after --")
        << QStringList{"--", "-f"} << QStringList{} << 1 << ""
        << "no display";
    // No X server listens on this display, and no compositor on this Wayland socket.
    QTest::newRow("stale DISPLAY")
        << QStringList{"clip.mp4"} << QStringList{"DISPLAY=:1987"} << 1 << ""
        << "DISPLAY=:1987";
    QTest::newRow("Wayland without a compositor")
        << QStringList{} << QStringList{"QT_QPA_PLATFORM=wayland", "WAYLAND_DISPLAY=vidmorph-none"}
        << 1 << ""
        << "no display could be opened";
}

void TestWindowOptions::programExits()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, display);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QTemporaryDir home;
    QProcessEnvironment environment = withoutDisplay();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    for (const QString &variable : display)
        environment.insert(variable.section(QLatin1Char('='), 0, 0),
                           variable.section(QLatin1Char('='), 1));
    const Run result = run(arguments, environment);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.out.contains(out), qPrintable(result.out));
    QVERIFY2(result.err.contains(err), qPrintable(result.err));
    // One clear message, and nothing from Qt: in both languages when no display is named, in
    // one line naming the display that could not be opened.
    if (exitCode == 1 && display.isEmpty())
        QCOMPARE(result.err, WindowOptions::noDisplayText());
    else if (exitCode == 1)
        QCOMPARE(result.err, WindowOptions::displayFailedText(environment));
}

QTEST_GUILESS_MAIN(TestWindowOptions)
#include "test_windowoptions.moc"
