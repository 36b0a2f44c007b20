#include "headless/Shard.h"

#include "process/NativePath.h"
#include "process/NumberText.h"

#include <QMap>

std::optional<Shard> Shard::fromText(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('/'));
    if (parts.size() != 2 || !NumberText::isPositiveWhole(parts.at(0)) ||
        !NumberText::isPositiveWhole(parts.at(1)))
        return std::nullopt;
    bool indexFits = false;
    bool countFits = false;
    const int index = parts.at(0).toInt(&indexFits);
    const int count = parts.at(1).toInt(&countFits);
    if (!indexFits || !countFits || count > MostShares || index > count)
        return std::nullopt;
    return Shard(index, count);
}

QStringList Shard::of(const QStringList &files) const
{
    if (isWhole())
        return files;
    QMap<QByteArray, QString> byBytes;
    for (const QString &file : files)
        byBytes.insert(NativePath::encode(file), file);
    QStringList share;
    int position = 0;
    for (const QString &file : std::as_const(byBytes))
        if (position++ % m_count == m_index - 1)
            share.append(file);
    return share;
}
