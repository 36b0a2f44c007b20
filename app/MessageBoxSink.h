#pragma once

#include "process/MessageSink.h"

#include <QPointer>

class QMessageBox;
class QWidget;

// Real, modal message boxes with an OK button, owned by the given window.
class MessageBoxSink : public MessageSink
{
public:
    void setOwner(QWidget *owner) { m_owner = owner; }
    void showMessage(Icon icon, const QString &caption, const QString &text) override;

    // Widens a box, if need be, so that the window manager's title bar shows its whole caption
    // beside the window's icon and buttons. Call it once the box has its caption and text.
    static void fitCaption(QMessageBox &box);
    // What a title bar takes besides its caption: the icon, three buttons and the margins.
    static constexpr int TitleBarAllowance = 140;

private:
    QPointer<QWidget> m_owner;
};
