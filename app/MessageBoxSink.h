#pragma once

#include "process/MessageSink.h"

#include <QPointer>

class QWidget;

// Real, modal message boxes with an OK button, owned by the given window.
class MessageBoxSink : public MessageSink
{
public:
    void setOwner(QWidget *owner) { m_owner = owner; }
    void showMessage(Icon icon, const QString &caption, const QString &text) override;

private:
    QPointer<QWidget> m_owner;
};
