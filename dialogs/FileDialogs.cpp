#include "dialogs/FileDialogs.h"

#include "process/NativePath.h"

#include <QFileDialog>

namespace {

QStringList queued;
QString startFolder;

} // namespace

void FileDialogs::queueAnswers(const QStringList &answers)
{
    queued += answers;
}

QString FileDialogs::lastStartFolder()
{
    return startFolder;
}

QString FileDialogs::openFile(QWidget *owner, const QString &title, const QString &folder,
                              const QStringList &nameFilters, const QString &preselected,
                              const QString &defaultSuffix)
{
    startFolder = folder;
    // The dialog lists names as Qt reads them; a name that is not UTF-8 is found again on disk.
    if (!queued.isEmpty())
        return NativePath::recover(queued.takeFirst());
    QFileDialog dialog(owner, title, folder);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The description already shows its pattern; the dialog need not repeat it.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    if (!nameFilters.isEmpty())
        dialog.setNameFilters(nameFilters);
    if (!defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(defaultSuffix);
    if (!preselected.isEmpty())
        dialog.selectFile(preselected);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return NativePath::recover(dialog.selectedFiles().first());
}

QString FileDialogs::chooseFolder(QWidget *owner, const QString &title)
{
    startFolder.clear();
    if (!queued.isEmpty())
        return NativePath::recover(queued.takeFirst());
    return NativePath::recover(
        QFileDialog::getExistingDirectory(owner, title, QString(), QFileDialog::ShowDirsOnly));
}
