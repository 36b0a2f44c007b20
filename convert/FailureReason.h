#pragma once

#include <QString>
#include <QStringList>

// Why a tool run failed, in words a user understands, from how it ended and what it printed.
namespace FailureReason {

// The last non-empty lines of a tool's output (progress updates ended by CR count as lines).
QString lastLines(const QString &output, int count = 3);

QString describe(const QString &toolOutput, int exitCode, bool crashed, bool outputMissing);

// Why a tool could not be started at all, from the system's words for it (RunResult's
// startError): its name, and what the system ran short of when it says so.
QString notStarted(const QString &toolName, const QString &systemText);
// The stable code of a reason, for scripts: "not-media", "no-audio", "disk-full" … ("failed"
// for a reason of no known kind). Each code stands beside its reason in one table.
QString code(const QString &reason);
// Every code there is.
QStringList codes();
// The reason given for a tool's error or a system cause of that code; empty for others.
QString reasonFor(const QString &code);

} // namespace FailureReason
