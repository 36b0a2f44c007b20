#pragma once

#include <QDialog>
#include <QPointer>

class QLabel;
class QLineEdit;
class QMouseEvent;
class QNetworkAccessManager;
class QNetworkReply;
class QPushButton;

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
    // A server that has not answered within this time counts as unreachable.
    static constexpr int TransferTimeoutMs = 15000;

    QLabel *Label1;
    QLineEdit *txtName;
    QLabel *Label2;
    QLineEdit *txtEMail;
    QLabel *Label3;
    QLineEdit *txtComment;
    QPushButton *Command3;
    QPushButton *Command4;
    QLabel *lblSending;

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
    void replyFinished(QNetworkReply *reply);
    void sendFailed();
    static QByteArray server();

    QNetworkAccessManager *m_network;
    QPointer<QNetworkReply> m_reply;
};
