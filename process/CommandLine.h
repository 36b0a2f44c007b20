#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// A tool's command line, kept as the pieces it was built from so that one value gives both
// the argument vector the tool is started with and the text shown in logs and tests.
//
// Literal pieces are split into arguments at their blanks; value and quoted pieces are glued
// to their neighbours and never split, so a path with blanks, quotes or a leading dash stays
// one argument. The first argument is the program.
class CommandLine
{
public:
    CommandLine() = default;

    // A program and its arguments, each argument rendered between double quotes.
    static CommandLine fromArguments(const QString &program, const QStringList &arguments);

    CommandLine &addLiteral(const QString &text);
    CommandLine &addValue(const QString &value);
    CommandLine &addQuoted(const QString &value);

    bool isEmpty() const { return text().isEmpty(); }
    QString text() const;
    QString program() const;
    QStringList arguments() const;

    bool operator==(const CommandLine &other) const { return m_pieces == other.m_pieces; }
    bool operator!=(const CommandLine &other) const { return !(*this == other); }

private:
    enum class Kind { Literal, Value, Quoted };
    struct Piece
    {
        Kind kind;
        QString text;
        bool operator==(const Piece &o) const { return kind == o.kind && text == o.text; }
    };

    QStringList argumentVector() const;

    QVector<Piece> m_pieces;
};
