#pragma once

#include <QStringList>
#include <optional>

// One of N equal shares of a batch's files, so that the tasks of a scheduler's job array
// (Slurm, PBS, a Kubernetes indexed job) each convert their own part and together every file
// once. Each task computes the shares by itself, from the same files in the same order.
class Shard
{
public:
    // The whole batch.
    Shard() = default;
    // "K/N", K counted from 1 up to N. Nothing when the text is not that.
    static std::optional<Shard> fromText(const QString &text);

    int index() const { return m_index; } // from 1
    int count() const { return m_count; }
    bool isWhole() const { return m_count == 1; }
    // The files of this share. The files are ordered by the bytes of their paths (not by the
    // order they were found in, which a folder listing does not keep from node to node), each
    // once, and dealt out in turn, so the shares differ in size by one file at most and a
    // folder of long files does not all fall to one task. The whole batch keeps its files as
    // they are.
    QStringList of(const QStringList &files) const;

    // Past this many shares an array is a mistake: Slurm's own arrays end far below.
    static constexpr int MostShares = 1000000;

private:
    Shard(int index, int count) : m_index(index), m_count(count) {}

    int m_index = 1;
    int m_count = 1;
};
