#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

// A small HTTP/1.1 server on 127.0.0.1 for the feedback tests: it keeps the request line of
// every request it receives and answers each with a chosen status, or holds the answer back
// until told to send it (or forever, to let the client time out). It can also answer with a
// redirect, with a body far too large to keep, or one byte at a time.
class TestHttpServer : public QObject
{
    Q_OBJECT

public:
    enum class Body {
        Short,      // "ok" with its length
        Sized,      // bodyBytes with a Content-Length
        Chunked,    // chunked, bodyBytes in all before the last chunk
        UntilClose, // no length: the body ends when the server closes, after bodyBytes
    };

    explicit TestHttpServer(QObject *parent = nullptr);
    ~TestHttpServer() override;

    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    QByteArray baseUrl() const;

    // The status line's code for the next answers, e.g. 200 or 500.
    int status = 200;
    // When set, requests are recorded but not answered until answerHeld() runs.
    bool holdAnswers = false;
    // When set, a request for the feedback script is answered with 302 and this Location;
    // requests for any other path get `status`.
    QByteArray location;
    Body body = Body::Short;
    qint64 bodyBytes = 0;
    // When above 0, the answer is written one byte each this many milliseconds.
    int trickleMs = 0;
    // When above 0, the system's send buffer of each connection, so that what the server
    // counts as sent is close to what the client has taken.
    int sendBufferBytes = 0;

    // Answers every request held so far with the current status.
    void answerHeld();

    // Request lines as received, e.g. "GET /suggest/post.php?name=Li HTTP/1.1".
    QList<QByteArray> requestLines;
    // Connections accepted, whether or not a request was read from them.
    int connections = 0;
    // Bytes of answers that the system took from the server (sent, or queued to be sent).
    qint64 bytesSent = 0;
    // Bytes of answers not yet handed over when the client went away; 0 after a whole answer.
    qint64 bytesUnsent = 0;

signals:
    void requestReceived();
    // The client closed a connection, or the server finished writing an answer on it.
    void connectionEnded();

private:
    struct Answer;
    void acceptConnections();
    void readRequest(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QByteArray &target);
    void writeMore(QTcpSocket *socket);
    void trickle(QTcpSocket *socket);
    void finish(QTcpSocket *socket);

    QTcpServer m_server;
    QList<QPointer<QTcpSocket>> m_held;
    QHash<QTcpSocket *, std::shared_ptr<Answer>> m_answers;
};
