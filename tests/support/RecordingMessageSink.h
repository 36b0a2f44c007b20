#pragma once

#include "process/MessageSink.h"

#include <QVector>

// Keeps every message box the code under test asked for, instead of showing it.
class RecordingMessageSink : public MessageSink
{
public:
    struct Message
    {
        Icon icon;
        QString caption;
        QString text;
    };

    void showMessage(Icon icon, const QString &caption, const QString &text) override;

    QVector<Message> messages;
};
