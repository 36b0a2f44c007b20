#pragma once

#include <QString>

// Where the program's message boxes go. The window shows real boxes; the headless mode
// prints them; tests record them, so no test ever blocks on a modal box.
class MessageSink
{
public:
    enum class Icon { Stop, Exclamation, Information };

    virtual ~MessageSink() = default;
    virtual void showMessage(Icon icon, const QString &caption, const QString &text) = 0;
};
