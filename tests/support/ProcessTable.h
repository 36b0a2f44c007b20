#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>

// The processes whose command line mentions any of the texts (a folder, an input path), each
// as "pid command line"; empty when none is left running.
inline QStringList processesMentioning(const QStringList &texts)
{
    QStringList found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &pid : entries) {
        bool number = false;
        pid.toInt(&number);
        if (!number)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QString line = QString::fromUtf8(cmdline.readAll().replace('\0', ' '));
        for (const QString &text : texts)
            if (line.contains(text))
                found.append(pid + QLatin1Char(' ') + line);
    }
    return found;
}
