// Merge parents of FastImportRepository::Transaction from svn:mergeinfo.
#include "repository/FastImportRepository.h"

#include "repository/Metadata.h"
#include "repository/MergeParents.h"

#include <algorithm>

void FastImportRepository::Transaction::recordMergeInfoChange(const MergeInfoChange &change)
{
    m_parentsFromMergeInfo = true;
    m_mergeInfo.sources += change.sources;
}

// Each source whose revisions grew: a parent when merged in full and not
// reached yet, a metadata line when merged in part or from no branch of this
// repository. Parents follow the byte order of the source paths.
FastImportRepository::Transaction::MergeInfoParents
FastImportRepository::Transaction::mergeInfoParents(int head) const
{
    QList<MergeInfoChange::Source> sources = m_mergeInfo.sources;
    std::stable_sort(sources.begin(), sources.end(),
                     [](const MergeInfoChange::Source &a, const MergeInfoChange::Source &b) {
                         return a.svnPath < b.svnPath;
                     });
    const CommitGraph &graph = m_repository->m_ancestry;
    MergeInfoParents result;
    QList<quint64> candidates;
    for (const MergeInfoChange::Source &source : std::as_const(sources)) {
        int tip = 0;
        if (!source.branch.isEmpty()) {
            QByteArray noDescription;
            tip = m_repository->markForRevision(source.branch, source.added.last(), noDescription)
                          .value_or(0);
        }
        if (tip > 0) {
            const MergeParents::Outcome outcome = MergeParents::judge(
                    graph, quint64(std::max(head, 0)), quint64(tip), source.merged,
                    m_repository->m_branches.createdRevision(source.branch));
            if (outcome == MergeParents::Outcome::Parent)
                candidates.append(quint64(tip));
            if (outcome != MergeParents::Outcome::Partial)
                continue;
        }
        result.metadata += formatCherryPick(source.svnPath, source.added.toText());
    }
    for (quint64 parent : MergeParents::withoutRedundant(graph, quint64(std::max(head, 0)),
                                                         candidates))
        result.parents.append(int(parent));
    return result;
}
