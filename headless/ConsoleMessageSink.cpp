#include "headless/ConsoleMessageSink.h"

#include <cstdio>

void ConsoleMessageSink::showMessage(Icon icon, const QString &caption, const QString &text)
{
    const char *kind = icon == Icon::Stop          ? "错误 (error)"
                       : icon == Icon::Exclamation ? "警告 (warning)"
                                                   : "信息 (note)";
    std::fprintf(stderr, "\nvidmorph: %s: %s: %s\n", kind, caption.toUtf8().constData(),
                 text.toUtf8().constData());
    std::fflush(stderr);
}
