#include "headless/HeadlessOptions.h"

#include "convert/Formats.h"
#include "convert/ParameterCheck.h"
#include "headless/OptionScan.h"
#include "process/NativePath.h"
#include "process/NumberText.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

namespace {

// More files at once than this only thrashes the disk.
constexpr int MostJobs = 256;
// Longer than an hour unchanged, a file is surely complete.
constexpr int MostSettleSeconds = 3600;

bool matches(const QString &text, const char *pattern)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(QLatin1String(pattern)))
        .match(text)
        .hasMatch();
}

int formatByName(const QString &text)
{
    bool number = false;
    const int index = text.toInt(&number);
    if (number)
        return Formats::isValid(index) ? index : -1;
    return Formats::byShortName(text);
}

// The short names of the formats whose row says so, in the list's order.
QStringList namesWhere(bool (*wanted)(int format))
{
    QStringList names;
    for (int format = 0; format < Formats::Count; ++format)
        if (wanted(format))
            names.append(Formats::shortName(format));
    return names;
}

QString formatNames()
{
    return namesWhere([](int) { return true; }).join(QLatin1Char(' '));
}

bool hasQuality(int format)
{
    return Formats::quality(format) > 0;
}

// "H264 0-51 (22)" for each format with a quality level: its range and its own level.
QString qualityRanges()
{
    QStringList ranges;
    for (int format = 0; format < Formats::Count; ++format)
        if (hasQuality(format))
            ranges.append(QStringLiteral("%1 0-%2 (%3)")
                              .arg(Formats::shortName(format))
                              .arg(Formats::info(format).mostQuality)
                              .arg(Formats::quality(format)));
    return ranges.join(QStringLiteral(", "));
}

// A whole number from 1 to `most`, or nothing.
std::optional<int> wholeUpTo(const QString &text, int most)
{
    bool fits = false;
    const int value = text.toInt(&fits);
    if (!NumberText::isPositiveWhole(text) || !fits || value > most)
        return std::nullopt;
    return value;
}

bool isKeep(const QString &text, const QString &chinese)
{
    return text.compare(QLatin1String("keep"), Qt::CaseInsensitive) == 0 || text == chinese;
}

bool isBelow(const QString &path, const QString &root)
{
    return path == root || path.startsWith(root == QLatin1String("/") ? root : root + '/');
}

// Plain characters, so that the table may be read before any static QString is made.
constexpr QLatin1String convertName("convert");
constexpr QLatin1String watchName("watch");
constexpr QLatin1String helpName("help");
constexpr QLatin1String versionName("version");
constexpr QLatin1String keepTreeName("keep-tree");
constexpr QLatin1String includeName("include");

} // namespace

// One option: its names, the name of its value (none for a switch), its help in both
// languages, and how its value is taken into the options (an error text when it cannot be).
struct HeadlessOptions::Option
{
    QString shortName;
    QString longName;
    QString valueName;
    QString help;
    QString (*take)(HeadlessOptions &options, const QString &value, const QDir &working);
};

const std::vector<HeadlessOptions::Option> &HeadlessOptions::table()
{
    using O = HeadlessOptions;
    // In the order they are taken: the format first, since it sets the defaults the other
    // values replace.
    static const std::vector<Option> options = {
        {{},
         convertName,
         {},
         QStringLiteral("不打开窗口，转换所给文件 (convert without a window)"),
         nullptr},
        {QStringLiteral("f"), QStringLiteral("format"), QStringLiteral("NAME"),
         QStringLiteral(
             "输出格式 (output format), 默认 (default) RMVB:\n%1,\n或序号 (or index) 0-%2")
             .arg(formatNames())
             .arg(Formats::Count - 1),
         [](O &o, const QString &value, const QDir &) {
             const int format = formatByName(value.trimmed());
             if (format < 0)
                 return QStringLiteral("未知格式 (unknown format) \"%1\"；可用 (choose from): %2 "
                                       "或 (or) 0-%3")
                     .arg(value, formatNames())
                     .arg(Formats::Count - 1);
             o.m_parameters = Formats::defaultParameters(format);
             return QString();
         }},
        {{},
         QStringLiteral("sample-rate"),
         QStringLiteral("HZ"),
         QStringLiteral("声音频率 (audio sample rate), e.g. 44100"),
         [](O &o, const QString &value, const QDir &) {
             o.m_parameters.sampleRate = value;
             return NumberText::isPositiveWhole(value)
                        ? QString()
                        : QStringLiteral("--sample-rate 须为正整数 (must be a positive whole "
                                         "number, e.g. 44100): \"%1\"")
                              .arg(value);
         }},
        {{},
         QStringLiteral("audio-bitrate"),
         QStringLiteral("KBPS"),
         QStringLiteral("声音比特率 (audio bitrate), e.g. 128, 12.2"),
         [](O &o, const QString &value, const QDir &) {
             o.m_parameters.audioBitrate = value;
             return NumberText::isPositiveDecimal(value)
                        ? QString()
                        : QStringLiteral("--audio-bitrate 须为正数 (must be a positive number, "
                                         "e.g. 128 or 12.2): \"%1\"")
                              .arg(value);
         }},
        {{},
         QStringLiteral("channels"),
         QStringLiteral("1|2"),
         QStringLiteral("声道 (mono or stereo)"),
         [](O &o, const QString &value, const QDir &) {
             if (value != QLatin1String("1") && value != QLatin1String("2"))
                 return QStringLiteral("--channels 只能是 1 或 2 (must be 1 or 2): \"%1\"")
                     .arg(value);
             o.m_parameters.channelCount = value.toInt();
             return QString();
         }},
        {{},
         QStringLiteral("size"),
         QStringLiteral("WxH|keep"),
         QStringLiteral("视频尺寸 (frame size), e.g. 320x240; keep = 原始大小"),
         [](O &o, const QString &value, const QDir &) {
             if (isKeep(value, Formats::keepSourceSize()))
                 o.m_parameters.frameSize = Formats::keepSourceSize();
             else if (matches(value, "0*[1-9][0-9]*x0*[1-9][0-9]*"))
                 o.m_parameters.frameSize = value;
             else
                 return QStringLiteral("--size 须为 宽x高 或 keep (must be WxH, e.g. 320x240, "
                                       "or keep): \"%1\"")
                     .arg(value);
             return QString();
         }},
        {{},
         QStringLiteral("video-bitrate"),
         QStringLiteral("KBPS"),
         QStringLiteral("视频比特率 (video bitrate), e.g. 600"),
         [](O &o, const QString &value, const QDir &) {
             o.m_parameters.videoBitrate = value;
             o.m_videoBitrateGiven = true;
             return NumberText::isPositiveWhole(value)
                        ? QString()
                        : QStringLiteral("--video-bitrate 须为正整数 (must be a positive whole "
                                         "number, e.g. 600): \"%1\"")
                              .arg(value);
         }},
        {{},
         QStringLiteral("quality"),
         QStringLiteral("N|auto"),
         QStringLiteral("画质 (quality level, CRF) instead of a video bitrate; lower is "
                        "better:\n%1; auto = 画质优先 (the default)")
             .arg(qualityRanges()),
         [](O &o, const QString &value, const QDir &) {
             const int format = o.m_parameters.format;
             if (!hasQuality(format))
                 return QStringLiteral("--quality 只适用于 %1 (only these formats have a "
                                       "quality level)")
                     .arg(namesWhere(hasQuality).join(QStringLiteral("、")));
             if (o.m_videoBitrateGiven)
                 return QStringLiteral("--quality 与 --video-bitrate 不能同时使用 (give one "
                                       "or the other)");
             o.m_parameters.videoBitrate = Formats::qualityItem();
             if (value.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0 ||
                 value == Formats::qualityItem()) {
                 o.m_parameters.quality = -1;
                 return QString();
             }
             const int most = Formats::info(format).mostQuality;
             bool whole = false;
             const int level = value.toInt(&whole);
             if (!whole || !matches(value, "[0-9]+") || level > most)
                 return QStringLiteral("--quality 须为 0 到 %1 的整数或 auto (must be a whole "
                                       "number from 0 to %1, or auto): \"%2\"")
                     .arg(most)
                     .arg(value);
             o.m_parameters.quality = level;
             return QString();
         }},
        {{},
         QStringLiteral("frame-rate"),
         QStringLiteral("FPS|keep"),
         QStringLiteral("帧率 (frame rate), e.g. 25; keep = 原始帧率 (%1)")
             .arg(namesWhere(Formats::keepsFrameRate).join(QStringLiteral(", "))),
         [](O &o, const QString &value, const QDir &) {
             if (isKeep(value, Formats::keepSourceFrameRate())) {
                 if (!Formats::keepsFrameRate(o.m_parameters.format))
                     return QStringLiteral("--frame-rate keep 只适用于 %1 (only these formats "
                                           "keep the source's frame rate)")
                         .arg(namesWhere(Formats::keepsFrameRate).join(QStringLiteral("、")));
                 o.m_parameters.frameRate = Formats::keepSourceFrameRate();
                 return QString();
             }
             o.m_parameters.frameRate = value;
             return NumberText::isPositiveDecimal(value)
                        ? QString()
                        : QStringLiteral("--frame-rate 须为正数或 keep (must be a positive "
                                         "number, e.g. 25, or keep): \"%1\"")
                              .arg(value);
         }},
        {QStringLiteral("o"), QStringLiteral("output"), QStringLiteral("DIR"),
         QStringLiteral("输出文件夹 (output folder); 默认为当前文件夹下的 output\n"
                        "(default: ./output)"),
         [](O &o, const QString &value, const QDir &working) {
             if (value.isEmpty())
                 return QStringLiteral("--output 不能为空 (must not be empty)");
             o.m_outputFolder = QDir::cleanPath(working.absoluteFilePath(value));
             return QString();
         }},
        {{},
         QStringLiteral("name"),
         QStringLiteral("time|plain"),
         QStringLiteral("输出文件名 (output names): time = 名称-时间.扩展名 (默认 default),\n"
                        "plain = 名称.扩展名, 便于脚本 (for scripts)"),
         [](O &o, const QString &value, const QDir &) {
             if (value == QLatin1String("plain"))
                 o.m_names = OutputNaming::Names::Plain;
             else if (value != QLatin1String("time"))
                 return QStringLiteral("--name 只能是 time 或 plain (must be time or plain): "
                                       "\"%1\"")
                     .arg(value);
             return QString();
         }},
        {{},
         QStringLiteral("skip-existing"),
         {},
         QStringLiteral("输出已存在的文件不再转换，报告为跳过\n(skip a file whose output is "
                        "there already)"),
         [](O &o, const QString &, const QDir &) {
             o.m_skipExisting = true;
             return QString();
         }},
        {{},
         keepTreeName,
         QStringLiteral("[ROOT]"),
         QStringLiteral("输出保留输入在 ROOT 下的子文件夹 (keep each input's folder below\n"
                        "ROOT); 不给 ROOT 时为所有输入共同的文件夹\n(without ROOT: the folder "
                        "all inputs share)"),
         [](O &o, const QString &value, const QDir &working) {
             o.m_keepTree = true;
             if (value.isEmpty())
                 return QString();
             o.m_treeRoot = QDir::cleanPath(working.absoluteFilePath(value));
             return NativePath::isFolder(o.m_treeRoot)
                        ? QString()
                        : QStringLiteral("--keep-tree 须为文件夹 (must be a folder): %1")
                              .arg(value);
         }},
        {{},
         QStringLiteral("files-from"),
         QStringLiteral("FILE|-"),
         QStringLiteral("从文件读取输入文件名，每行一个；- 为标准输入\n(read input names from "
                        "FILE, one a line; - reads standard input)"),
         [](O &o, const QString &value, const QDir &working) {
             if (value == QLatin1String("-")) {
                 o.m_filesFrom = value;
                 return QString();
             }
             o.m_filesFrom = QDir::cleanPath(working.absoluteFilePath(value));
             return NativePath::isFile(o.m_filesFrom)
                        ? QString()
                        : QStringLiteral("找不到文件清单 (no such list): %1").arg(value);
         }},
        {QStringLiteral("0"),
         QStringLiteral("null"),
         {},
         QStringLiteral("清单中的文件名以 NUL 分隔 (names in the list end in NUL,\n"
                        "as find -print0 writes them)"),
         [](O &o, const QString &, const QDir &) {
             o.m_nulSeparated = true;
             return QString();
         }},
        {{},
         QStringLiteral("dry-run"),
         {},
         QStringLiteral("只显示每个文件会写出的输出(或为何跳过、拒绝)，不转换\n(show what "
                        "would be written, convert nothing)"),
         [](O &o, const QString &, const QDir &) {
             o.m_dryRun = true;
             return QString();
         }},
        {QStringLiteral("j"), QStringLiteral("jobs"), QStringLiteral("N"),
         QStringLiteral("同时转换的文件数 (files converted at once);\n"
                        "默认为处理器核数 (default: the number of cores)"),
         [](O &o, const QString &value, const QDir &) {
             const std::optional<int> jobs = wholeUpTo(value, MostJobs);
             o.m_jobs = jobs.value_or(0);
             return jobs ? QString()
                         : QStringLiteral("--jobs 须为 1 到 %1 的整数 (must be a whole number "
                                          "from 1 to %1): \"%2\"")
                               .arg(MostJobs)
                               .arg(value);
         }},
        {{},
         QStringLiteral("progress"),
         QStringLiteral("text|json"),
         QStringLiteral("进度格式 (progress form): text, 或每行一个 JSON 对象\n"
                        "(or one JSON object per line, for programs)"),
         [](O &o, const QString &value, const QDir &) {
             if (value == QLatin1String("json"))
                 o.m_progress = Progress::Json;
             else if (value != QLatin1String("text"))
                 return QStringLiteral("--progress 只能是 text 或 json (must be text or json): "
                                       "\"%1\"")
                     .arg(value);
             return QString();
         }},
        {QStringLiteral("q"),
         QStringLiteral("quiet"),
         {},
         QStringLiteral("成功时什么也不显示，否则只显示失败的文件\n(nothing on success, else "
                        "only the failed files)"),
         [](O &o, const QString &, const QDir &) {
             o.m_quiet = true;
             return QString();
         }},
        {{},
         QStringLiteral("log"),
         QStringLiteral("FILE"),
         QStringLiteral("把本次的详细记录追加到 FILE (append this run's log to FILE)"),
         [](O &o, const QString &value, const QDir &working) {
             if (value.isEmpty())
                 return QStringLiteral("--log 不能为空 (must not be empty)");
             o.m_logFile = QDir::cleanPath(working.absoluteFilePath(value));
             return QString();
         }},
        {{},
         watchName,
         QStringLiteral("IN"),
         QStringLiteral("监视文件夹 IN (含子文件夹)，转换每个新出现且写完的文件\n(watch IN and "
                        "below, convert each file that appears, once complete)"),
         [](O &o, const QString &value, const QDir &working) {
             o.m_watchFolder = QDir::cleanPath(working.absoluteFilePath(value));
             return !value.isEmpty() && NativePath::isFolder(o.m_watchFolder)
                        ? QString()
                        : QStringLiteral("--watch 须为文件夹 (must be a folder): %1").arg(value);
         }},
        {{},
         QStringLiteral("settle"),
         QStringLiteral("SECONDS"),
         QStringLiteral("监视时文件须多少秒不变才算写完，默认 5\n(with --watch: seconds a file "
                        "must stay unchanged, default 5)"),
         [](O &o, const QString &value, const QDir &) {
             const std::optional<int> seconds = wholeUpTo(value, MostSettleSeconds);
             o.m_settleSeconds = seconds.value_or(0);
             return seconds ? QString()
                            : QStringLiteral("--settle 须为 1 到 %1 的整数 (must be a whole "
                                             "number from 1 to %1): \"%2\"")
                                  .arg(MostSettleSeconds)
                                  .arg(value);
         }},
        {{},
         includeName,
         QStringLiteral("GLOB"),
         QStringLiteral("监视时只转换名称符合 GLOB 的媒体文件，可多次给出\n(with --watch: take "
                        "only media files whose name matches GLOB; repeatable)"),
         [](O &o, const QString &value, const QDir &) {
             if (value.isEmpty())
                 return QStringLiteral("--include 不能为空 (must not be empty)");
             o.m_includes.append(value);
             return QString();
         }},
        {{}, versionName, {}, QStringLiteral("显示版本 (show the version)"), nullptr},
        {QStringLiteral("h"), helpName, {}, QStringLiteral("显示本帮助 (show this help)"), nullptr},
        {{},
         QStringLiteral("shard"),
         QStringLiteral("K/N"),
         QStringLiteral(
             "只转换按路径排序后 N 份中的第 K 份 (K 从 1 起)\n(convert only the K-th of N "
             "shares of the files sorted by path,\nK from 1; for a 0-based index: "
             "$((INDEX+1))/N)"),
         [](O &o, const QString &value, const QDir &) {
             const std::optional<Shard> shard = Shard::fromText(value);
             if (!shard)
                 return QStringLiteral("--shard 须为 K/N，1 ≤ K ≤ N ≤ %1 (must be K/N with K "
                                       "from 1 to N, e.g. 3/10): \"%2\"")
                     .arg(Shard::MostShares)
                     .arg(value);
             if (!o.m_watchFolder.isEmpty())
                 return QStringLiteral("--shard 不能与 --watch 同用 (does not go with --watch)");
             o.m_shard = *shard;
             return QString();
         }},
        {{},
         QStringLiteral("retry-failed"),
         {},
         QStringLiteral("与 --skip-existing 同用时，上次失败的文件也再试一次\n(with "
                        "--skip-existing: try the files that failed before again)"),
         [](O &o, const QString &, const QDir &) {
             o.m_retryFailed = true;
             return o.m_skipExisting ? QString()
                                     : QStringLiteral("--retry-failed 只用于 --skip-existing "
                                                      "(only goes with --skip-existing)");
         }},
        {{},
         QStringLiteral("conversion-time"),
         {},
         QStringLiteral("输出文件的时间为转换的时间，不沿用输入文件的时间\n(date the outputs "
                        "when they are converted, not as their inputs)"),
         [](O &o, const QString &, const QDir &) {
             o.m_conversionTime = true;
             return QString();
         }},
    };
    return options;
}

bool HeadlessOptions::wanted(const QStringList &arguments)
{
    for (const QString &argument : arguments.mid(1)) {
        if (argument == QLatin1String("--"))
            return false;
        if (argument == QLatin1String("--convert") || argument == QLatin1String("--watch") ||
            argument.startsWith(QLatin1String("--watch=")) || argument == QLatin1String("--help") ||
            argument == QLatin1String("-h") || argument == QLatin1String("--version"))
            return true;
    }
    return false;
}

QStringList HeadlessOptions::optionNames()
{
    QStringList names;
    for (const Option &option : table()) {
        if (!option.shortName.isEmpty())
            names.append(QLatin1Char('-') + option.shortName);
        names.append(QStringLiteral("--") + option.longName);
    }
    return names;
}

HeadlessOptions HeadlessOptions::failure(const QString &error)
{
    HeadlessOptions options;
    options.m_action = Action::Error;
    options.m_error = error;
    return options;
}

HeadlessOptions HeadlessOptions::parse(const QStringList &arguments, const QString &workingFolder)
{
    std::vector<OptionScan::Name> names;
    for (const Option &option : table())
        names.push_back({option.shortName, option.longName,
                         option.valueName.isEmpty()         ? OptionScan::Value::None
                         : option.valueName.startsWith('[') ? OptionScan::Value::Optional
                                                            : OptionScan::Value::Required});
    const OptionScan parser = OptionScan::scan(arguments.mid(1), names);
    if (!parser.error().isEmpty())
        return failure(QStringLiteral("参数错误 (bad argument): ") + parser.error());
    HeadlessOptions options;
    if (parser.isSet(helpName) || parser.isSet(versionName)) {
        options.m_action = parser.isSet(helpName) ? Action::Help : Action::Version;
        return options;
    }
    if (!parser.isSet(convertName) && !parser.isSet(watchName))
        return failure(QStringLiteral("缺少 --convert (missing --convert)"));
    for (const QString &name : parser.given())
        if (name != convertName && name != includeName && parser.values(name).size() > 1)
            return failure(
                QStringLiteral("选项 --%1 只能给一次 (option --%1 given twice)").arg(name));

    const QDir working(workingFolder);
    options.m_workingFolder = QDir::cleanPath(working.absolutePath());
    options.m_parameters = Formats::defaultParameters(Formats::RMVB);
    // Every core busy: one conversion keeps about one core at work.
    options.m_jobs = qBound(1, QThread::idealThreadCount(), MostJobs);
    options.m_outputFolder = QDir::cleanPath(working.absoluteFilePath(QStringLiteral("output")));
    for (const Option &option : table())
        for (const QString &value : parser.values(option.longName))
            if (const QString error =
                    option.take ? option.take(options, value, working) : QString();
                !error.isEmpty())
                return failure(error);
    if (const QString problem = options.checkTogether(parser.positional(), working);
        !problem.isEmpty())
        return failure(problem);
    options.m_action = options.m_watchFolder.isEmpty() ? Action::Convert : Action::Watch;
    return options;
}

QString HeadlessOptions::checkTogether(const QStringList &positional, const QDir &working)
{
    if (const QString problem = ParameterCheck::problem(m_parameters); !problem.isEmpty())
        return problem;
    if (m_nulSeparated && m_filesFrom.isEmpty())
        return QStringLiteral("-0/--null 只用于 --files-from (only goes with --files-from)");
    if (!m_watchFolder.isEmpty()) {
        if (!positional.isEmpty() || !m_filesFrom.isEmpty())
            return QStringLiteral("--watch 不另取输入文件 (takes no other input files)");
        if (m_dryRun)
            return QStringLiteral("--dry-run 不能与 --watch 同用 (does not go with --watch)");
        if (m_outputFolder == m_watchFolder)
            return QStringLiteral("--output 不能就是 --watch 的文件夹 (must not be the watched "
                                  "folder)");
    } else if (m_settleSeconds > 0) {
        return QStringLiteral("--settle 只用于 --watch (only goes with --watch)");
    } else if (!m_includes.isEmpty()) {
        return QStringLiteral("--include 只用于 --watch (only goes with --watch)");
    } else if (positional.isEmpty() && m_filesFrom.isEmpty()) {
        return QStringLiteral("没有输入文件 (no input files or folders given)");
    }
    for (const QString &input : positional) {
        const QString path = QDir::cleanPath(working.absoluteFilePath(input));
        if (!NativePath::exists(path))
            return QStringLiteral("找不到输入 (no such file or folder): %1").arg(input);
        m_inputs.append(path);
    }
    QStringList inTree = m_inputs;
    if (!m_watchFolder.isEmpty())
        inTree.append(m_watchFolder);
    const QString outside = outsideTree(inTree);
    if (!outside.isEmpty())
        return QStringLiteral("不在 --keep-tree 的文件夹 %1 之下 (not below the tree's root): %2")
            .arg(NativePath::readable(m_treeRoot), NativePath::readable(outside));
    return {};
}

QStringList HeadlessOptions::treeRoots() const
{
    if (!m_keepTree)
        return {};
    if (!m_treeRoot.isEmpty())
        return {m_treeRoot};
    if (!m_watchFolder.isEmpty())
        return {m_watchFolder};
    // The folder every input shares, so that no two inputs' folders fold into one: a folder
    // given counts as itself, a file as the folder it is in.
    QString common;
    for (const QString &input : m_inputs + m_listed) {
        QString folder = NativePath::isFolder(input) ? input : QFileInfo(input).path();
        if (common.isNull())
            common = folder;
        while (!isBelow(folder, common))
            common = QFileInfo(common).path();
    }
    return common.isNull() ? QStringList() : QStringList{common};
}

QString HeadlessOptions::outsideTree(const QStringList &paths) const
{
    if (m_treeRoot.isEmpty())
        return {};
    for (const QString &path : paths)
        if (!isBelow(QDir::cleanPath(path), m_treeRoot))
            return path;
    return {};
}

QStringList HeadlessOptions::namesInList(const QByteArray &list, bool nulSeparated,
                                         const QString &workingFolder, QString *error)
{
    const QDir working(workingFolder);
    QStringList names;
    const QList<QByteArray> lines = list.split(nulSeparated ? '\0' : '\n');
    for (qsizetype line = 0; line < lines.size(); ++line) {
        const QByteArray &name = lines.at(line);
        if (name.contains('\0')) {
            if (error)
                *error = QStringLiteral("文件清单第 %1 行含有 NUL 字节，NUL 分隔的清单须加 -0 "
                                        "(line %1 of the list holds a NUL byte; use -0 for a "
                                        "NUL-separated list)")
                             .arg(line + 1);
            return {};
        }
        if (!name.isEmpty())
            names.append(QDir::cleanPath(working.absoluteFilePath(NativePath::decode(name))));
    }
    return names;
}

QString HeadlessOptions::versionText()
{
    return QStringLiteral("vidmorph %1\n").arg(QStringLiteral(VIDMORPH_VERSION));
}

QString HeadlessOptions::helpText()
{
    QString text = QStringLiteral(
        "用法 (usage): vidmorph --convert [选项 options] 文件或文件夹 FILE|FOLDER...\n"
        "       vidmorph --convert [选项 options] --files-from LIST\n"
        "       vidmorph --watch IN [选项 options]\n"
        "       vidmorph [--] [FILE...]     打开窗口 (open the window)\n"
        "       vidmorph --help | --version\n"
        "\n"
        "不打开窗口，把文件转换成所选格式；文件夹中的所有文件(含子文件夹)都会转换。\n"
        "Converts without a window; every file in a folder (and its subfolders) is converted.\n"
        "\n");
    for (const Option &option : table()) {
        QString names = option.shortName.isEmpty()
                            ? QStringLiteral("      --")
                            : QStringLiteral("  -%1, --").arg(option.shortName);
        names += option.longName;
        if (!option.valueName.isEmpty())
            names += QLatin1Char(' ') + option.valueName;
        const QStringList lines = option.help.split(QLatin1Char('\n'));
        text += names.leftJustified(28) + QLatin1Char(' ') + lines.first() + QLatin1Char('\n');
        for (const QString &line : lines.mid(1))
            text += QString(29, QLatin1Char(' ')) + line + QLatin1Char('\n');
    }
    return text +
           QStringLiteral("\n"
                          "未给出的参数取所选格式的默认值 (parameters not given take the format's "
                          "defaults).\n"
                          "退出状态 (exit status): 0 全部成功 (all converted), 1 有文件失败 (some "
                          "failed),\n"
                          "  2 参数错误 (bad arguments), 3 没有可用的主文件夹 (no usable home "
                          "folder),\n"
                          "  4 内存不足 (out of memory), 5 进程数已达上限 (out of processes),\n"
                          "  6 打开的文件数已达上限 (out of file descriptors),\n"
                          "  128+信号 (signal) 被中断 (interrupted, e.g. 130), 141 输出被关闭 "
                          "(standard output closed).\n");
}
