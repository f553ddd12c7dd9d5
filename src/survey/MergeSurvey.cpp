#include "survey/MergeSurvey.h"

#include "repository/MergeParents.h"
#include "svn/MergeInfoReader.h"
#include "svn/ScopedPool.h"
#include "svn/SvnError.h"

#include <QJsonObject>
#include <QSet>
#include <QTextStream>

#include <algorithm>

quint64 MergeSurvey::Graph::add(int revision, const QList<quint64> &parents)
{
    m_revisions.push_back(revision);
    m_parents.push_back(parents);
    return m_revisions.size();
}

QList<quint64> MergeSurvey::Graph::parents(quint64 commit) const
{
    return commit == 0 || commit > m_parents.size() ? QList<quint64>() : m_parents[commit - 1];
}

int MergeSurvey::Graph::revision(quint64 commit) const
{
    return commit == 0 || commit > m_revisions.size() ? 0 : m_revisions[commit - 1];
}

MergeSurvey::Counts MergeSurvey::total() const
{
    Counts sum;
    for (const Counts &counts : m_counts) {
        sum.parents += counts.parents;
        sum.partial += counts.partial;
        sum.subtree += counts.subtree;
    }
    return sum;
}

quint64 MergeSurvey::commitAt(const QString &root, int revision) const
{
    const auto branch = m_branches.constFind(root);
    if (branch == m_branches.constEnd())
        return 0;
    const auto after = std::upper_bound(branch->revisions.cbegin(), branch->revisions.cend(),
                                        revision);
    if (after == branch->revisions.cbegin())
        return 0;
    return branch->heads.at(after - branch->revisions.cbegin() - 1);
}

void MergeSurvey::moveHead(const QString &root, int revision, quint64 head)
{
    Branch &branch = m_branches[root];
    branch.head = head;
    if (!branch.revisions.isEmpty() && branch.revisions.last() == revision) {
        branch.heads.last() = head;
        return;
    }
    branch.revisions.append(revision);
    branch.heads.append(head);
}

// Branches made or deleted first, then the mergeinfo, then one commit per
// branch that changed, as the converter makes them.
Status MergeSurvey::readRevision(ChangedPathsReader &reader,
                                 const ChangedPathsReader::Revision &revision,
                                 const RootOf &rootOf)
{
    ScopedPool pool(reader.pool());
    svn_fs_root_t *fsRoot = nullptr;
    if (svn_error_t *error =
                svn_fs_revision_root(&fsRoot, reader.filesystem(), revision.number, pool))
        return svnFailure(error);

    QSet<QString> changed;
    QMap<QString, QList<quint64>> mergeParents;
    for (const ChangedPathsReader::ChangedPath &change : revision.changes) {
        const QString path = QString::fromUtf8(change.path);
        const QString root = rootOf(path);
        if (root.isEmpty())
            continue;
        const QString source = QString::fromUtf8(change.copyFromPath);
        if (root == path && change.kind == svn_fs_path_change_delete) {
            moveHead(root, revision.number, 0);
            changed.remove(root);
            continue;
        }
        if (root == path && !source.isEmpty() && rootOf(source) == source) {
            moveHead(root, revision.number, commitAt(source, change.copyFromRevision));
            m_branches[root].createdRevision = revision.number;
            continue;
        }
        if (root == path && change.kind != svn_fs_path_change_modify)
            m_branches[root].createdRevision = revision.number;
        changed.insert(root);
    }
    for (const ChangedPathsReader::ChangedPath &change : revision.changes) {
        if (!change.propertiesModified || change.kind == svn_fs_path_change_delete)
            continue;
        if (Status judged = judgeMergeInfo(fsRoot, change, rootOf, &mergeParents, pool); !judged)
            return judged;
    }
    QStringList roots(changed.cbegin(), changed.cend());
    std::sort(roots.begin(), roots.end());
    for (const QString &root : std::as_const(roots)) {
        QList<quint64> parents;
        if (const quint64 head = m_branches.value(root).head)
            parents.append(head);
        parents += mergeParents.value(root);
        moveHead(root, revision.number, m_graph.add(revision.number, parents));
    }
    return Status();
}

Status MergeSurvey::judgeMergeInfo(svn_fs_root_t *fsRoot,
                                   const ChangedPathsReader::ChangedPath &change,
                                   const RootOf &rootOf,
                                   QMap<QString, QList<quint64>> *mergeParents, apr_pool_t *pool)
{
    const Result<MergeInfo> now = MergeInfoReader::at(fsRoot, change.path.constData(), pool);
    if (!now)
        return now.status();
    const Result<MergeInfo> before = MergeInfoReader::before(fsRoot, change.path.constData(), pool);
    if (!before)
        return before.status();
    const QString path = QString::fromUtf8(change.path);
    const QString root = rootOf(path);
    if (root.isEmpty() || now.value() == before.value())
        return Status();
    const MergeInfo::Sources growth = now.value().growthSince(before.value());
    QHash<quint64, QString> candidates;
    QList<quint64> order;
    for (auto it = growth.cbegin(); it != growth.cend(); ++it) {
        const QString source = QString::fromUtf8(it.key());
        const QString sourceRoot = rootOf(source);
        if (sourceRoot.isEmpty() || sourceRoot == root)
            continue;
        if (root != path || sourceRoot != source) {
            ++m_counts[{root, sourceRoot}].subtree;
            continue;
        }
        const quint64 tip = commitAt(source, it.value().last());
        if (tip == 0)
            continue;
        const MergeParents::Outcome outcome = MergeParents::judge(
                m_graph, m_branches.value(root).head, tip, now.value().sources().value(it.key()),
                m_branches.value(source).createdRevision);
        if (outcome == MergeParents::Outcome::Partial)
            ++m_counts[{root, source}].partial;
        if (outcome == MergeParents::Outcome::Parent && !candidates.contains(tip)) {
            candidates.insert(tip, source);
            order.append(tip);
        }
    }
    for (quint64 parent : MergeParents::withoutRedundant(m_graph, m_branches.value(root).head,
                                                         order)) {
        ++m_counts[{root, candidates.value(parent)}].parents;
        (*mergeParents)[root].append(parent);
    }
    return Status();
}

void MergeSurvey::writeText(QTextStream &out) const
{
    const Counts sum = total();
    if (sum.parents + sum.partial + sum.subtree == 0)
        return;
    out << "  With --svn-mergeinfo: " << sum.parents << " would become git merges; "
        << sum.partial << " partial (cherry-picks) and " << sum.subtree
        << " of subdirectories would stay plain commits:\n";
    for (auto it = m_counts.cbegin(); it != m_counts.cend(); ++it)
        out << "    " << it.key().first << " from " << it.key().second << ": "
            << it->parents << " merges, " << it->partial << " partial, " << it->subtree
            << " subtree\n";
    out << "  Recommended: convert with --svn-mergeinfo to keep this merge history in git.\n";
}

QJsonArray MergeSurvey::json() const
{
    QJsonArray array;
    for (auto it = m_counts.cbegin(); it != m_counts.cend(); ++it)
        array.append(QJsonObject{{"target", it.key().first},
                                 {"source", it.key().second},
                                 {"merges", it->parents},
                                 {"partial", it->partial},
                                 {"subtree", it->subtree}});
    return array;
}
