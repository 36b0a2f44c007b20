#pragma once

#include <QDialog>
#include <QPointer>
#include <QUrl>

#include <chrono>

class QLabel;
class QLineEdit;
class QMouseEvent;
class QNetworkAccessManager;
class QNetworkReply;
class QPushButton;
class QTimer;

// The feedback form: sends the user's name, e-mail address and comment to our web server as
// one GET request and shows whether it arrived. Built anew for each showing and shown
// modally; closing it discards what was typed.
class frmSuggest : public QDialog
{
    Q_OBJECT

public:
    explicit frmSuggest(QWidget *parent = nullptr);
    ~frmSuggest() override;

    // Where the request goes unless VIDMORPH_FEEDBACK_URL names another server.
    static constexpr const char *DefaultServer = "http://www.vidmorph.cn";
    // The whole request, redirects included, must end within this time, however slowly the
    // server keeps trickling bytes; past it the comment counts as not delivered.
    static constexpr std::chrono::milliseconds RequestDeadline{15000};
    // Only the reply's status matters; of its body at most this much is read (and thrown
    // away) before the connection is dropped, so a huge or endless page costs no memory.
    static constexpr qint64 ReplyReadLimit = 64 * 1024;

    QLabel *Label1;
    QLineEdit *txtName;
    QLabel *Label2;
    QLineEdit *txtEMail;
    QLabel *Label3;
    QLineEdit *txtComment;
    QPushButton *Command3;
    QPushButton *Command4;
    QLabel *lblSending;

    // For tests, which cannot wait the full deadline; applies to the next request.
    void setRequestDeadline(std::chrono::milliseconds deadline) { m_requestDeadline = deadline; }
    std::chrono::milliseconds requestDeadline() const { return m_requestDeadline; }

public slots:
    void imgSend_Click();
    void imgBack_Click();
    void Command1_Click();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    // Hands the move to the window system; a seam so that tests can see which presses start one.
    virtual bool startSurfaceMove();

private:
    void showStatus(const QString &text);
    void replyRedirected(QNetworkReply *reply, const QUrl &target);
    void replyReadyRead(QNetworkReply *reply);
    void replyFinished(QNetworkReply *reply);
    void endRequest(QNetworkReply *reply, bool delivered);
    void sendFailed();
    static QByteArray server();

    QNetworkAccessManager *m_network;
    QTimer *m_deadline;
    std::chrono::milliseconds m_requestDeadline = RequestDeadline;
    QPointer<QNetworkReply> m_reply;
    QUrl m_requestUrl;
    qint64 m_replyBytes = 0;
};
