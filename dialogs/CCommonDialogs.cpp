#include "dialogs/CCommonDialogs.h"

#include "dialogs/FileDialogs.h"

#include <QDir>
#include <QFileInfo>
#include <QWidget>

namespace {

QString cutAtNul(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

} // namespace

void CCommonDialogs::Init(QWidget *owner)
{
    m_owner = owner;
}

QString CCommonDialogs::Title() const
{
    return cutAtNul(m_title);
}

QString CCommonDialogs::Path() const
{
    return cutAtNul(m_path);
}

QString CCommonDialogs::FileTitle() const
{
    return cutAtNul(m_fileTitle);
}

QString CCommonDialogs::FileName() const
{
    return cutAtNul(m_fileName);
}

QStringList CCommonDialogs::nameFilters(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString &pattern : patterns) {
            pattern = pattern.trimmed();
            if (pattern == QLatin1String("*.*"))
                pattern = QStringLiteral("*");
        }
        result.append(parts.at(i) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                      QLatin1Char(')'));
    }
    return result;
}

int CCommonDialogs::ShowOpen()
{
    const QString startFolder = Path().isEmpty() ? QDir::currentPath() : Path();
    QStringList chosen;
    if (m_multiSelect) {
        chosen = FileDialogs::openFiles(m_owner, Title(), startFolder, nameFilters(m_filter),
                                        FileName(), m_defExt);
    } else {
        const QString file = FileDialogs::openFile(m_owner, Title(), startFolder,
                                                   nameFilters(m_filter), FileName(), m_defExt);
        if (!file.isEmpty())
            chosen.append(file);
    }
    chosen.removeAll(QString());
    if (chosen.isEmpty())
        return 0;
    m_fileNames.clear();
    for (const QString &file : std::as_const(chosen))
        m_fileNames.append(QDir::toNativeSeparators(file));
    m_fileName = m_fileNames.first();
    m_fileTitle = QFileInfo(m_fileName).fileName();
    m_path = m_fileName.left(qMax<qsizetype>(0, m_fileName.lastIndexOf(QDir::separator())));
    return -1;
}
