#include "dialogs/CCommonDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

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
    QFileDialog dialog(m_owner, Title(), startFolder);
    dialog.setObjectName(QStringLiteral("openFileDialog"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The description already shows its pattern; the dialog need not repeat it.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    const QStringList filters = nameFilters(m_filter);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    if (!m_defExt.isEmpty())
        dialog.setDefaultSuffix(m_defExt);
    if (!FileName().isEmpty())
        dialog.selectFile(FileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return 0;
    const QString chosen = QDir::toNativeSeparators(dialog.selectedFiles().first());
    m_fileName = chosen;
    m_fileTitle = QFileInfo(chosen).fileName();
    m_path = chosen.left(qMax<qsizetype>(0, chosen.lastIndexOf(QDir::separator())));
    return -1;
}
