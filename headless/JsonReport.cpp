#include "headless/JsonReport.h"

#include "convert/FailureReason.h"
#include "headless/ConsoleOutput.h"
#include "process/NativePath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

void JsonReport::insertPath(QJsonObject &object, const QString &key, const QString &path)
{
    object.insert(key, NativePath::readable(path));
    if (NativePath::hasRawBytes(path))
        object.insert(key + QStringLiteral("_bytes"),
                      QString::fromLatin1(NativePath::encode(path).toBase64()));
}

void JsonReport::insertReason(QJsonObject &object, const QString &reason)
{
    object.insert(QStringLiteral("reason"), reason);
    object.insert(QStringLiteral("reason_code"), FailureReason::code(reason));
}

QJsonObject JsonReport::fileObject(const File &file, const QString &state)
{
    QJsonObject object{{QStringLiteral("index"), file.index},
                       {QStringLiteral("count"), file.count},
                       {QStringLiteral("state"), state}};
    insertPath(object, QStringLiteral("file"), file.path);
    return object;
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
    // The whole file's share: the second stage goes on from where the first ended.
    const int percent = qRound(progress.fileFraction() * 100);
    if (m_quiet || m_percent.value(file.index, -1) == percent)
        return;
    m_percent.insert(file.index, percent);
    QJsonObject object = fileObject(file, QStringLiteral("running"));
    object.insert(QStringLiteral("stage"), progress.stage + 1);
    object.insert(QStringLiteral("stages"), progress.stages);
    object.insert(QStringLiteral("percent"), percent);
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
        insertPath(object, QStringLiteral("output"), result.outputPath);
        if (!result.warning.isEmpty())
            object.insert(QStringLiteral("warning"), result.warning);
        if (!result.dropped.isEmpty())
            object.insert(QStringLiteral("dropped"), QJsonArray::fromStringList(result.dropped));
    } else {
        insertReason(object, result.reason);
    }
    emitLine(object);
}

void JsonReport::skipped(const File &file, const QString &existingOutput,
                         const QString &failedReason)
{
    if (m_quiet)
        return;
    QJsonObject object = fileObject(file, QStringLiteral("skipped"));
    if (failedReason.isEmpty())
        insertPath(object, QStringLiteral("output"), existingOutput);
    else
        insertReason(object, failedReason);
    emitLine(object);
}

void JsonReport::stopped(const QString &why, const QVector<File> &running)
{
    for (const File &file : running) {
        QJsonObject object = fileObject(file, QStringLiteral("stopped"));
        insertReason(object, why);
        emitLine(object);
    }
}

void JsonReport::summary(const Summary &summary)
{
    if (m_quiet)
        return;
    QJsonArray failures;
    for (const BatchScheduler::Failure &failure : summary.failures) {
        QJsonObject object;
        insertPath(object, QStringLiteral("file"), failure.inputPath);
        insertReason(object, failure.reason);
        failures.append(object);
    }
    QJsonArray warnings;
    for (const BatchScheduler::Warning &warning : summary.warnings) {
        QJsonObject object{{QStringLiteral("warning"), warning.text}};
        insertPath(object, QStringLiteral("file"), warning.inputPath);
        insertPath(object, QStringLiteral("output"), warning.outputPath);
        warnings.append(object);
    }
    QJsonObject object{{QStringLiteral("state"), QStringLiteral("summary")},
                       {QStringLiteral("warnings"), warnings},
                       {QStringLiteral("converted"), summary.converted},
                       {QStringLiteral("skipped"), summary.skipped},
                       {QStringLiteral("failed"), failures},
                       {QStringLiteral("not_converted"), summary.notConverted},
                       {QStringLiteral("log"), summary.logPath.isEmpty()
                                                   ? QJsonValue(QJsonValue::Null)
                                                   : QJsonValue(summary.logPath)}};
    insertPath(object, QStringLiteral("output_folder"), summary.outputFolder);
    emitLine(object);
}

void JsonReport::planned(const File &file, const DryRun::Plan &plan)
{
    const bool refused = plan.action == DryRun::Plan::Action::Refuse;
    if (m_quiet && !refused)
        return;
    QJsonObject object = fileObject(file, plan.action == DryRun::Plan::Action::Convert
                                              ? QStringLiteral("would_convert")
                                          : refused ? QStringLiteral("would_refuse")
                                                    : QStringLiteral("would_skip"));
    if (refused) {
        object.insert(QStringLiteral("reason"), plan.reason);
        object.insert(QStringLiteral("reason_code"), plan.code);
    } else {
        insertPath(object, QStringLiteral("output"), plan.output);
    }
    emitLine(object);
}

void JsonReport::planSummary(const PlanSummary &summary)
{
    if (m_quiet)
        return;
    QJsonObject object{{QStringLiteral("state"), QStringLiteral("summary")},
                       {QStringLiteral("dry_run"), true},
                       {QStringLiteral("would_convert"), summary.convert},
                       {QStringLiteral("would_skip"), summary.skip},
                       {QStringLiteral("would_refuse"), summary.refuse}};
    insertPath(object, QStringLiteral("output_folder"), summary.outputFolder);
    emitLine(object);
}
