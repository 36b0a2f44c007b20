#include "TestHttpServer.h"

#include <QHostAddress>

TestHttpServer::TestHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TestHttpServer::acceptConnections);
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
            answer(socket);
    }
}

void TestHttpServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
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
    requestLines.append(pending.left(pending.indexOf("\r\n")));
    emit requestReceived();
    if (holdAnswers)
        m_held.append(socket);
    else
        answer(socket);
}

void TestHttpServer::answer(QTcpSocket *socket)
{
    const QByteArray body = "ok";
    socket->write("HTTP/1.1 " + QByteArray::number(status) + " Test\r\n" +
                  "Content-Type: text/plain\r\n" + "Content-Length: " +
                  QByteArray::number(body.size()) + "\r\n" + "Connection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}
