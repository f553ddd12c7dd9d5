#pragma once

#include "rules/MatchRule.h"
#include "rules/RepositoryRule.h"
#include "svn/MergeInfo.h"
#include "verify/ConversionLog.h"
#include "verify/Difference.h"
#include "verify/RecordedGraph.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>

#include <vector>

#include <svn_fs.h>

class GitObjectReader;

// Checks the parents of every commit a conversion made with --svn-mergeinfo
// recorded: the first parent is the branch's previous recorded state or the
// commit the branch was made from; in a revision that changes the mergeinfo
// of a branch root, the other parents are exactly those the mergeinfo gives,
// decided from Subversion and the rules as the converter decides them.
class ParentCheck
{
public:
    ParentCheck(svn_fs_t *fs, const QList<QList<MatchRule>> &matchRuleLists,
                const QList<RepositoryRule> &repositoryRules);

    // Adds a "parents" difference for each commit whose parents differ.
    // Fails when Subversion cannot be read. The log is read through from
    // where it stands.
    Status check(const QString &repository, ConversionLog &log, QList<Difference> *differences);

private:
    struct Branch
    {
        quint64 head = 0;
        int createdRevision = 0;
        QList<int> revisions;
        QList<quint64> heads;
    };
    // What Subversion says of one revision for one repository.
    struct MergeSource
    {
        QByteArray svnPath;
        QString branch;
        RevisionRanges added;
        RevisionRanges merged;
    };
    struct RevisionFacts
    {
        // Branch to the branches (and revisions) its root was copied from.
        QMultiHash<QString, QPair<QString, int>> madeFrom;
        // Branch to the branches (and revisions) something else was copied from.
        QMultiHash<QString, QPair<QString, int>> copiedFrom;
        // Branches whose root's mergeinfo changed, with the grown sources.
        QMap<QString, QList<MergeSource>> merges;
    };

    Status checkBatch(const QString &repository, ConversionLog &log, const GitObjectReader &reader,
                      const QList<ConversionLog::State> &states, QList<Difference> *differences);
    Status readFacts(const QString &repository, int revision, RevisionFacts *facts);
    Status noteMergeInfo(const QString &repository, svn_fs_root_t *root, const QByteArray &path,
                         int revision, RevisionFacts *facts, apr_pool_t *pool);
    QString effectiveRepository(const QString &name) const;
    void noteCopy(const QString &repository, const QByteArray &path, int revision,
                  const QByteArray &sourcePath, int sourceRevision, RevisionFacts *facts,
                  apr_pool_t *pool) const;
    QString branchOf(const QString &repository, const QByteArray &path, int revision,
                     bool copySource, apr_pool_t *pool) const;
    QString branchRootAt(const QString &repository, const QByteArray &path, int revision,
                         apr_pool_t *pool) const;
    quint64 commitAt(const QString &branch, int revision) const;
    // A reset (or deletion) starts the branch again.
    void record(const QString &branch, int revision, quint64 commit, bool reset);
    QList<quint64> expectedParents(const QString &branch, const RevisionFacts &facts,
                                   const QList<QByteArray> &found, QList<quint64> *checked) const;
    QList<quint64> expectedMergeParents(quint64 head, const QList<MergeSource> &sources) const;
    Difference parentsDifference(const QString &repository, const ConversionLog::State &state,
                                 const QList<quint64> &expected,
                                 const QList<QByteArray> &found) const;

    svn_fs_t *m_fs;
    QList<QList<MatchRule>> m_matchRuleLists;
    QList<RepositoryRule> m_repositoryRules;
    RecordedGraph m_graph;
    QHash<QString, Branch> m_branches;
    RevisionFacts m_facts;
    int m_factsRevision = 0;
};
