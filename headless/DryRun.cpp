#include "headless/DryRun.h"

#include "convert/CommandBuilder.h"
#include "convert/FailureReason.h"
#include "convert/Formats.h"
#include "process/NativePath.h"

#include <QTime>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether the folder is there and writable, or could be made: its nearest existing parent is
// a folder that can be written.
bool canWriteInto(QByteArray folder)
{
    while (!folder.isEmpty()) {
        struct stat status = {};
        if (::stat(folder.constData(), &status) == 0)
            return S_ISDIR(status.st_mode) && ::access(folder.constData(), W_OK | X_OK) == 0;
        folder.truncate(qMax<qsizetype>(0, folder.lastIndexOf('/', folder.size() - 2)));
    }
    return false;
}

} // namespace

DryRun::Plan DryRun::refusal(const QString &code)
{
    Plan plan;
    plan.action = Plan::Action::Refuse;
    plan.code = code;
    plan.reason = FailureReason::reasonFor(code);
    return plan;
}

DryRun::Plan DryRun::planFor(const QString &inputPath)
{
    const QByteArray input = NativePath::encode(inputPath);
    struct stat status = {};
    if (::stat(input.constData(), &status) != 0)
        return refusal(QStringLiteral("input-missing"));
    if (!S_ISREG(status.st_mode))
        return refusal(QStringLiteral("input-not-file"));
    if (::access(input.constData(), R_OK) != 0)
        return refusal(QStringLiteral("permission-denied"));
    const QString extension = Formats::extension(m_format);
    Plan plan;
    // An output another input of this run writes is no reason to skip, as in the batch.
    const QString own = CommandBuilder::MakePlainOutputPath(m_naming.folderFor(inputPath),
                                                            inputPath, extension, {});
    if (m_skipExisting && !m_ownNames.contains(own)) {
        plan.output = m_naming.existingOutput(inputPath, extension);
        if (!plan.output.isEmpty() && !m_givenBack.contains(plan.output)) {
            plan.action = Plan::Action::Skip;
            return plan;
        }
        m_ownNames.insert(own);
    }
    if (!canWriteInto(NativePath::encode(m_naming.folderFor(inputPath))))
        return refusal(QStringLiteral("output-unwritable"));
    plan.output =
        m_naming.pathFor(inputPath, extension, QTime::currentTime(), [this](const QString &path) {
            return m_planned.contains(path) ||
                   (NativePath::exists(path) && !m_givenBack.contains(path));
        });
    m_planned.insert(plan.output);
    return plan;
}
