#pragma once

#include <QHash>
#include <QObject>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QStringList>
#include <deque>

class QTimer;

// Finds the lengths of media files with ffprobe, one file at a time in the background, so the
// batch can tell how much work lies ahead without ever making the window wait.
class DurationProbe : public QObject
{
    Q_OBJECT
public:
    explicit DurationProbe(QObject *parent = nullptr);
    ~DurationProbe() override;

    void setProgram(const QString &program) { m_program = program; }
    // How long one file may take before it counts as one that hangs ffprobe.
    void setTimeout(int milliseconds);

    // Queues the files not probed yet; each answer arrives later, as `probed`.
    void probe(const QStringList &paths);
    // Drops the queue and ends the running probe; the lengths found so far are kept.
    void cancel();
    // Forgets the lengths found, for files may have changed since.
    void forget();
    bool isIdle() const { return !m_process && m_waiting.empty(); }

signals:
    // seconds is 0 when the length cannot be read.
    void probed(const QString &path, double seconds);

private:
    void startNext();
    void processEnded();
    void answer(const QString &path, double seconds);

    QString m_program = QStringLiteral("ffprobe");
    std::deque<QString> m_waiting;
    QSet<QString> m_asked; // waiting, running or answered
    QHash<QString, double> m_lengths;
    QProcess *m_process = nullptr;
    QString m_current;
    QTimer *m_timeout;
};
