#pragma once

#include "process/MessageSink.h"

// The headless mode's message boxes: one line on standard error each, since nobody is there
// to press OK.
class ConsoleMessageSink : public MessageSink
{
public:
    void showMessage(Icon icon, const QString &caption, const QString &text) override;
};
