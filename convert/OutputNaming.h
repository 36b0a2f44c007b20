#pragma once

#include <QString>
#include <QStringList>
#include <QTime>
#include <functional>

// Where a file's output goes and what it is called. The folder is the output folder or, when
// the input lies below one of the tree's roots, the same relative folder below the output
// folder. The name is the window's, the input's base name and the time of day
// ("clip-93512.mp3"), or the plain name a script finds again ("clip.mp3"). A taken name gets a
// counter before the extension.
class OutputNaming
{
public:
    enum class Names { Timed, Plain };

    OutputNaming() = default;
    // `folder` and the roots are absolute; the folder may end in its separator.
    explicit OutputNaming(const QString &folder, Names names = Names::Timed,
                          const QStringList &treeRoots = {});

    Names names() const { return m_names; }
    // The folder an input's output goes into, ending in "/".
    QString folderFor(const QString &inputPath) const;
    // Makes that folder with its missing parents, names that are not UTF-8 byte for byte.
    bool makeFolderFor(const QString &inputPath) const;
    // The output path, with a counter past each name `taken` reports as used.
    QString pathFor(const QString &inputPath, const QString &extension, const QTime &now,
                    const std::function<bool(const QString &)> &taken = {}) const;
    // An output of this input that is in its folder already, or empty: the plain name, or with
    // time names any "<base>-<time>.<ext>" or "<base>-<time>-<n>.<ext>". Anything under that
    // name counts, another run's reservation included.
    QString existingOutput(const QString &inputPath, const QString &extension) const;

private:
    QString m_folder;
    Names m_names = Names::Timed;
    QStringList m_roots;
};
