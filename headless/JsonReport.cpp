#include "headless/JsonReport.h"

#include "headless/ConsoleOutput.h"
#include "process/NativePath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QJsonObject JsonReport::fileObject(const File &file, const QString &state)
{
    return {{QStringLiteral("file"), NativePath::readable(file.path)},
            {QStringLiteral("index"), file.index},
            {QStringLiteral("count"), file.count},
            {QStringLiteral("state"), state}};
}

void JsonReport::emitLine(const QJsonObject &object)
{
    m_out.write(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) +
                QLatin1Char('\n'));
}

void JsonReport::started(const File &file)
{
    if (m_quiet)
        return;
    QJsonObject object = fileObject(file, QStringLiteral("started"));
    object.insert(QStringLiteral("stage"), 1);
    object.insert(QStringLiteral("percent"), 0);
    emitLine(object);
}

void JsonReport::progressed(const File &file, const FileConversion::Progress &progress,
                            const Batch &batch)
{
    const int percent = qRound(progress.percent) + 1000 * progress.stage;
    if (m_quiet || m_percent.value(file.index, -1) == percent)
        return;
    m_percent.insert(file.index, percent);
    QJsonObject object = fileObject(file, QStringLiteral("running"));
    object.insert(QStringLiteral("stage"), progress.stage + 1);
    object.insert(QStringLiteral("stages"), progress.stages);
    object.insert(QStringLiteral("percent"), qRound(progress.percent));
    if (batch.secondsLeft)
        object.insert(QStringLiteral("seconds_left"), *batch.secondsLeft);
    emitLine(object);
}

void JsonReport::finished(const File &file, const FileConversion::Result &result)
{
    m_percent.remove(file.index);
    const bool converted = result.outcome == FileConversion::Outcome::Converted;
    if (m_quiet && converted)
        return;
    QJsonObject object =
        fileObject(file, converted ? QStringLiteral("done") : QStringLiteral("failed"));
    if (converted) {
        object.insert(QStringLiteral("percent"), 100);
        object.insert(QStringLiteral("output"), result.outputPath);
        if (!result.warning.isEmpty())
            object.insert(QStringLiteral("warning"), result.warning);
    } else {
        object.insert(QStringLiteral("reason"), result.reason);
    }
    emitLine(object);
}

void JsonReport::stopped(const QString &why, const QVector<File> &running)
{
    for (const File &file : running) {
        QJsonObject object = fileObject(file, QStringLiteral("stopped"));
        object.insert(QStringLiteral("reason"), why);
        emitLine(object);
    }
}

void JsonReport::summary(const Summary &summary)
{
    QJsonArray failures;
    for (const BatchScheduler::Failure &failure : summary.failures)
        failures.append(
            QJsonObject{{QStringLiteral("file"), NativePath::readable(failure.inputPath)},
                        {QStringLiteral("reason"), failure.reason}});
    QJsonArray warnings;
    for (const BatchScheduler::Warning &warning : summary.warnings)
        warnings.append(
            QJsonObject{{QStringLiteral("file"), NativePath::readable(warning.inputPath)},
                        {QStringLiteral("output"), warning.outputPath},
                        {QStringLiteral("warning"), warning.text}});
    emitLine({{QStringLiteral("state"), QStringLiteral("summary")},
              {QStringLiteral("warnings"), warnings},
              {QStringLiteral("converted"), summary.converted},
              {QStringLiteral("failed"), failures},
              {QStringLiteral("not_converted"), summary.notConverted},
              {QStringLiteral("output_folder"), summary.outputFolder},
              {QStringLiteral("log"), summary.logPath}});
}
