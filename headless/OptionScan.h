#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <vector>

// A command line read as getopt_long reads one, so that the shell's habits work: "-j4" and
// "-fMP3" (a short option with its value attached), "-0q" (short switches together),
// "--jobs=4", "--" before names that begin with a dash, and options among the names. A word
// with one dash that spells a whole long name ("-format") is that long option. Errors are one
// line, in Chinese with the English in brackets.
class OptionScan
{
public:
    enum class Value { None, Required, Optional };
    struct Name
    {
        QString shortName; // one character, or empty
        QString longName;
        Value value;
    };

    // `words` excludes the program name.
    static OptionScan scan(const QStringList &words, const std::vector<Name> &names);

    QString error() const { return m_error; }
    bool isSet(const QString &longName) const { return m_values.contains(longName); }
    // One entry each time the option was given ("" for a switch), in the order given.
    QStringList values(const QString &longName) const { return m_values.value(longName); }
    // The long names given, each once, in the order first given.
    QStringList given() const { return m_given; }
    QStringList positional() const { return m_positional; }

private:
    // Takes the option at words[i]; false, with m_error set, when it cannot.
    bool take(const QStringList &words, qsizetype &i, const std::vector<Name> &names);
    bool takeShort(const QStringList &words, qsizetype &i, const std::vector<Name> &names);
    void add(const QString &longName, const QString &value);

    QString m_error;
    QMap<QString, QStringList> m_values;
    QStringList m_given;
    QStringList m_positional;
};
