#include "convert/ParameterCheck.h"

#include "convert/Formats.h"
#include "process/NumberText.h"
#include "tools/ToolContract.h"

#include <QRegularExpression>

namespace {

// Beyond these the tools would read the value as a different number.
bool isPositiveNumber(const QString &text)
{
    return NumberText::isPositiveDecimal(text) && text.toDouble() < 1e9;
}

bool isPositiveWholeNumber(const QString &text)
{
    return NumberText::isPositiveWhole(text) && text.size() <= 9;
}

QString sizeProblem(const QString &size)
{
    static const QRegularExpression shape(QStringLiteral("^([0-9]{1,9})x([0-9]{1,9})$"));
    const QRegularExpressionMatch match = shape.match(size);
    const int most = ToolContract::MaxRequestedSide;
    if (match.hasMatch()) {
        const int width = match.captured(1).toInt();
        const int height = match.captured(2).toInt();
        if (width > 0 && height > 0 && width <= most && height <= most)
            return {};
    }
    return QStringLiteral("视频尺寸“%1”无法使用：请写成 宽x高（例如 640x480），宽和高都是 1 到 "
                          "%2 之间的整数，或选择“%3”。")
        .arg(size)
        .arg(most)
        .arg(Formats::keepSourceSize());
}

} // namespace

namespace ParameterCheck {

QString problem(const ParameterSet &p)
{
    if (p.frameSize == Formats::keepSourceSize() ||
        !Formats::readsList(p.format, Formats::FrameSize, p.frameSize))
        return {};
    if (const QString size = sizeProblem(p.frameSize); !size.isEmpty())
        return size;
    // The sized RealMedia command hands on every audio and video value, which the second stage
    // would refuse only after the whole first stage has run.
    if (!Formats::isValid(p.format) ||
        Formats::info(p.format).stageTwo != Formats::StageTwo::RealMedia)
        return {};
    if (!isPositiveNumber(p.videoBitrate))
        return QStringLiteral("视频比特率“%1”无法使用：请输入一个正数（单位 kbit/s）。")
            .arg(p.videoBitrate);
    if (!isPositiveWholeNumber(p.sampleRate))
        return QStringLiteral("声音频率“%1”无法使用：请输入一个正整数（单位 Hz）。")
            .arg(p.sampleRate);
    if (!isPositiveNumber(p.audioBitrate))
        return QStringLiteral("声音比特率“%1”无法使用：请输入一个正数（单位 kbit/s）。")
            .arg(p.audioBitrate);
    if (p.channelCount != 1 && p.channelCount != 2)
        return QStringLiteral("声道无法使用：请选择“单声道”或“双声道”。");
    return {};
}

} // namespace ParameterCheck
