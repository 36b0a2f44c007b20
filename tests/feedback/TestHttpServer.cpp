#include "TestHttpServer.h"

#include <QHostAddress>
#include <QTimer>
#include <algorithm>

namespace {

// Large bodies are made and handed to the socket in pieces of this size, each when the
// previous one has gone, so the server itself never holds much.
constexpr qint64 Piece = 16 * 1024;

} // namespace

// What is left to write on one connection.
struct TestHttpServer::Answer
{
    QByteArray ready;  // bytes made and not yet handed to the socket
    qint64 bodyLeft{}; // body bytes still to be made
    TestHttpServer::Body body{};
    bool ended = false;

    // Makes the next piece of the body when the previous one is handed over.
    void makeMore()
    {
        if (!ready.isEmpty() || bodyLeft == 0)
            return;
        if (body == TestHttpServer::Body::Short) {
            ready = "ok";
            bodyLeft = 0;
            return;
        }
        const qint64 size = std::min(Piece, bodyLeft);
        const QByteArray data(size, 'x');
        bodyLeft -= size;
        if (body != TestHttpServer::Body::Chunked) {
            ready = data;
            return;
        }
        ready = QByteArray::number(size, 16) + "\r\n" + data + "\r\n";
        if (bodyLeft == 0)
            ready += "0\r\n\r\n";
    }
};

TestHttpServer::TestHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TestHttpServer::acceptConnections);
}

TestHttpServer::~TestHttpServer()
{
    // The connections die with m_server, after the members their handlers use.
    for (QTcpSocket *socket : m_server.findChildren<QTcpSocket *>())
        socket->disconnect(this);
}

bool TestHttpServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QByteArray TestHttpServer::baseUrl() const
{
    return "http://127.0.0.1:" + QByteArray::number(port());
}

void TestHttpServer::answerHeld()
{
    const QList<QPointer<QTcpSocket>> held = m_held;
    m_held.clear();
    for (const QPointer<QTcpSocket> &socket : held) {
        if (socket)
            answer(socket, socket->property("target").toByteArray());
    }
}

void TestHttpServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        ++connections;
        if (sendBufferBytes > 0)
            socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, sendBufferBytes);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_answers.remove(socket); });
    }
}

void TestHttpServer::readRequest(QTcpSocket *socket)
{
    // A GET has no body: the request is complete at its blank line. Bytes stay in the socket
    // until then, so a request split over several reads is read whole.
    const QByteArray pending = socket->peek(socket->bytesAvailable());
    const qsizetype end = pending.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    socket->read(end + 4);
    const QByteArray line = pending.left(pending.indexOf("\r\n"));
    requestLines.append(line);
    const QList<QByteArray> parts = line.split(' ');
    const QByteArray target = parts.size() == 3 ? parts[1] : QByteArray();
    emit requestReceived();
    if (holdAnswers) {
        socket->setProperty("target", target);
        m_held.append(socket);
    } else {
        answer(socket, target);
    }
}

void TestHttpServer::answer(QTcpSocket *socket, const QByteArray &target)
{
    const bool redirect = !location.isEmpty() && target.startsWith("/suggest/post.php");
    auto state = std::make_shared<Answer>();
    state->body = redirect ? Body::Short : body;
    state->bodyLeft = state->body == Body::Short ? 2 : bodyBytes;

    state->ready = "HTTP/1.1 " + QByteArray::number(redirect ? 302 : status) + " Test\r\n";
    if (redirect)
        state->ready += "Location: " + location + "\r\n";
    state->ready += "Content-Type: text/plain\r\n";
    if (state->body == Body::Short || state->body == Body::Sized)
        state->ready += "Content-Length: " + QByteArray::number(state->bodyLeft) + "\r\n";
    else if (state->body == Body::Chunked)
        state->ready += "Transfer-Encoding: chunked\r\n";
    state->ready += "Connection: close\r\n\r\n";
    m_answers.insert(socket, state);

    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket](qint64 written) {
        bytesSent += written;
        if (trickleMs <= 0)
            writeMore(socket);
    });
    // The client going away mid-answer: note what it never took and write no more.
    auto clientGone = [this, socket, state] {
        if (state->ended)
            return;
        state->ended = true;
        bytesUnsent = state->ready.size() + state->bodyLeft + socket->bytesToWrite();
        emit connectionEnded();
    };
    connect(socket, &QTcpSocket::disconnected, this, clientGone);
    connect(socket, &QTcpSocket::errorOccurred, this, clientGone);

    if (trickleMs > 0) {
        auto *timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, this, [this, socket] { trickle(socket); });
        timer->start(trickleMs);
        return;
    }
    writeMore(socket);
}

void TestHttpServer::writeMore(QTcpSocket *socket)
{
    const std::shared_ptr<Answer> state = m_answers.value(socket);
    if (!state || state->ended)
        return;
    while (socket->bytesToWrite() < Piece) {
        state->makeMore();
        if (state->ready.isEmpty())
            break;
        socket->write(state->ready);
        state->ready.clear();
    }
    if (state->ready.isEmpty() && state->bodyLeft == 0 && socket->bytesToWrite() == 0)
        finish(socket);
}

void TestHttpServer::trickle(QTcpSocket *socket)
{
    const std::shared_ptr<Answer> state = m_answers.value(socket);
    if (!state || state->ended)
        return;
    state->makeMore();
    if (state->ready.isEmpty()) {
        finish(socket);
        return;
    }
    socket->write(state->ready.left(1));
    state->ready.remove(0, 1);
}

void TestHttpServer::finish(QTcpSocket *socket)
{
    const std::shared_ptr<Answer> state = m_answers.value(socket);
    state->ended = true;
    bytesUnsent = 0;
    socket->disconnectFromHost();
    emit connectionEnded();
}
