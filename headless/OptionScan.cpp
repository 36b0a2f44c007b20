#include "headless/OptionScan.h"

namespace {

const OptionScan::Name *byLong(const std::vector<OptionScan::Name> &names, const QString &name)
{
    for (const OptionScan::Name &option : names)
        if (option.longName == name)
            return &option;
    return nullptr;
}

const OptionScan::Name *byShort(const std::vector<OptionScan::Name> &names, QChar letter)
{
    for (const OptionScan::Name &option : names)
        if (option.shortName.size() == 1 && option.shortName.at(0) == letter)
            return &option;
    return nullptr;
}

QString unknown(const QString &word)
{
    return QStringLiteral("未知选项 (unknown option): %1").arg(word);
}

QString needsValue(const QString &option)
{
    return QStringLiteral("选项 %1 缺少值 (option %1 needs a value)").arg(option);
}

} // namespace

OptionScan OptionScan::scan(const QStringList &words, const std::vector<Name> &names)
{
    OptionScan scan;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString &word = words.at(i);
        if (word == QLatin1String("--")) {
            scan.m_positional += words.mid(i + 1);
            break;
        }
        if (word.size() < 2 || !word.startsWith(QLatin1Char('-'))) {
            scan.m_positional.append(word);
            continue;
        }
        if (!scan.take(words, i, names))
            return scan;
    }
    return scan;
}

bool OptionScan::take(const QStringList &words, qsizetype &i, const std::vector<Name> &names)
{
    const QString &word = words.at(i);
    const bool twoDashes = word.startsWith(QLatin1String("--"));
    const QString body = word.mid(twoDashes ? 2 : 1);
    const qsizetype equals = body.indexOf(QLatin1Char('='));
    const QString name = equals < 0 ? body : body.left(equals);
    const Name *option = byLong(names, name);
    if (!option && !twoDashes)
        return takeShort(words, i, names);
    if (!option) {
        m_error = unknown(QStringLiteral("--") + name);
        return false;
    }
    const QString shown = QStringLiteral("--") + name;
    if (equals >= 0) {
        if (option->value == Value::None) {
            m_error = QStringLiteral("选项 %1 不取值 (option %1 takes no value): \"%2\"")
                          .arg(shown, body.mid(equals + 1));
            return false;
        }
        add(name, body.mid(equals + 1));
        return true;
    }
    const bool followed = i + 1 < words.size();
    // An optional value is the next word only when that is no option (nor "--").
    if (option->value == Value::Required || (option->value == Value::Optional && followed &&
                                             !words.at(i + 1).startsWith(QLatin1Char('-')))) {
        if (!followed) {
            m_error = needsValue(shown);
            return false;
        }
        add(name, words.at(++i));
        return true;
    }
    add(name, QString());
    return true;
}

bool OptionScan::takeShort(const QStringList &words, qsizetype &i, const std::vector<Name> &names)
{
    const QString &word = words.at(i);
    for (qsizetype at = 1; at < word.size(); ++at) {
        const Name *option = byShort(names, word.at(at));
        if (!option) {
            m_error = unknown(QLatin1Char('-') + word.at(at));
            return false;
        }
        if (option->value == Value::None) {
            add(option->longName, QString());
            continue;
        }
        // The rest of the word is the value, else the next word is.
        if (at + 1 < word.size()) {
            add(option->longName, word.mid(at + 1));
        } else if (i + 1 < words.size()) {
            add(option->longName, words.at(++i));
        } else {
            m_error = needsValue(QLatin1Char('-') + word.at(at));
            return false;
        }
        return true;
    }
    return true;
}

void OptionScan::add(const QString &longName, const QString &value)
{
    if (!m_values.contains(longName))
        m_given.append(longName);
    m_values[longName].append(value);
}
