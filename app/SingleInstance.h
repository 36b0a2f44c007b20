#pragma once

#include <QLockFile>
#include <QObject>
#include <QStringList>

class QLocalServer;

// One window per user. The first copy holds a lock file in the runtime folder and listens on
// a local socket beside it; a later copy hands its file arguments over and exits. A lock
// left by a killed copy is taken over.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(const QString &runtimeFolder, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this is the first copy; it then starts listening for later copies.
    bool acquire();
    // From a later copy: gives the files to the first copy. True when it took them.
    bool handOff(const QStringList &files);

    // What one later copy may send: more, or longer than the timeout, and it is dropped.
    static constexpr qsizetype MaxMessageBytes = 16 * 1024 * 1024;
    static constexpr int DefaultClientTimeoutMs = 20000;
    void setClientTimeoutMs(int milliseconds) { m_clientTimeoutMs = milliseconds; }

signals:
    void filesReceived(const QStringList &files);

private:
    void readConnection();

    QString m_socketPath;
    QLockFile m_lock;
    QLocalServer *m_server = nullptr;
    int m_clientTimeoutMs = DefaultClientTimeoutMs;
};
