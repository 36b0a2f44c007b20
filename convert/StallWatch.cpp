#include "convert/StallWatch.h"

#include <QRegularExpression>

StallWatch::StallWatch(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &StallWatch::stalled);
}

void StallWatch::start()
{
    m_position = 0;
    m_timer.start();
}

void StallWatch::observe(CommandBuilder::Runner runner, QStringView chunk)
{
    if (!m_timer.isActive())
        return;
    static const QRegularExpression stageOne(QStringLiteral("Pos: *([0-9]+(\\.[0-9]+)?)s"));
    static const QRegularExpression stageTwo(QStringLiteral("time=([0-9]+(\\.[0-9]+)?)"));
    const QRegularExpression &pattern = runner == CommandBuilder::Runner::DOS ? stageOne : stageTwo;
    for (auto match = pattern.globalMatch(chunk); match.hasNext();) {
        const double position = match.next().captured(1).toDouble();
        if (position > m_position)
            m_timer.start();
        // A run that starts over (coder does, with a smaller picture) is measured from there.
        m_position = position;
    }
}
