#include "headless/HeadlessOptions.h"

#include "convert/Formats.h"
#include "convert/ParameterCheck.h"
#include "process/NativePath.h"
#include "process/NumberText.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

namespace {

const QString convertOption = QStringLiteral("convert");
const QString helpOption = QStringLiteral("help");
const QString formatOption = QStringLiteral("format");
const QString sampleRateOption = QStringLiteral("sample-rate");
const QString audioBitrateOption = QStringLiteral("audio-bitrate");
const QString channelsOption = QStringLiteral("channels");
const QString sizeOption = QStringLiteral("size");
const QString videoBitrateOption = QStringLiteral("video-bitrate");
const QString frameRateOption = QStringLiteral("frame-rate");
const QString outputOption = QStringLiteral("output");
const QString jobsOption = QStringLiteral("jobs");
const QString progressOption = QStringLiteral("progress");
const QString quietOption = QStringLiteral("quiet");
const QString versionOption = QStringLiteral("version");
// More files at once than this only thrashes the disk.
constexpr int MostJobs = 256;

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

QString formatNames()
{
    QStringList names;
    for (int format = 0; format < Formats::Count; ++format)
        names.append(Formats::shortName(format));
    return names.join(QLatin1Char(' '));
}

} // namespace

bool HeadlessOptions::wanted(const QStringList &arguments)
{
    for (const QString &argument : arguments.mid(1)) {
        if (argument == QLatin1String("--"))
            return false;
        if (argument == QLatin1String("--convert") || argument == QLatin1String("--help") ||
            argument == QLatin1String("-h") || argument == QLatin1String("--version"))
            return true;
    }
    return false;
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
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({
        {convertOption, QString()},
        {{QStringLiteral("h"), helpOption}, QString()},
        {{QStringLiteral("f"), formatOption}, QString(), QStringLiteral("NAME")},
        {sampleRateOption, QString(), QStringLiteral("HZ")},
        {audioBitrateOption, QString(), QStringLiteral("KBPS")},
        {channelsOption, QString(), QStringLiteral("N")},
        {sizeOption, QString(), QStringLiteral("WxH")},
        {videoBitrateOption, QString(), QStringLiteral("KBPS")},
        {frameRateOption, QString(), QStringLiteral("FPS")},
        {{QStringLiteral("o"), outputOption}, QString(), QStringLiteral("DIR")},
        {{QStringLiteral("j"), jobsOption}, QString(), QStringLiteral("N")},
        {progressOption, QString(), QStringLiteral("FORM")},
        {{QStringLiteral("q"), quietOption}, QString()},
        {versionOption, QString()},
    });
    if (!parser.parse(arguments))
        return failure(QStringLiteral("参数错误 (bad argument): ") + parser.errorText());
    if (parser.isSet(helpOption)) {
        HeadlessOptions options;
        options.m_action = Action::Help;
        return options;
    }
    if (parser.isSet(versionOption)) {
        HeadlessOptions options;
        options.m_action = Action::Version;
        return options;
    }
    if (!parser.isSet(convertOption))
        return failure(QStringLiteral("缺少 --convert (missing --convert)"));
    for (const QString &name : parser.optionNames())
        if (name != convertOption && parser.values(name).size() > 1)
            return failure(
                QStringLiteral("选项 --%1 只能给一次 (option --%1 given twice)").arg(name));

    int format = Formats::RMVB;
    if (parser.isSet(formatOption)) {
        format = formatByName(parser.value(formatOption).trimmed());
        if (format < 0)
            return failure(
                QStringLiteral("未知格式 (unknown format) \"%1\"；可用 (choose from): %2 "
                               "或 (or) 0-%3")
                    .arg(parser.value(formatOption), formatNames())
                    .arg(Formats::Count - 1));
    }
    HeadlessOptions options;
    ParameterSet &set = options.m_parameters;
    set = Formats::defaultParameters(format);

    if (parser.isSet(sampleRateOption)) {
        set.sampleRate = parser.value(sampleRateOption);
        if (!NumberText::isPositiveWhole(set.sampleRate))
            return failure(QStringLiteral("--sample-rate 须为正整数 (must be a positive whole "
                                          "number, e.g. 44100): \"%1\"")
                               .arg(set.sampleRate));
    }
    if (parser.isSet(audioBitrateOption)) {
        set.audioBitrate = parser.value(audioBitrateOption);
        if (!NumberText::isPositiveDecimal(set.audioBitrate))
            return failure(QStringLiteral("--audio-bitrate 须为正数 (must be a positive number, "
                                          "e.g. 128 or 12.2): \"%1\"")
                               .arg(set.audioBitrate));
    }
    if (parser.isSet(channelsOption)) {
        const QString channels = parser.value(channelsOption);
        if (channels != QLatin1String("1") && channels != QLatin1String("2"))
            return failure(
                QStringLiteral("--channels 只能是 1 或 2 (must be 1 or 2): \"%1\"").arg(channels));
        set.channelCount = channels.toInt();
    }
    if (parser.isSet(sizeOption)) {
        const QString size = parser.value(sizeOption);
        if (size.compare(QLatin1String("keep"), Qt::CaseInsensitive) == 0 ||
            size == Formats::keepSourceSize())
            set.frameSize = Formats::keepSourceSize();
        else if (matches(size, "0*[1-9][0-9]*x0*[1-9][0-9]*"))
            set.frameSize = size;
        else
            return failure(QStringLiteral("--size 须为 宽x高 或 keep (must be WxH, e.g. 320x240, "
                                          "or keep): \"%1\"")
                               .arg(size));
    }
    if (parser.isSet(videoBitrateOption)) {
        set.videoBitrate = parser.value(videoBitrateOption);
        if (!NumberText::isPositiveWhole(set.videoBitrate))
            return failure(QStringLiteral("--video-bitrate 须为正整数 (must be a positive whole "
                                          "number, e.g. 600): \"%1\"")
                               .arg(set.videoBitrate));
    }
    if (parser.isSet(frameRateOption)) {
        set.frameRate = parser.value(frameRateOption);
        if (set.frameRate.compare(QLatin1String("keep"), Qt::CaseInsensitive) == 0 ||
            set.frameRate == Formats::keepSourceFrameRate()) {
            if (!Formats::keepsFrameRate(format))
                return failure(QStringLiteral("--frame-rate keep 只适用于 H264、H265、AV1 (only "
                                              "these formats keep the source's frame rate)"));
            set.frameRate = Formats::keepSourceFrameRate();
        } else if (!NumberText::isPositiveDecimal(set.frameRate)) {
            return failure(QStringLiteral("--frame-rate 须为正数或 keep (must be a positive "
                                          "number, e.g. 25, or keep): \"%1\"")
                               .arg(set.frameRate));
        }
    }

    if (parser.isSet(jobsOption)) {
        const QString jobs = parser.value(jobsOption);
        bool fits = false;
        const int count = jobs.toInt(&fits);
        if (!NumberText::isPositiveWhole(jobs) || !fits || count > MostJobs)
            return failure(QStringLiteral("--jobs 须为 1 到 %1 的整数 (must be a whole number from "
                                          "1 to %1): \"%2\"")
                               .arg(MostJobs)
                               .arg(jobs));
        options.m_jobs = count;
    } else {
        // Every core busy: one conversion keeps about one core at work.
        options.m_jobs = qBound(1, QThread::idealThreadCount(), MostJobs);
    }
    if (parser.isSet(progressOption)) {
        const QString form = parser.value(progressOption);
        if (form == QLatin1String("json"))
            options.m_progress = Progress::Json;
        else if (form != QLatin1String("text"))
            return failure(
                QStringLiteral("--progress 只能是 text 或 json (must be text or json): \"%1\"")
                    .arg(form));
    }
    options.m_quiet = parser.isSet(quietOption);

    if (const QString problem = ParameterCheck::problem(set); !problem.isEmpty())
        return failure(problem);

    const QDir working(workingFolder);
    const QString output =
        parser.isSet(outputOption) ? parser.value(outputOption) : QStringLiteral("output");
    if (output.isEmpty())
        return failure(QStringLiteral("--output 不能为空 (must not be empty)"));
    options.m_outputFolder = QDir::cleanPath(working.absoluteFilePath(output));

    if (parser.positionalArguments().isEmpty())
        return failure(QStringLiteral("没有输入文件 (no input files or folders given)"));
    for (const QString &input : parser.positionalArguments()) {
        const QString path = QDir::cleanPath(working.absoluteFilePath(input));
        if (!NativePath::exists(path))
            return failure(QStringLiteral("找不到输入 (no such file or folder): %1").arg(input));
        options.m_inputs.append(path);
    }
    options.m_action = Action::Convert;
    return options;
}

QString HeadlessOptions::versionText()
{
    return QStringLiteral("vidmorph %1\n").arg(QStringLiteral(VIDMORPH_VERSION));
}

QString HeadlessOptions::helpText()
{
    return QStringLiteral(
               "用法 (usage): vidmorph --convert [选项 options] 文件或文件夹 FILE|FOLDER...\n"
               "       vidmorph [--] [FILE...]     打开窗口 (open the window)\n"
               "       vidmorph --help | --version\n"
               "\n"
               "不打开窗口，把文件转换成所选格式；文件夹中的所有文件(含子文件夹)都会转换。\n"
               "Converts without a window; every file in a folder (and its subfolders) is "
               "converted.\n"
               "\n"
               "  -f, --format NAME       输出格式 (output format), 默认 (default) RMVB:\n"
               "                          %1,\n"
               "                          或序号 (or index) 0-%2\n"
               "  --sample-rate HZ        声音频率 (audio sample rate), e.g. 44100\n"
               "  --audio-bitrate KBPS    声音比特率 (audio bitrate), e.g. 128, 12.2\n"
               "  --channels 1|2          声道 (mono or stereo)\n"
               "  --size WxH|keep         视频尺寸 (frame size), e.g. 320x240; keep = 原始大小\n"
               "  --video-bitrate KBPS    视频比特率 (video bitrate), e.g. 600\n"
               "  --frame-rate FPS|keep   帧率 (frame rate), e.g. 25; keep = 原始帧率\n"
               "                          (H264, H265, AV1)\n"
               "  -o, --output DIR        输出文件夹 (output folder); 默认为当前文件夹下的 "
               "output\n"
               "                          (default: ./output)\n"
               "  -j, --jobs N            同时转换的文件数 (files converted at once);\n"
               "                          默认为处理器核数 (default: the number of cores)\n"
               "  --progress text|json    进度格式 (progress form): text, 或每行一个 JSON 对象\n"
               "                          (or one JSON object per line, for programs)\n"
               "  -q, --quiet             只显示失败和总结 (only failures and the summary)\n"
               "  --version               显示版本 (show the version)\n"
               "  -h, --help              显示本帮助 (show this help)\n"
               "\n"
               "未给出的参数取所选格式的默认值 (parameters not given take the format's "
               "defaults).\n"
               "退出状态 (exit status): 0 全部成功 (all converted), 1 有文件失败 (some failed),\n"
               "  2 参数错误 (bad arguments), 128+信号 (signal) 被中断 (interrupted, e.g. 130),\n"
               "  141 输出被关闭 (standard output closed).\n")
        .arg(formatNames())
        .arg(Formats::Count - 1);
}
