#pragma once

#include <QList>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QStringList>

// Which files a watched folder's arrivals the watch takes: media only, as the desktop entry
// offers to open (any audio or video type, RealMedia), told by the name and the first bytes,
// and, when globs are given, only names that match one of them. A photo or a note dropped in
// beside the videos is no failure of the watch.
class MediaFilter
{
public:
    explicit MediaFilter(const QStringList &globs = {});

    bool takes(const QString &path) const;

private:
    QMimeDatabase m_types;
    QList<QRegularExpression> m_globs;
};
