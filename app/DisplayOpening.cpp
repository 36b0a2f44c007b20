#include "app/DisplayOpening.h"

#include <QByteArray>
#include <QList>

#include <cstdio>
#include <cstdlib>

namespace {

struct Held
{
    QtMsgType type;
    QByteArray category;
    QString message;
};

// A message handler is a plain function, so what it needs lives here while one is open.
QtMessageHandler previous = nullptr;
QByteArray failure;
QList<Held> held;

} // namespace

DisplayOpening::DisplayOpening(const QString &failureLine)
{
    failure = failureLine.toLocal8Bit();
    held.clear();
    previous = qInstallMessageHandler(&DisplayOpening::handle);
}

DisplayOpening::~DisplayOpening()
{
    qInstallMessageHandler(previous);
    for (const Held &message : std::as_const(held)) {
        const QMessageLogContext context(nullptr, 0, nullptr, message.category.constData());
        qt_message_output(message.type, context, message.message);
    }
    held.clear();
}

void DisplayOpening::handle(QtMsgType type, const QMessageLogContext &context,
                            const QString &message)
{
    if (type == QtFatalMsg) {
        std::fputs(failure.constData(), stderr);
        std::fflush(stderr);
        std::_Exit(FailureExitCode);
    }
    held.append({type, QByteArray(context.category ? context.category : "default"), message});
}
