#include "dialogs/FileDialogs.h"

#include "process/NativePath.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTreeView>
#include <algorithm>
#include <climits>

namespace {

QList<QStringList> queued;
QString startFolder;

// The dialog lists names as Qt reads them; a name that is not UTF-8 is found again on disk.
QStringList recovered(QStringList paths)
{
    for (QString &path : paths)
        path = NativePath::recover(path);
    return paths;
}

QStringList takeAnswer()
{
    return queued.takeFirst();
}

// A dialog set up as both open dialogs share it.
void prepare(QFileDialog &dialog, const QStringList &nameFilters, const QString &preselected,
             const QString &defaultSuffix)
{
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The description already shows its pattern; the dialog need not repeat it.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    if (!nameFilters.isEmpty())
        dialog.setNameFilters(nameFilters);
    if (!defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(defaultSuffix);
    if (!preselected.isEmpty())
        dialog.selectFile(preselected);
    // Roomy, and the size, type and date columns as wide as what they show, so that nothing
    // there is cut short; the name takes the rest.
    dialog.resize(dialog.sizeHint().expandedTo(QSize(780, 460)));
    if (auto *details = dialog.findChild<QTreeView *>(QStringLiteral("treeView"))) {
        QHeaderView *header = details->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
}

// The dialog reports files in the order they were picked; the list shows them sorted, and
// that is the order a user expects them to arrive in.
QStringList inListedOrder(const QFileDialog &dialog, QStringList files)
{
    const auto *model = dialog.findChild<QFileSystemModel *>();
    if (!model)
        return files;
    auto row = [model](const QString &path) {
        const QModelIndex index = model->index(path);
        return index.isValid() ? index.row() : INT_MAX;
    };
    std::stable_sort(files.begin(), files.end(),
                     [&row](const QString &a, const QString &b) { return row(a) < row(b); });
    return files;
}

} // namespace

void FileDialogs::queueAnswers(const QStringList &answers)
{
    for (const QString &answer : answers)
        queued.append(answer.isEmpty() ? QStringList() : QStringList{answer});
}

void FileDialogs::queueFiles(const QStringList &files)
{
    queued.append(files);
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
    if (!queued.isEmpty())
        return NativePath::recover(takeAnswer().value(0));
    QFileDialog dialog(owner, title, folder);
    dialog.setFileMode(QFileDialog::ExistingFile);
    prepare(dialog, nameFilters, preselected, defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return NativePath::recover(dialog.selectedFiles().first());
}

QStringList FileDialogs::openFiles(QWidget *owner, const QString &title, const QString &folder,
                                   const QStringList &nameFilters, const QString &preselected,
                                   const QString &defaultSuffix)
{
    startFolder = folder;
    if (!queued.isEmpty())
        return recovered(takeAnswer());
    QFileDialog dialog(owner, title, folder);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    prepare(dialog, nameFilters, preselected, defaultSuffix);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return recovered(inListedOrder(dialog, dialog.selectedFiles()));
}

QString FileDialogs::chooseFolder(QWidget *owner, const QString &title)
{
    startFolder.clear();
    if (!queued.isEmpty())
        return NativePath::recover(takeAnswer().value(0));
    return NativePath::recover(
        QFileDialog::getExistingDirectory(owner, title, QString(), QFileDialog::ShowDirsOnly));
}
