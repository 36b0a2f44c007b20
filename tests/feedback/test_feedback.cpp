#include "SkinPixels.h"
#include "TestHttpServer.h"
#include "feedback/frmSuggest.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QUrlQuery>
#include <QtTest>
#include <chrono>
#include <memory>

using namespace std::chrono_literals;

namespace {

const QString Sending = QStringLiteral("正在发送...");
const QString Done = QStringLiteral("完毕.");
const QString Failed = QStringLiteral("发送失败。");

// Generous bounds for an answer on a loaded machine; the cases that wait for the form's deadline
// shorten it to ShortDeadline.
constexpr int ReplyWaitMs = 25000;
constexpr std::chrono::milliseconds ShortDeadline = 1000ms;

// Counts the presses that would have started a window move, since the offscreen platform has
// no window manager to move anything.
class MoveCountingSuggest : public frmSuggest
{
public:
    int moves = 0;

protected:
    bool startSurfaceMove() override
    {
        ++moves;
        return true;
    }
};

void showActive(QWidget *dialog)
{
    dialog->show();
    QApplication::setActiveWindow(dialog);
    QVERIFY(QTest::qWaitForWindowActive(dialog));
}

void fill(frmSuggest &form, const QString &name, const QString &email, const QString &comment)
{
    form.txtName->setText(name);
    form.txtEMail->setText(email);
    form.txtComment->setText(comment);
}

// A port on 127.0.0.1 that nothing listens on.
quint16 closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QByteArray requestTarget(const QByteArray &requestLine)
{
    const QList<QByteArray> parts = requestLine.split(' ');
    return parts.size() == 3 ? parts[1] : QByteArray();
}

} // namespace

Q_DECLARE_METATYPE(TestHttpServer::Body)

class TestFeedback : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void layout_data();
    void layout();
    void openingState();
    void statusTextsFit_data();
    void statusTextsFit();
    void sendsExactRequest();
    void valuesArriveWhole_data();
    void valuesArriveWhole();
    void emptyFields_data();
    void emptyFields();
    void secondPressSendsNothing();
    void sendButtonLooksItsState();
    void failures_data();
    void failures();
    void largeReplyIsNotKept_data();
    void largeReplyIsNotKept();
    void redirects_data();
    void redirects();
    void deadlineCoversTheWholeRequest_data();
    void deadlineCoversTheWholeRequest();
    void closing_data();
    void closing();
    void dragging_data();
    void dragging();
    void screenshot();

private:
    std::unique_ptr<TestHttpServer> m_server;
};

void TestFeedback::init()
{
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->listen());
    qputenv("VIDMORPH_FEEDBACK_URL", m_server->baseUrl());
}

void TestFeedback::cleanup()
{
    m_server.reset();
    qunsetenv("VIDMORPH_FEEDBACK_URL");
}

void TestFeedback::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");

    // The designed twips divided by 15.
    QTest::newRow("Label1") << "Label1" << QRect(30, 22, 36, 14);
    QTest::newRow("txtName") << "txtName" << QRect(74, 18, 141, 21);
    QTest::newRow("Label2") << "Label2" << QRect(20, 48, 46, 14);
    QTest::newRow("txtEMail") << "txtEMail" << QRect(74, 44, 141, 21);
    QTest::newRow("Label3") << "Label3" << QRect(28, 74, 36, 14);
    QTest::newRow("txtComment") << "txtComment" << QRect(74, 70, 189, 21);
    QTest::newRow("Command3") << "Command3" << QRect(122, 98, 67, 25);
    QTest::newRow("Command4") << "Command4" << QRect(198, 98, 65, 25);
    QTest::newRow("lblSending") << "lblSending" << QRect(16, 106, 72, 14);
}

void TestFeedback::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);

    frmSuggest form;
    const QWidget *widget = form.findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(form.size(), QSize(281, 141));
    QCOMPARE(form.minimumSize(), form.maximumSize());
}

void TestFeedback::openingState()
{
    frmSuggest form;
    QCOMPARE(form.windowTitle(), QStringLiteral("建议和意见"));
    QCOMPARE(form.objectName(), QStringLiteral("frmSuggest"));
    QCOMPARE(form.Label1->text(), QStringLiteral("姓名："));
    QCOMPARE(form.Label2->text(), QStringLiteral("EMAIL："));
    QCOMPARE(form.Label3->text(), QStringLiteral("留言："));
    QCOMPARE(form.Command3->text(), QStringLiteral("发送"));
    QCOMPARE(form.Command4->text(), QStringLiteral("返回"));
    QCOMPARE(form.txtName->maxLength(), 50);
    QCOMPARE(form.txtEMail->maxLength(), 100);
    QCOMPARE(form.txtComment->maxLength(), 256);
    QCOMPARE(form.txtName->toolTip(), QStringLiteral("Your Name"));
    QCOMPARE(form.txtEMail->toolTip(), QStringLiteral("Email"));
    QCOMPARE(form.findChild<QLineEdit *>(QStringLiteral("txtName")), form.txtName);
    QCOMPARE(form.findChild<QLineEdit *>(QStringLiteral("txtEMail")), form.txtEMail);
    QCOMPARE(form.findChild<QLineEdit *>(QStringLiteral("txtComment")), form.txtComment);
    QCOMPARE(form.findChild<QLabel *>(QStringLiteral("lblSending")), form.lblSending);
    QCOMPARE(form.requestDeadline(), 15000ms);

    form.show();
    QVERIFY(form.txtName->text().isEmpty());
    QVERIFY(form.txtEMail->text().isEmpty());
    QVERIFY(form.txtComment->text().isEmpty());
    QVERIFY(!form.lblSending->isVisible());
    QVERIFY(form.Command3->isEnabled());
}

void TestFeedback::statusTextsFit_data()
{
    QTest::addColumn<QString>("text");
    for (const QString &text : {QStringLiteral("您的姓名？"), QStringLiteral("您的Email？"),
                                QStringLiteral("您的意见？"), Sending, Done, Failed})
        QTest::newRow(qPrintable(text)) << text;
}

void TestFeedback::statusTextsFit()
{
    QFETCH(QString, text);
    frmSuggest form;
    QVERIFY2(form.lblSending->fontMetrics().horizontalAdvance(text) <= form.lblSending->width(),
             qPrintable(QString::number(form.lblSending->fontMetrics().horizontalAdvance(text))));
}

void TestFeedback::sendsExactRequest()
{
    frmSuggest form;
    showActive(&form);
    QTest::keyClicks(form.txtName, QStringLiteral("Li"));
    QTest::keyClicks(form.txtEMail, QStringLiteral("E"));
    QTest::keyClicks(form.txtComment, QStringLiteral("good"));
    QTest::mouseClick(form.Command3, Qt::LeftButton);

    QCOMPARE(form.lblSending->text(), Sending);
    QVERIFY(form.lblSending->isVisible());
    QVERIFY(!form.Command3->isEnabled());

    QTRY_COMPARE_WITH_TIMEOUT(form.lblSending->text(), Done, ReplyWaitMs);
    QCOMPARE(m_server->requestLines.size(), 1);
    QCOMPARE(m_server->requestLines[0],
             QByteArray("GET /suggest/post.php?name=Li&age=E&comment=%28Vidmorph%29good HTTP/1.1"));
    // One delivered comment is enough: sending stays off until the form is closed.
    QVERIFY(!form.Command3->isEnabled());
    QVERIFY(form.txtComment->isEnabled());
}

void TestFeedback::valuesArriveWhole_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("comment");

    QTest::newRow("ampersand cannot forge a key") << "Li"
                                                  << "E"
                                                  << "a&age=forged&x=1";
    QTest::newRow("hash cannot cut the comment") << "Li"
                                                 << "E"
                                                 << "before#after";
    QTest::newRow("equals and blanks") << "Li"
                                       << "E"
                                       << "  a = b  c  ";
    QTest::newRow("chinese") << "李四"
                             << "li@例子.cn"
                             << "很好用，谢谢！";
    QTest::newRow("everything at once") << "王 & 五=#"
                                        << "a+b@c.d?x=%41"
                                        << "100% & #1 = 好; (ok) /path?q=+";
    QTest::newRow("only blanks") << " "
                                 << " "
                                 << " ";
}

void TestFeedback::valuesArriveWhole()
{
    QFETCH(QString, name);
    QFETCH(QString, email);
    QFETCH(QString, comment);

    frmSuggest form;
    showActive(&form);
    fill(form, name, email, comment);
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(form.lblSending->text(), Done, ReplyWaitMs);
    QCOMPARE(m_server->requestLines.size(), 1);

    const QByteArray target = requestTarget(m_server->requestLines[0]);
    const qsizetype question = target.indexOf('?');
    QCOMPARE(target.left(question), QByteArray("/suggest/post.php"));
    const QByteArray query = target.mid(question + 1);
    // Nothing but the three separators stands unescaped in the query.
    QCOMPARE(query.count('&'), 2);
    QCOMPARE(query.count('='), 3);
    QVERIFY(!query.contains('#'));
    QVERIFY(!query.contains(' '));
    for (const char c : query)
        QVERIFY2(uchar(c) < 0x80, query.constData());

    const QUrlQuery items(QString::fromLatin1(query));
    const QList<QPair<QString, QString>> expected = {
        {QStringLiteral("name"), name},
        {QStringLiteral("age"), email},
        {QStringLiteral("comment"), QStringLiteral("(Vidmorph)") + comment},
    };
    QCOMPARE(items.queryItems(QUrl::FullyDecoded), expected);
}

void TestFeedback::emptyFields_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("comment");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("focus");

    const QString askName = QStringLiteral("您的姓名？");
    const QString askEmail = QStringLiteral("您的Email？");
    const QString askComment = QStringLiteral("您的意见？");
    QTest::newRow("all empty") << ""
                               << ""
                               << "" << askName << "txtName";
    QTest::newRow("name empty") << ""
                                << "E"
                                << "good" << askName << "txtName";
    QTest::newRow("e-mail empty") << "Li"
                                  << ""
                                  << "good" << askEmail << "txtEMail";
    QTest::newRow("e-mail and comment empty") << "Li"
                                              << ""
                                              << "" << askEmail << "txtEMail";
    QTest::newRow("comment empty") << "Li"
                                   << "E"
                                   << "" << askComment << "txtComment";
    QTest::newRow("blank name, empty comment") << " "
                                               << "E"
                                               << "" << askComment << "txtComment";
}

void TestFeedback::emptyFields()
{
    QFETCH(QString, name);
    QFETCH(QString, email);
    QFETCH(QString, comment);
    QFETCH(QString, status);
    QFETCH(QString, focus);

    frmSuggest form;
    showActive(&form);
    fill(form, name, email, comment);
    QTest::mouseClick(form.Command3, Qt::LeftButton);

    QCOMPARE(form.lblSending->text(), status);
    QVERIFY(form.lblSending->isVisible());
    QVERIFY(QApplication::focusWidget());
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
    QVERIFY(form.Command3->isEnabled());

    // Filling in the rest and sending delivers exactly one request, the complete one: the
    // refused press sent nothing.
    fill(form, QStringLiteral("Li"), QStringLiteral("E"), QStringLiteral("good"));
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(form.lblSending->text(), Done, ReplyWaitMs);
    QCOMPARE(m_server->requestLines.size(), 1);
    QCOMPARE(requestTarget(m_server->requestLines[0]),
             QByteArray("/suggest/post.php?name=Li&age=E&comment=%28Vidmorph%29good"));
}

void TestFeedback::secondPressSendsNothing()
{
    m_server->holdAnswers = true;
    frmSuggest form;
    showActive(&form);
    fill(form, QStringLiteral("Li"), QStringLiteral("E"), QStringLiteral("first"));
    QSignalSpy received(m_server.get(), &TestHttpServer::requestReceived);
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    QVERIFY(received.wait(ReplyWaitMs));

    // The request is under way: every way of pressing send again does nothing.
    form.txtComment->setText(QStringLiteral("second"));
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    form.imgSend_Click();
    form.Command1_Click();
    QCOMPARE(form.lblSending->text(), Sending);
    QVERIFY(!form.Command3->isEnabled());

    m_server->answerHeld();
    QTRY_COMPARE_WITH_TIMEOUT(form.lblSending->text(), Done, ReplyWaitMs);
    form.Command1_Click();
    QCOMPARE(form.lblSending->text(), Done);

    // Let anything wrongly sent reach the server before counting.
    QSignalSpy late(m_server.get(), &TestHttpServer::requestReceived);
    QVERIFY(!late.wait(500));
    QCOMPARE(m_server->requestLines.size(), 1);
    QVERIFY(requestTarget(m_server->requestLines[0]).endsWith("%28Vidmorph%29first"));
}

// With the program's skin: the send button looks like the form's other button, not like the
// main window's start button of the same name, and looks off while it is off.
void TestFeedback::sendButtonLooksItsState()
{
    QVERIFY(SkinPixels::applyShippedSkin());
    frmSuggest form;
    showActive(&form);
    const QImage on = form.Command3->grab().toImage();
    const QImage back = form.Command4->grab().toImage();
    const QRect inside = on.rect().adjusted(3, 3, -3, -3);
    const QColor startBlue(0x2a, 0x65, 0xb3);
    const double blue = SkinPixels::shareOf(on, inside, startBlue, 40);
    // Dark text on a light face, as the back button has.
    const int darkOn = SkinPixels::countUnlike(on, inside, Qt::white, 180);
    const int darkBack = SkinPixels::countUnlike(back, inside, Qt::white, 180);
    fill(form, QStringLiteral("Li"), QStringLiteral("E"), QStringLiteral("good"));
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    QVERIFY(!form.Command3->isEnabled());
    const QImage off = form.Command3->grab().toImage();
    const int darkOff = SkinPixels::countUnlike(off, inside, Qt::white, 180);
    // The whole form while it sends, to be looked at.
    QVERIFY(QDir().mkpath(QStringLiteral(VIDMORPH_SCREENSHOT_DIR)));
    QVERIFY(form.grab().save(QStringLiteral(VIDMORPH_SCREENSHOT_DIR "/feedback-sending.png")));
    qApp->setStyleSheet(QString());
    QVERIFY2(blue < 0.05, qPrintable(QString::number(blue)));
    QVERIFY2(darkOn > 10 && darkBack > 10,
             qPrintable(QStringLiteral("%1 %2").arg(darkOn).arg(darkBack)));
    // Greyed text: none of it as dark as an enabled button's.
    QVERIFY2(darkOff == 0, qPrintable(QString::number(darkOff)));
    QVERIFY(off != on);
}

void TestFeedback::failures_data()
{
    QTest::addColumn<QString>("kind");

    QTest::newRow("server error 500") << "500";
    QTest::newRow("not found 404") << "404";
    QTest::newRow("no server listening") << "closed";
    QTest::newRow("silent server times out") << "silent";
    QTest::newRow("unusable address") << "garbage";
}

void TestFeedback::failures()
{
    QFETCH(QString, kind);

    if (kind == QLatin1String("500") || kind == QLatin1String("404")) {
        m_server->status = kind.toInt();
    } else if (kind == QLatin1String("closed")) {
        const quint16 port = closedPort();
        QVERIFY(port != 0);
        qputenv("VIDMORPH_FEEDBACK_URL", "http://127.0.0.1:" + QByteArray::number(port));
    } else if (kind == QLatin1String("silent")) {
        m_server->holdAnswers = true;
    } else {
        qputenv("VIDMORPH_FEEDBACK_URL", "http//:no host here");
    }

    // Only the silent server makes the form wait, and then for its whole deadline; the others
    // fail on their own well before a deadline that is long for a loaded machine.
    const bool silent = kind == QLatin1String("silent");
    const std::chrono::milliseconds deadline = silent ? ShortDeadline : 10 * ShortDeadline;
    frmSuggest form;
    form.setRequestDeadline(deadline);
    showActive(&form);
    fill(form, QStringLiteral("Li"), QStringLiteral("E"), QStringLiteral("good"));
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form.Command3->isEnabled(), ReplyWaitMs);
    QCOMPARE(form.lblSending->text(), Failed);
    QVERIFY2(silent == (clock.elapsed() >= deadline.count()),
             qPrintable(QString::number(clock.elapsed())));
    QVERIFY(form.lblSending->isVisible());
    if (kind == QLatin1String("500") || kind == QLatin1String("404") ||
        kind == QLatin1String("silent"))
        QCOMPARE(m_server->requestLines.size(), 1);

    // Sending again after the failure reaches a working server.
    TestHttpServer working;
    QVERIFY(working.listen());
    qputenv("VIDMORPH_FEEDBACK_URL", working.baseUrl());
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    QCOMPARE(form.lblSending->text(), Sending);
    QTRY_COMPARE_WITH_TIMEOUT(form.lblSending->text(), Done, ReplyWaitMs);
    QCOMPARE(working.requestLines.size(), 1);
}

void TestFeedback::largeReplyIsNotKept_data()
{
    QTest::addColumn<TestHttpServer::Body>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("shown");

    // 64 MiB rather than endless: a client that keeps the whole body then fails here instead of
    // eating the machine's memory.
    QTest::newRow("64 MiB with a length") << TestHttpServer::Body::Sized << 200 << Done;
    QTest::newRow("64 MiB in chunks") << TestHttpServer::Body::Chunked << 200 << Done;
    QTest::newRow("64 MiB until the server closes")
        << TestHttpServer::Body::UntilClose << 200 << Done;
    QTest::newRow("64 MiB error page") << TestHttpServer::Body::Sized << 500 << Failed;
}

void TestFeedback::largeReplyIsNotKept()
{
    QFETCH(TestHttpServer::Body, body);
    QFETCH(int, status);
    QFETCH(QString, shown);

    constexpr qint64 Sent = 64 * 1024 * 1024;
    m_server->body = body;
    m_server->bodyBytes = Sent;
    m_server->status = status;
    // A small send buffer on the server's side, so that what it counts as sent is what the
    // client took, give or take the client's own receive buffer.
    m_server->sendBufferBytes = 16 * 1024;
    QSignalSpy ended(m_server.get(), &TestHttpServer::connectionEnded);

    frmSuggest form;
    showActive(&form);
    fill(form, QStringLiteral("Li"), QStringLiteral("E"), QStringLiteral("good"));
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(form.lblSending->text(), shown, ReplyWaitMs);
    QCOMPARE(form.Command3->isEnabled(), shown == Failed);
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, ReplyWaitMs);

    // The client hung up long before the end: it read at most its 64 KiB, and the system had
    // queued some more for it (about 110 KiB went in all when this was written), never the page.
    const QString figures =
        QStringLiteral("sent %1, left %2").arg(m_server->bytesSent).arg(m_server->bytesUnsent);
    QVERIFY2(m_server->bytesSent < 1024 * 1024, qPrintable(figures));
    QVERIFY2(m_server->bytesUnsent > Sent - 1024 * 1024, qPrintable(figures));
}

void TestFeedback::redirects_data()
{
    QTest::addColumn<QByteArray>("location"); // %A: this server's port, %B: the other server's
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("requestsHere");

    // The same scheme, host and port is our server; anything else, even another port of
    // 127.0.0.1, may be another program and is not followed.
    QTest::newRow("path on the same server") << QByteArray("/suggest/thanks.php") << Done << 2;
    QTest::newRow("full address of the same server")
        << QByteArray("http://127.0.0.1:%A/thanks") << Done << 2;
    QTest::newRow("another port of the same address")
        << QByteArray("http://127.0.0.1:%B/suggest/post.php") << Failed << 1;
    QTest::newRow("another host name") << QByteArray("http://localhost:%A/thanks") << Failed << 1;
    QTest::newRow("https on the same host and port")
        << QByteArray("https://127.0.0.1:%A/thanks") << Failed << 1;
    // Each hop stays on the server, but the loop never ends in an answer.
    QTest::newRow("endless loop on the same server")
        << QByteArray("/suggest/post.php?again") << Failed << -1;
}

void TestFeedback::redirects()
{
    QFETCH(QByteArray, location);
    QFETCH(QString, shown);
    QFETCH(int, requestsHere);

    TestHttpServer elsewhere;
    QVERIFY(elsewhere.listen());
    location.replace("%A", QByteArray::number(m_server->port()));
    location.replace("%B", QByteArray::number(elsewhere.port()));
    m_server->location = location;

    frmSuggest form;
    showActive(&form);
    fill(form, QStringLiteral("Li"), QStringLiteral("E"), QStringLiteral("good"));
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(form.lblSending->text(), shown, ReplyWaitMs);
    QCOMPARE(form.Command3->isEnabled(), shown == Failed);

    // Give a wrongly followed redirect time to arrive before counting.
    QTest::qWait(300);
    if (requestsHere >= 0) {
        QCOMPARE(m_server->requestLines.size(), requestsHere);
        QCOMPARE(m_server->connections, requestsHere);
    } else {
        QVERIFY(m_server->requestLines.size() > 2);
    }
    QVERIFY(m_server->requestLines.first().startsWith("GET /suggest/post.php?name=Li&"));
    if (shown == Done)
        QCOMPARE(requestTarget(m_server->requestLines.last()),
                 location.startsWith('/') ? location : QByteArray("/thanks"));
    QCOMPARE(elsewhere.connections, 0);
}

void TestFeedback::deadlineCoversTheWholeRequest_data()
{
    QTest::addColumn<int>("trickleMs");
    QTest::addColumn<int>("deadlineMs");
    QTest::addColumn<QString>("shown");

    // The answer is 87 bytes: at one byte each 100 ms it would take 8.7 s, and the server is
    // never silent long enough for a time-out that counts only silence.
    QTest::newRow("trickling past the deadline") << 100 << 1000 << Failed;
    QTest::newRow("slow but within the deadline") << 5 << 5000 << Done;
}

void TestFeedback::deadlineCoversTheWholeRequest()
{
    QFETCH(int, trickleMs);
    QFETCH(int, deadlineMs);
    QFETCH(QString, shown);

    m_server->trickleMs = trickleMs;
    QSignalSpy ended(m_server.get(), &TestHttpServer::connectionEnded);
    frmSuggest form;
    form.setRequestDeadline(std::chrono::milliseconds(deadlineMs));
    showActive(&form);
    fill(form, QStringLiteral("Li"), QStringLiteral("E"), QStringLiteral("good"));
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(form.Command3, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(form.lblSending->text(), shown, ReplyWaitMs);
    const qint64 elapsed = clock.elapsed();
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, ReplyWaitMs);
    if (shown == Failed) {
        QVERIFY2(elapsed >= deadlineMs && elapsed < deadlineMs + 1500,
                 qPrintable(QString::number(elapsed)));
        QVERIFY(m_server->bytesUnsent > 0);
        QVERIFY(m_server->bytesSent > 0);
    } else {
        QVERIFY2(elapsed < deadlineMs, qPrintable(QString::number(elapsed)));
        QCOMPARE(m_server->bytesUnsent, 0);
    }
}

void TestFeedback::closing_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("sending");

    QTest::newRow("back button") << "Command4" << false;
    QTest::newRow("window close") << "close" << false;
    QTest::newRow("escape key") << "escape" << false;
    QTest::newRow("back button while sending") << "Command4" << true;
}

void TestFeedback::closing()
{
    QFETCH(QString, how);
    QFETCH(bool, sending);

    m_server->holdAnswers = true;
    {
        frmSuggest form;
        QSignalSpy rejected(&form, &QDialog::rejected);
        showActive(&form);
        fill(form, QStringLiteral("Li"), QStringLiteral("E"),
             sending ? QStringLiteral("good") : QString());
        QTest::mouseClick(form.Command3, Qt::LeftButton);
        if (sending) {
            QSignalSpy received(m_server.get(), &TestHttpServer::requestReceived);
            QVERIFY(received.wait(ReplyWaitMs));
        }

        if (how == QLatin1String("Command4"))
            QTest::mouseClick(form.Command4, Qt::LeftButton);
        else if (how == QLatin1String("close"))
            QVERIFY(form.close());
        else
            QTest::keyClick(&form, Qt::Key_Escape);
        QCOMPARE(rejected.count(), 1);
        QVERIFY(!form.isVisible());
        // The form goes away here, with its request still unanswered when one was sent.
    }
    m_server->answerHeld();

    frmSuggest reopened;
    reopened.show();
    QVERIFY(reopened.txtName->text().isEmpty());
    QVERIFY(reopened.txtEMail->text().isEmpty());
    QVERIFY(reopened.txtComment->text().isEmpty());
    QVERIFY(!reopened.lblSending->isVisible());
    QVERIFY(reopened.Command3->isEnabled());
}

void TestFeedback::dragging_data()
{
    QTest::addColumn<QString>("target"); // a control's name, or empty for the free surface
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<int>("moves");

    QTest::newRow("left on the surface") << QString() << Qt::LeftButton << 1;
    QTest::newRow("right on the surface") << QString() << Qt::RightButton << 0;
    QTest::newRow("left on a label") << "Label2" << Qt::LeftButton << 0;
    QTest::newRow("left on a text box") << "txtComment" << Qt::LeftButton << 0;
    QTest::newRow("left on the send button") << "Command3" << Qt::LeftButton << 0;
}

void TestFeedback::dragging()
{
    QFETCH(QString, target);
    QFETCH(Qt::MouseButton, button);
    QFETCH(int, moves);

    MoveCountingSuggest form;
    showActive(&form);
    QWidget *widget = &form;
    QPoint point(4, 4);
    if (target.isEmpty()) {
        QVERIFY(!form.childAt(point));
    } else {
        widget = form.findChild<QWidget *>(target);
        QVERIFY(widget);
        point = widget->rect().center();
    }
    QTest::mousePress(widget, button, {}, point);
    QTest::mouseRelease(widget, button, {}, point);
    QCOMPARE(form.moves, moves);
    QVERIFY(form.isVisible());
}

void TestFeedback::screenshot()
{
    frmSuggest form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(QDir().mkpath(QStringLiteral(VIDMORPH_SCREENSHOT_DIR)));
    const QString path = QStringLiteral(VIDMORPH_SCREENSHOT_DIR "/feedback.png");
    QFile::remove(path);
    const QPixmap picture = form.grab();
    QCOMPARE(picture.size() / picture.devicePixelRatio(), form.size());
    QVERIFY(picture.save(path));
    QVERIFY(QFileInfo(path).size() > 0);
}

QTEST_MAIN(TestFeedback)
#include "test_feedback.moc"
