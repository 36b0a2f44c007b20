#include "feedback/frmSuggest.h"

#include "dialogs/SurfaceDrag.h"
#include "dialogs/Twips.h"

#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QWindow>

namespace {

// Each value is percent-encoded as UTF-8, so an "&", "#" or "=" typed by the user stays part
// of its value and can neither cut it short nor add a parameter of its own.
QByteArray queryValue(const QString &text)
{
    return QUrl::toPercentEncoding(text);
}

// Scheme, host and port together name one server, as they name one origin for a browser: another
// port of the same machine may be another program, and a captive portal or a parked domain
// answers a redirect elsewhere with a 200 that says nothing about our comment.
bool sameServer(const QUrl &a, const QUrl &b)
{
    const int defaultPort = a.scheme() == QLatin1String("https") ? 443 : 80;
    return a.scheme() == b.scheme() && a.host() == b.host() &&
           a.port(defaultPort) == b.port(defaultPort);
}

bool isSuccess(const QNetworkReply *reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 200 && status < 300;
}

} // namespace

frmSuggest::frmSuggest(QWidget *parent)
    : QDialog(parent), m_network(new QNetworkAccessManager(this)), m_deadline(new QTimer(this))
{
    setObjectName(QStringLiteral("frmSuggest"));
    setWindowTitle(QStringLiteral("建议和意见"));
    setFont(Twips::designFont(font()));
    setFixedSize(Twips::rect(0, 0, 4215, 2115).size());

    Label1 = new QLabel(QStringLiteral("姓名："), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(Twips::rect(450, 330, 540, 210));

    txtName = new QLineEdit(this);
    txtName->setObjectName(QStringLiteral("txtName"));
    txtName->setMaxLength(50);
    txtName->setToolTip(QStringLiteral("Your Name"));
    txtName->setGeometry(Twips::rect(1110, 270, 2115, 315));

    Label2 = new QLabel(QStringLiteral("EMAIL："), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(Twips::rect(300, 720, 690, 210));

    txtEMail = new QLineEdit(this);
    txtEMail->setObjectName(QStringLiteral("txtEMail"));
    txtEMail->setMaxLength(100);
    txtEMail->setToolTip(QStringLiteral("Email"));
    txtEMail->setGeometry(Twips::rect(1110, 660, 2115, 315));

    Label3 = new QLabel(QStringLiteral("留言："), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(Twips::rect(420, 1110, 540, 210));

    txtComment = new QLineEdit(this);
    txtComment->setObjectName(QStringLiteral("txtComment"));
    txtComment->setMaxLength(256);
    txtComment->setGeometry(Twips::rect(1110, 1050, 2835, 315));

    Command3 = new QPushButton(QStringLiteral("发送"), this);
    Command3->setObjectName(QStringLiteral("Command3"));
    Command3->setGeometry(Twips::rect(1830, 1470, 1005, 375));

    Command4 = new QPushButton(QStringLiteral("返回"), this);
    Command4->setObjectName(QStringLiteral("Command4"));
    Command4->setGeometry(Twips::rect(2970, 1470, 975, 375));

    lblSending = new QLabel(this);
    lblSending->setObjectName(QStringLiteral("lblSending"));
    lblSending->setGeometry(Twips::rect(240, 1590, 1080, 210));
    lblSending->hide();

    connect(Command3, &QPushButton::clicked, this, &frmSuggest::imgSend_Click);
    connect(Command4, &QPushButton::clicked, this, &frmSuggest::imgBack_Click);

    // A coarse timer may fire 5 % early; a deadline is a promise to the user either way.
    m_deadline->setTimerType(Qt::PreciseTimer);
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] {
        if (m_reply)
            endRequest(m_reply, false);
    });
}

frmSuggest::~frmSuggest()
{
    // A request still under way dies with the form; its end must not reach a half-destroyed one.
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

void frmSuggest::imgSend_Click()
{
    Command1_Click();
}

void frmSuggest::imgBack_Click()
{
    reject();
}

void frmSuggest::Command1_Click()
{
    // The send button is off while a request is under way and after one has arrived; the
    // routine itself honours that too, so a second press can never send twice.
    if (!Command3->isEnabled())
        return;

    // Only a box with no text at all counts as empty; blanks are a name like any other.
    if (txtName->text().isEmpty()) {
        showStatus(QStringLiteral("您的姓名？"));
        txtName->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (txtEMail->text().isEmpty()) {
        showStatus(QStringLiteral("您的Email？"));
        txtEMail->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (txtComment->text().isEmpty()) {
        showStatus(QStringLiteral("您的意见？"));
        txtComment->setFocus(Qt::OtherFocusReason);
        return;
    }

    showStatus(QStringLiteral("正在发送..."));
    Command3->setEnabled(false);

    // The key "age" carries the e-mail address and the comment is tagged with the product's
    // name: that is what the server's script reads.
    const QByteArray address = server() + "/suggest/post.php?name=" + queryValue(txtName->text()) +
                               "&age=" + queryValue(txtEMail->text()) + "&comment=" +
                               queryValue(QStringLiteral("(Vidmorph)") + txtComment->text());
    const QUrl url = QUrl::fromEncoded(address, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) {
        sendFailed();
        return;
    }
    QNetworkRequest request(url);
    // Each redirect is vetted in replyRedirected before it is followed.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    QNetworkReply *reply = m_network->get(request);
    // Without a limit the reply would keep every byte of the page until it ends.
    reply->setReadBufferSize(ReplyReadLimit);
    m_reply = reply;
    m_requestUrl = url;
    m_replyBytes = 0;
    connect(reply, &QNetworkReply::redirected, this,
            [this, reply](const QUrl &target) { replyRedirected(reply, target); });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { replyReadyRead(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { replyFinished(reply); });
    m_deadline->start(m_requestDeadline);
}

void frmSuggest::mousePressEvent(QMouseEvent *event)
{
    // Only the form's own surface drags it; a press on a control, even a disabled one whose
    // press reaches us, stays the control's.
    if (SurfaceDrag::isSurfacePress(this, event)) {
        startSurfaceMove();
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

bool frmSuggest::startSurfaceMove()
{
    return SurfaceDrag::start(this);
}

void frmSuggest::showStatus(const QString &text)
{
    lblSending->setText(text);
    lblSending->show();
}

void frmSuggest::replyRedirected(QNetworkReply *reply, const QUrl &target)
{
    // The script may move within our own server; anywhere else did not take the comment.
    if (sameServer(m_requestUrl, target))
        emit reply->redirectAllowed();
    else
        endRequest(reply, false);
}

void frmSuggest::replyReadyRead(QNetworkReply *reply)
{
    // The body is thrown away as it comes. The status line came before it, so once the limit is
    // reached the answer is known and the rest of the page is not worth waiting for.
    while (reply->bytesAvailable() > 0) {
        const qint64 skipped = reply->skip(reply->bytesAvailable());
        if (skipped <= 0)
            break;
        m_replyBytes += skipped;
    }
    if (m_replyBytes >= ReplyReadLimit)
        endRequest(reply, isSuccess(reply));
}

void frmSuggest::replyFinished(QNetworkReply *reply)
{
    endRequest(reply, reply->error() == QNetworkReply::NoError && isSuccess(reply));
}

void frmSuggest::endRequest(QNetworkReply *reply, bool delivered)
{
    m_deadline->stop();
    if (m_reply == reply)
        m_reply = nullptr;
    // Nothing more of this reply may reach the form, not even the finished() that abort() sends.
    reply->disconnect(this);
    if (reply->isRunning())
        reply->abort();
    reply->deleteLater();
    if (delivered) {
        // Sent once is enough: the button stays off until the form is closed.
        showStatus(QStringLiteral("完毕."));
        return;
    }
    sendFailed();
}

void frmSuggest::sendFailed()
{
    // An error page or an unreachable server is not a delivered comment; say so and let the
    // user try again.
    showStatus(QStringLiteral("发送失败。"));
    Command3->setEnabled(true);
}

QByteArray frmSuggest::server()
{
    QString base = qEnvironmentVariable("VIDMORPH_FEEDBACK_URL");
    if (base.isEmpty())
        base = QLatin1String(DefaultServer);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base.toUtf8();
}
