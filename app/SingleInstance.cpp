#include "app/SingleInstance.h"

#include "process/NativePath.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <memory>

namespace {

// A first copy still starting up (or busy loading a large folder) answers within this time.
constexpr int HandOffTimeoutMs = 15000;
// The length line before the files: a decimal number and its line break.
constexpr qsizetype HeaderBytes = 20;

} // namespace

SingleInstance::SingleInstance(const QString &runtimeFolder, QObject *parent)
    : QObject(parent), m_socketPath(runtimeFolder + QStringLiteral("/vidmorph.socket")),
      m_lock(runtimeFolder + QStringLiteral("/vidmorph.lock"))
{
    QDir().mkpath(runtimeFolder);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire()
{
    if (!m_lock.tryLock(0))
        return false;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(m_socketPath);
    m_server->listen(m_socketPath);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::readConnection);
    return true;
}

bool SingleInstance::handOff(const QStringList &files)
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(HandOffTimeoutMs))
        return false;
    QByteArray message;
    for (const QString &file : files)
        message += NativePath::encode(file) + '\0';
    socket.write(QByteArray::number(message.size()) + '\n' + message);
    if (!socket.waitForBytesWritten(HandOffTimeoutMs))
        return false;
    // The first copy answers once it has the files, so the caller can trust its exit status.
    return socket.waitForReadyRead(HandOffTimeoutMs) && socket.readAll() == "ok";
}

void SingleInstance::readConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A client that stalls, or sends more than any list of files needs, is dropped.
        auto *timeout = new QTimer(socket);
        timeout->setSingleShot(true);
        connect(timeout, &QTimer::timeout, socket, &QLocalSocket::abort);
        timeout->start(m_clientTimeoutMs);
        socket->setReadBufferSize(64 * 1024);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket, buffer] {
            *buffer += socket->read(MaxMessageBytes + HeaderBytes - buffer->size() + 1);
            const qsizetype newline = buffer->indexOf('\n');
            if (newline < 0) {
                if (buffer->size() > HeaderBytes)
                    socket->abort();
                return;
            }
            bool ok = false;
            const qsizetype size = buffer->left(newline).toLongLong(&ok);
            if (!ok || size < 0 || size > MaxMessageBytes || buffer->size() - newline - 1 > size) {
                socket->abort();
                return;
            }
            if (buffer->size() - newline - 1 < size)
                return;
            QStringList files;
            for (const QByteArray &file : buffer->mid(newline + 1, size).split('\0'))
                if (!file.isEmpty())
                    files.append(NativePath::decode(file));
            buffer->clear();
            socket->write("ok");
            socket->flush();
            emit filesReceived(files);
        });
    }
}
