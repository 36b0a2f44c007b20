#pragma once

#include "convert/OutputNaming.h"

#include <QSet>
#include <QString>

// What a run would do with each file, worked out without converting or writing anything: the
// output it would write, or why it would skip or refuse the file.
class DryRun
{
public:
    struct Plan
    {
        enum class Action { Convert, Skip, Refuse };
        Action action = Action::Convert;
        QString output; // the file it would write, or the output that is there already
        QString reason; // why it would refuse, in plain Chinese
        QString code;   // the reason's stable code
    };

    DryRun(const OutputNaming &naming, int format, bool skipExisting)
        : m_naming(naming), m_format(format), m_skipExisting(skipExisting)
    {
    }

    // The empty names runs that were killed had taken, which the run gives back before it
    // begins: they are no outputs, and free to take.
    void setGivenBack(const QStringList &names)
    {
        m_givenBack = QSet<QString>(names.begin(), names.end());
    }
    // The plan for the next file; names planned for earlier files count as taken.
    Plan planFor(const QString &inputPath);

private:
    static Plan refusal(const QString &code);

    OutputNaming m_naming;
    int m_format;
    bool m_skipExisting;
    QSet<QString> m_planned;
    QSet<QString> m_givenBack;
    QSet<QString> m_ownNames; // as the batch keeps them
};
