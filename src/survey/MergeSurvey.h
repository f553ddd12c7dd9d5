#pragma once

#include "common/Failure.h"
#include "repository/CommitGraph.h"
#include "svn/ChangedPathsReader.h"

#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

#include <functional>
#include <vector>

class QTextStream;

// What --svn-mergeinfo would make of the merges a history recorded: it
// follows the branches' commits as the converter would make them and judges
// every growth of a branch root's mergeinfo the way the converter does.
class MergeSurvey
{
public:
    // The branch root that holds a path ("/trunk", "/branches/x"); empty for none.
    using RootOf = std::function<QString(const QString &path)>;

    struct Counts
    {
        int parents = 0;  // merges that would become git merges
        int partial = 0;  // cherry-picks and partial ranges: no parent
        int subtree = 0;  // merges into a directory below the branch root: no parent
    };
    // Target branch root and source path, in byte order.
    using Table = QMap<QPair<QString, QString>, Counts>;

    Status readRevision(ChangedPathsReader &reader, const ChangedPathsReader::Revision &revision,
                        const RootOf &rootOf);

    const Table &counts() const { return m_counts; }
    Counts total() const;
    // Lines for the report's mergeinfo section; none when nothing was merged.
    void writeText(QTextStream &out) const;
    QJsonArray json() const;

private:
    class Graph : public CommitGraph
    {
    public:
        quint64 add(int revision, const QList<quint64> &parents);
        QList<quint64> parents(quint64 commit) const override;
        int revision(quint64 commit) const override;

    private:
        std::vector<int> m_revisions;
        std::vector<QList<quint64>> m_parents;
    };
    struct Branch
    {
        int createdRevision = 0;
        quint64 head = 0;
        QList<int> revisions; // ascending, with the head after each
        QList<quint64> heads;
    };

    quint64 commitAt(const QString &root, int revision) const;
    void moveHead(const QString &root, int revision, quint64 head);
    Status judgeMergeInfo(svn_fs_root_t *fsRoot, const ChangedPathsReader::ChangedPath &change,
                          const RootOf &rootOf, QMap<QString, QList<quint64>> *mergeParents,
                          apr_pool_t *pool);

    Graph m_graph;
    QHash<QString, Branch> m_branches;
    Table m_counts;
};
