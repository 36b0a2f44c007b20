#pragma once

#include <QObject>
#include <QString>

#include <cstdio>

class QSocketNotifier;

// Standard output and error of the headless mode. A name from the disk may hold any
// character; escaped() keeps control characters from reaching a terminal as commands. A
// standard output that has been closed (`vidmorph --convert … | head`) is noticed when it
// happens, or at the latest at the next write, instead of killing the process, so the batch can
// stop as Ctrl+C stops it.
class ConsoleOutput : public QObject
{
    Q_OBJECT
public:
    explicit ConsoleOutput(std::FILE *out = stdout, std::FILE *err = stderr,
                           QObject *parent = nullptr);

    // False once standard output is gone; what is written then is dropped.
    bool write(const QString &text);
    void error(const QString &text);
    bool isClosed() const { return m_closed; }
    // Whether standard output is a terminal, so lines can be updated in place.
    bool isTerminal() const { return m_terminal; }

    // The text with control characters (C0, DEL, C1) and the bidirectional overrides written
    // as visible escapes: "\n", "\t", "\x1b", "\u202e".
    static QString escaped(const QString &text);

signals:
    // Standard output is gone; emitted once.
    void closed();

private:
    void markClosed();

    std::FILE *m_out;
    std::FILE *m_err;
    bool m_terminal;
    bool m_closed = false;
    QSocketNotifier *m_watch = nullptr;
};
