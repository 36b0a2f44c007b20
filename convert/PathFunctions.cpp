#include "convert/PathFunctions.h"

namespace PathFunctions {

QString ParsePath(const QString &sPathIn, QChar separator)
{
    for (qsizetype i = sPathIn.size() - 1; i >= 0; --i) {
        const QChar c = sPathIn.at(i);
        if (c == separator || (separator == QLatin1Char('\\') && c == QLatin1Char(':')))
            return sPathIn.left(i + 1);
    }
    return QString();
}

QString GetFileName(const QString &path, QChar separator)
{
    return path.mid(path.lastIndexOf(separator) + 1);
}

QString GetBaseName(const QString &path, QChar separator)
{
    const QString name = GetFileName(path, separator);
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

} // namespace PathFunctions
