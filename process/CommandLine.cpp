#include "process/CommandLine.h"

CommandLine CommandLine::fromArguments(const QString &program, const QStringList &arguments)
{
    CommandLine line;
    line.addValue(program);
    for (const QString &argument : arguments)
        line.addLiteral(QStringLiteral(" ")).addQuoted(argument);
    return line;
}

CommandLine &CommandLine::addLiteral(const QString &text)
{
    m_pieces.append({Kind::Literal, text});
    return *this;
}

CommandLine &CommandLine::addValue(const QString &value)
{
    m_pieces.append({Kind::Value, value});
    return *this;
}

CommandLine &CommandLine::addQuoted(const QString &value)
{
    m_pieces.append({Kind::Quoted, value});
    return *this;
}

QString CommandLine::text() const
{
    QString result;
    for (const Piece &piece : m_pieces) {
        if (piece.kind == Kind::Quoted)
            result += QLatin1Char('"') + piece.text + QLatin1Char('"');
        else
            result += piece.text;
    }
    return result;
}

QStringList CommandLine::argumentVector() const
{
    QStringList arguments;
    QString current;
    bool started = false;
    auto finish = [&] {
        if (started)
            arguments.append(current);
        current.clear();
        started = false;
    };
    for (const Piece &piece : m_pieces) {
        switch (piece.kind) {
        case Kind::Literal:
            for (QChar c : piece.text) {
                if (c == QLatin1Char(' ')) {
                    finish();
                } else {
                    current += c;
                    started = true;
                }
            }
            break;
        case Kind::Value:
            current += piece.text;
            started = started || !piece.text.isEmpty();
            break;
        case Kind::Quoted:
            // An empty quoted path is still an argument, as the shell would pass "".
            current += piece.text;
            started = true;
            break;
        }
    }
    finish();
    return arguments;
}

QString CommandLine::program() const
{
    const QStringList all = argumentVector();
    return all.isEmpty() ? QString() : all.first();
}

QStringList CommandLine::arguments() const
{
    return argumentVector().mid(1);
}
