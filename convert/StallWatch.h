#pragma once

#include "convert/CommandBuilder.h"

#include <QObject>
#include <QStringView>
#include <QTimer>

// Whether a running tool gets anywhere. The position its progress lines carry ("Pos: 12.3s"
// from conv, "time=12.34" from coder and coder2) must move on within the stall period; lines
// that only repeat a position, however many, do not count. So an encoder that spins in place,
// burning the processor, is found as surely as one that went silent.
class StallWatch : public QObject
{
    Q_OBJECT
public:
    explicit StallWatch(QObject *parent = nullptr);

    void setTimeout(int milliseconds) { m_timer.setInterval(milliseconds); }
    int timeout() const { return m_timer.interval(); }

    // A run starts: it has the whole period to show its first position.
    void start();
    void stop() { m_timer.stop(); }
    // A chunk of what the running tool printed.
    void observe(CommandBuilder::Runner runner, QStringView chunk);

signals:
    void stalled();

private:
    QTimer m_timer;
    double m_position = 0;
};
