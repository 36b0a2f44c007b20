#include "convert/FolderSearch.h"

#include "convert/FileSearch.h"

#include <QThread>
#include <QTimer>

FolderSearch::FolderSearch(QObject *parent)
    : QObject(parent), m_cancel(std::make_shared<std::atomic_bool>(false))
{
}

FolderSearch::~FolderSearch()
{
    m_cancel->store(true);
    for (QThread *thread : std::as_const(m_threads))
        thread->wait();
}

void FolderSearch::cancel()
{
    m_cancel->store(true);
}

void FolderSearch::search(const QString &folder)
{
    auto entries = std::make_shared<QVector<FileListModel::Entry>>();
    auto error = std::make_shared<QString>();
    QThread *thread = QThread::create([folder, entries, error, cancel = m_cancel] {
        const QStringList paths = FileSearch::SearchFolder(folder, cancel.get(), error.get());
        entries->reserve(paths.size());
        for (const QString &path : paths)
            entries->append(FileListModel::entryFor(path, FileListModel::FormatFrom::TrimmedPath));
    });
    m_threads.append(thread);
    connect(thread, &QThread::finished, this, [this, thread, entries, error] {
        m_threads.removeOne(thread);
        thread->deleteLater();
        if (!error->isEmpty())
            emit tooManyFiles(*error);
        handOver(entries, 0);
    });
    thread->start();
}

void FolderSearch::handOver(std::shared_ptr<QVector<FileListModel::Entry>> entries, qsizetype from)
{
    emit found(entries->mid(from, SliceRows));
    if (from + SliceRows < entries->size()) {
        QTimer::singleShot(0, this, [this, entries, from] { handOver(entries, from + SliceRows); });
        return;
    }
    emit finished();
}
