#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A small HTTP/1.1 server on 127.0.0.1 for the feedback tests: it keeps the request line of
// every request it receives and answers each with a chosen status, or holds the answer back
// until told to send it (or forever, to let the client time out).
class TestHttpServer : public QObject
{
    Q_OBJECT

public:
    explicit TestHttpServer(QObject *parent = nullptr);

    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    QByteArray baseUrl() const;

    // The status line's code for the next answers, e.g. 200 or 500.
    int status = 200;
    // When set, requests are recorded but not answered until answerHeld() runs.
    bool holdAnswers = false;

    // Answers every request held so far with the current status.
    void answerHeld();

    // Request lines as received, e.g. "GET /suggest/post.php?name=Li HTTP/1.1".
    QList<QByteArray> requestLines;

signals:
    void requestReceived();

private:
    void acceptConnections();
    void readRequest(QTcpSocket *socket);
    void answer(QTcpSocket *socket);

    QTcpServer m_server;
    QList<QPointer<QTcpSocket>> m_held;
};
