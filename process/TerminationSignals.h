#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT, SIGTERM, SIGHUP and the other signals that would end the program outright (SIGQUIT,
// SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU) as a Qt signal. The handler only writes the signal's number
// into a pipe (the one thing a handler may safely do); the event loop reads it and emits
// received(), so stopping a batch runs as ordinary code.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // False when the pipe or a handler could not be set up.
    bool install();

signals:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};
