#pragma once

#include "verify/Difference.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>

// Checks that the log covers the range compared: every revision in which
// Subversion changes what a branch should hold in git has a recorded state
// for that branch. Fed as the walk goes: the trees Subversion gives, then
// the states the logs record; holds the last tree name of each branch and
// the states still awaited, so memory grows with the number of branches.
class CoverageCheck
{
public:
    // Only these revisions were meant to be converted; empty: every one.
    // The trees before revision from are where the check starts: their
    // changes await no state.
    explicit CoverageCheck(const QSet<int> &meant = {}, int from = 1)
        : m_meant(meant)
        , m_from(from)
    {
    }

    // The branch's expected tree at revision has this name; empty for a
    // branch that holds no file, which git cannot hold either.
    void treeAt(int revision, const QString &repository, const QString &branch,
                const QByteArray &treeId);
    // The logs record a state of the branch at revision.
    void stateAt(int revision, const QString &repository, const QString &branch);
    // The walk has passed every state below revision: what is still
    // awaited below it is missing.
    void passed(int revision, QList<Difference> *differences);

private:
    static QString key(const QString &repository, const QString &branch);

    QSet<int> m_meant;
    int m_from;
    QHash<QString, QByteArray> m_trees;
    QMap<int, QSet<QString>> m_awaited;
};
