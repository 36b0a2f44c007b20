#include "RecordingMessageSink.h"

void RecordingMessageSink::showMessage(Icon icon, const QString &caption, const QString &text)
{
    messages.append({icon, caption, text});
}
