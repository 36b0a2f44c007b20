#pragma once

#include "process/SettingsFiles.h"

#include <QDialog>
#include <QString>

class MessageSink;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMouseEvent;
class QPushButton;

// The options dialog: the completion-sound choice and the stored "Music Cutter" range.
// Built anew for each showing and shown modally; OK checks the times, stores the four values
// into the program-wide set it was given and writes options.ini; back leaves both untouched.
class frmOptions : public QDialog
{
    Q_OBJECT

public:
    frmOptions(SettingsFiles::OptionsValues &values, const QString &optionsIniPath,
               MessageSink *messages, QWidget *parent = nullptr);

    QLabel *Label1;
    QComboBox *cmbSR;
    QCheckBox *chkMC;
    QLineEdit *txtFromH;
    QLineEdit *txtFromM;
    QLineEdit *txtFromS;
    QLineEdit *txtToH;
    QLineEdit *txtToM;
    QLineEdit *txtToS;
    QPushButton *Command1;
    QPushButton *Command2;

public slots:
    void chkMC_Click();
    void imgOK_Click();
    void imgExit_Click();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    // Hands the move to the window system; a seam so that tests can see which presses start one.
    virtual bool startSurfaceMove();

private:
    void Form_Load();
    void setTimeBoxesEnabled(bool enabled);
    // Fills the hours, minutes and seconds boxes from whole seconds.
    static void showSeconds(qint32 total, QLineEdit *hours, QLineEdit *minutes, QLineEdit *seconds);
    static double number(const QLineEdit *box);
    static double totalSeconds(const QLineEdit *hours, const QLineEdit *minutes,
                               const QLineEdit *seconds);

    SettingsFiles::OptionsValues &m_values;
    QString m_optionsIniPath;
    MessageSink *m_messages;
};
