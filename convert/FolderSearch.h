#pragma once

#include "convert/FileListModel.h"

#include <QObject>
#include <QVector>
#include <atomic>
#include <memory>

class QThread;

// Add folder's search, off the calling thread: a large tree takes a while to list, so the
// search runs in a thread of its own and hands its results back in slices, one per turn of the
// event loop, so the window keeps painting and answering while 100 000 rows arrive.
class FolderSearch : public QObject
{
    Q_OBJECT
public:
    explicit FolderSearch(QObject *parent = nullptr);
    // Cancels every search still running and waits for its thread.
    ~FolderSearch() override;

    static constexpr qsizetype SliceRows = 5000;

    // Searches the folder with its subfolders; `found` follows in slices, then `finished`.
    void search(const QString &folder);
    // Stops every search where it is; what was found is still handed over.
    void cancel();

signals:
    void found(const QVector<FileListModel::Entry> &entries);
    void finished();
    // The folder held more files than a search takes; those before the limit are found. Comes
    // before `finished`.
    void tooManyFiles(const QString &text);

private:
    void handOver(std::shared_ptr<QVector<FileListModel::Entry>> entries, qsizetype from);

    QList<QThread *> m_threads;
    std::shared_ptr<std::atomic_bool> m_cancel;
};
