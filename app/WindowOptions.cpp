#include "app/WindowOptions.h"

#include "headless/HeadlessOptions.h"

#include <QProcessEnvironment>

namespace {

// An option's name without its dashes and without an "=value" part.
QString optionName(const QString &argument)
{
    QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
    const qsizetype equals = name.indexOf(QLatin1Char('='));
    return equals < 0 ? name : name.left(equals);
}

} // namespace

QStringList WindowOptions::headlessOnlyOptions()
{
    // As `vidmorph --convert` spells them, from its own table; the headless mode reads
    // "-format" as "--format". Those that choose the headless mode are no mistake here.
    QStringList names;
    for (const QString &option : HeadlessOptions::optionNames())
        names.append(optionName(option));
    for (const char *routed : {"convert", "watch", "help", "h", "version"})
        names.removeAll(QLatin1String(routed));
    return names;
}

WindowOptions WindowOptions::refusal(const QString &problem)
{
    WindowOptions options;
    options.m_action = Action::Refuse;
    options.m_message = QStringLiteral("vidmorph: ") + problem + QLatin1Char('\n') + usageText();
    options.m_exitCode = BadArgumentsExitCode;
    return options;
}

WindowOptions WindowOptions::parse(const QStringList &arguments)
{
    WindowOptions options;
    bool onlyFiles = false;
    for (const QString &argument : arguments.mid(1)) {
        if (onlyFiles || argument == QLatin1String("-") || !argument.startsWith(QLatin1Char('-'))) {
            options.m_files.append(argument);
            continue;
        }
        if (argument == QLatin1String("--")) {
            onlyFiles = true;
            continue;
        }
        const QString name = optionName(argument);
        if (name == QLatin1String("convert") || name == QLatin1String("help") ||
            name == QLatin1String("h") || name == QLatin1String("version")) {
            WindowOptions headless;
            headless.m_action = Action::Headless;
            return headless;
        }
        if (headlessOnlyOptions().contains(name))
            return refusal(QStringLiteral("选项 %1 只能与 --convert 一起使用 (option %1 needs "
                                          "--convert: the window does not take it)")
                               .arg(argument));
        return refusal(QStringLiteral("未知选项 (unknown option) %1").arg(argument));
    }
    return options;
}

QString WindowOptions::usageText()
{
    return QStringLiteral(
        "用法 (usage): vidmorph [--] [文件 FILE...]                  打开窗口 (open the window)\n"
        "       vidmorph --convert [选项 options] 文件或文件夹 FILE|FOLDER...\n"
        "                                               不打开窗口转换 (convert without a window)\n"
        "       vidmorph --help | --version\n"
        "名字以 - 开头的文件放在 -- 之后 (give a file whose name begins with - after --).\n");
}

bool WindowOptions::displayAvailable(const QProcessEnvironment &environment)
{
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (!environment.value(QLatin1String(name)).isEmpty())
            return true;
    return false;
}

QString WindowOptions::noDisplayText()
{
    return QStringLiteral(
        "vidmorph: 没有图形显示，无法打开窗口；不用窗口转换请用 vidmorph --convert。\n"
        "vidmorph: no display to open the window on; to convert without a window use "
        "vidmorph --convert (see vidmorph --help).\n");
}

QString WindowOptions::displayFailedText(const QProcessEnvironment &environment)
{
    QStringList named;
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const QString value = environment.value(QLatin1String(name));
        if (!value.isEmpty())
            named.append(QLatin1String(name) + QLatin1Char('=') + value);
    }
    return QStringLiteral("vidmorph: 无法打开图形显示（%1），窗口无法启动；不用窗口转换请用 "
                          "vidmorph --convert (no display could be opened)\n")
        .arg(named.join(QLatin1Char(' ')));
}
