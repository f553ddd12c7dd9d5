#include "verify/ParentCheck.h"

#include "verify/HistoryCheck.h"

#include "repository/GitObjectReader.h"
#include "repository/MergeParents.h"
#include "svn/MergeInfoReader.h"
#include "svn/PathRouting.h"
#include "svn/SvnError.h"
#include "svn/ScopedPool.h"

#include <QStringList>

#include <algorithm>

namespace {

// Commits are read from git in groups of this many, which bounds memory.
const int commitsPerRead = 4000;

bool isDirectory(svn_fs_t *fs, int revision, const QByteArray &path, apr_pool_t *pool)
{
    svn_fs_root_t *root = nullptr;
    svn_boolean_t directory = FALSE;
    if (svn_error_t *error = svn_fs_revision_root(&root, fs, revision, pool)) {
        svn_error_clear(error);
        return false;
    }
    if (svn_error_t *error = svn_fs_is_dir(&directory, root, path.constData(), pool)) {
        svn_error_clear(error);
        return false;
    }
    return directory;
}

} // namespace

ParentCheck::ParentCheck(svn_fs_t *fs, const QList<QList<MatchRule>> &matchRuleLists,
                         const QList<RepositoryRule> &repositoryRules)
    : m_fs(fs)
    , m_matchRuleLists(matchRuleLists)
    , m_repositoryRules(repositoryRules)
{
}

QString ParentCheck::effectiveRepository(const QString &name) const
{
    for (const RepositoryRule &rule : m_repositoryRules) {
        if (rule.name == name && !rule.targetName.isEmpty())
            return rule.targetName;
    }
    return name;
}

// The branch of repository whose root path is at revision; empty for none.
QString ParentCheck::branchRootAt(const QString &repository, const QByteArray &path,
                                  int revision, apr_pool_t *pool) const
{
    QString directory = QString::fromUtf8(path);
    if (isDirectory(m_fs, revision, path, pool))
        directory += QLatin1Char('/');
    for (const QList<MatchRule> &ruleList : m_matchRuleLists) {
        const std::optional<RuleTarget> target = PathRouting::branchRoot(
                ruleList, directory, revision,
                [this](const QString &name) { return effectiveRepository(name); });
        if (target && target->effectiveRepository == repository)
            return target->branch;
    }
    return QString();
}

quint64 ParentCheck::commitAt(const QString &branch, int revision) const
{
    const auto found = m_branches.constFind(branch);
    if (found == m_branches.constEnd())
        return 0;
    const auto after = std::upper_bound(found->revisions.cbegin(), found->revisions.cend(),
                                        revision);
    if (after == found->revisions.cbegin())
        return 0;
    return found->heads.at(after - found->revisions.cbegin() - 1);
}

void ParentCheck::record(const QString &branch, int revision, quint64 commit, bool reset)
{
    Branch &state = m_branches[branch];
    if (reset || (state.head == 0 && commit != 0))
        state.createdRevision = revision;
    state.head = commit;
    state.revisions.append(revision);
    state.heads.append(commit);
}

Status ParentCheck::readFacts(const QString &repository, int revision, RevisionFacts *facts)
{
    const QString context = QStringLiteral("cannot read the changes of revision %1").arg(revision);
    ScopedPool pool(nullptr);
    svn_fs_root_t *root = nullptr;
    svn_fs_path_change_iterator_t *iterator = nullptr;
    if (svn_error_t *error = svn_fs_revision_root(&root, m_fs, revision, pool))
        return svnFailure(error, context);
    if (svn_error_t *error = svn_fs_paths_changed3(&iterator, root, pool, pool))
        return svnFailure(error, context);
    // A change lives only until the next one is read.
    QMap<QByteArray, bool> changes; // path to whether its properties changed
    for (svn_fs_path_change3_t *change = nullptr;;) {
        if (svn_error_t *error = svn_fs_path_change_get(&change, iterator))
            return svnFailure(error, context);
        if (!change)
            break;
        if (change->change_kind != svn_fs_path_change_delete)
            changes.insert(QByteArray(change->path.data, int(change->path.len)), change->prop_mod);
    }
    ScopedPool pathPool(pool.pool());
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        pathPool.clear();
        const QByteArray &path = it.key();
        svn_revnum_t copyFromRevision = -1;
        const char *copyFromPath = nullptr;
        if (svn_error_t *error = svn_fs_copied_from(&copyFromRevision, &copyFromPath, root,
                                                    path.constData(), pathPool))
            return svnFailure(error, context);
        if (copyFromPath)
            noteCopy(repository, path, revision, copyFromPath, int(copyFromRevision), facts,
                     pathPool);
        if (it.value()) {
            if (Status noted = noteMergeInfo(repository, root, path, revision, facts, pathPool);
                !noted)
                return noted.failure().within(Failure::fatal(context + QLatin1Char(':')));
        }
    }
    return Status();
}

// A branch root copied from a branch root is made from its commit; any
// other copy from another branch gives, when the target branch has no
// commit yet, the commit that becomes its first parent.
void ParentCheck::noteCopy(const QString &repository, const QByteArray &path, int revision,
                           const QByteArray &sourcePath, int sourceRevision,
                           RevisionFacts *facts, apr_pool_t *pool) const
{
    const QString root = branchRootAt(repository, path, revision, pool);
    const QString rootSource = branchRootAt(repository, sourcePath, sourceRevision, pool);
    if (!root.isEmpty() && !rootSource.isEmpty()) {
        facts->madeFrom.insert(root, {rootSource, sourceRevision});
        return;
    }
    const QString branch = branchOf(repository, path, revision, false, pool);
    const QString source = branchOf(repository, sourcePath, sourceRevision, true, pool);
    if (!branch.isEmpty() && !source.isEmpty() && branch != source)
        facts->copiedFrom.insert(branch, {source, sourceRevision});
}

// The branch of repository that a rule exports path into at revision; empty
// for none. Copy sources pass over ignore rules, as the converter does.
QString ParentCheck::branchOf(const QString &repository, const QByteArray &path, int revision,
                              bool copySource, apr_pool_t *pool) const
{
    QString matched = QString::fromUtf8(path);
    if (isDirectory(m_fs, revision, path, pool))
        matched += QLatin1Char('/');
    const auto resolver = [this](const QString &name) { return effectiveRepository(name); };
    for (const QList<MatchRule> &ruleList : m_matchRuleLists) {
        for (const MatchRule &rule : ruleList) {
            if (!PathRouting::inForceAt(rule, revision) || rule.pattern.indexIn(matched) != 0)
                continue;
            if (rule.action == RuleAction::Ignore && copySource)
                continue;
            if (rule.action != RuleAction::Export)
                break;
            const RuleTarget target =
                    PathRouting::ruleTarget(rule, matched, rule.pattern.matchedLength(), resolver);
            if (target.effectiveRepository == repository)
                return target.branch;
            break;
        }
    }
    return QString();
}

Status ParentCheck::noteMergeInfo(const QString &repository, svn_fs_root_t *root,
                                  const QByteArray &path, int revision, RevisionFacts *facts,
                                  apr_pool_t *pool)
{
    const Result<MergeInfo> now = MergeInfoReader::at(root, path.constData(), pool);
    if (!now)
        return now.status();
    const Result<MergeInfo> before = MergeInfoReader::before(root, path.constData(), pool);
    if (!before)
        return before.status();
    if (now.value() == before.value())
        return Status();
    const QString target = branchRootAt(repository, path, revision, pool);
    if (target.isEmpty())
        return Status();
    QList<MergeSource> &sources = facts->merges[target];
    const MergeInfo::Sources growth = now.value().growthSince(before.value());
    for (auto it = growth.cbegin(); it != growth.cend(); ++it) {
        const int last = it.value().last();
        const QString branch =
                last <= revision ? branchRootAt(repository, it.key(), last, pool) : QString();
        if (branch != target)
            sources.append({it.key(), branch, it.value(), now.value().sources().value(it.key())});
    }
    return Status();
}

QList<quint64> ParentCheck::expectedMergeParents(quint64 head,
                                                 const QList<MergeSource> &sources) const
{
    QList<MergeSource> ordered = sources;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const MergeSource &a, const MergeSource &b) {
                         return a.svnPath < b.svnPath;
                     });
    QList<quint64> candidates;
    for (const MergeSource &source : std::as_const(ordered)) {
        const quint64 tip = source.branch.isEmpty() ? 0 : commitAt(source.branch, source.added.last());
        if (tip != 0
            && MergeParents::judge(m_graph, head, tip, source.merged,
                                   m_branches.value(source.branch).createdRevision)
                    == MergeParents::Outcome::Parent)
            candidates.append(tip);
    }
    return MergeParents::withoutRedundant(m_graph, head, candidates);
}

// The first parent must be the branch's previous recorded state or a commit
// it was made from in the revision; with mergeinfo changed at its root, the
// other parents must be those the mergeinfo gives, in their order.
Status ParentCheck::check(const QString &repository, ConversionLog &log,
                          QList<Difference> *differences)
{
    m_graph = RecordedGraph();
    m_branches.clear();
    m_factsRevision = 0;
    const GitObjectReader reader(repository);
    QList<ConversionLog::State> batch;
    for (;;) {
        batch.clear();
        ConversionLog::State next;
        while (batch.size() < commitsPerRead && log.next(&next))
            batch.append(next);
        if (batch.isEmpty())
            return Status();
        if (Status checked = checkBatch(repository, log, reader, batch, differences); !checked)
            return checked;
    }
}

// Checks a group of states in log order; their commits are read from git at once.
Status ParentCheck::checkBatch(const QString &repository, ConversionLog &log,
                               const GitObjectReader &reader,
                               const QList<ConversionLog::State> &states,
                               QList<Difference> *differences)
{
    QList<QByteArray> commits;
    for (const ConversionLog::State &state : states)
        commits.append(state.mark == 0 ? QByteArray() : log.commitOf(state.mark));
    QHash<QByteArray, QList<QByteArray>> gitParents;
    QList<QByteArray> wanted = commits;
    wanted.removeAll(QByteArray());
    const QHash<QByteArray, QByteArray> contents = reader.contentsOfType("commit", wanted);
    for (auto it = contents.cbegin(); it != contents.cend(); ++it)
        gitParents.insert(it.key(), HistoryCheck::parentsOfCommit(it.value()));
    for (int i = 0; i < states.size(); ++i) {
        const ConversionLog::State &state = states.at(i);
        const QByteArray &commit = commits.at(i);
        if (commit.isEmpty() || !gitParents.contains(commit)) {
            // Deleted, or reported as a mark difference.
            record(state.branch, state.revision, 0, true);
            continue;
        }
        if (const quint64 known = m_graph.idOf(commit)) {
            if (m_branches.value(state.branch).head != known)
                record(state.branch, state.revision, known, true);
            continue;
        }
        if (m_factsRevision != state.revision) {
            m_facts = RevisionFacts();
            m_factsRevision = state.revision;
            if (Status read = readFacts(repository, state.revision, &m_facts); !read)
                return read;
        }
        const QList<QByteArray> found = gitParents.value(commit);
        QList<quint64> checked;
        const QList<quint64> expected = expectedParents(state.branch, m_facts, found, &checked);
        if (checked != expected)
            differences->append(parentsDifference(repository, state, expected, found));
        record(state.branch, state.revision, m_graph.add(commit, state.revision, found), false);
    }
    return Status();
}

// The parents a new commit of branch must have, and in checked those of its
// parents found in git that are compared: all of them when mergeinfo
// decides, else only the first.
QList<quint64> ParentCheck::expectedParents(const QString &branch, const RevisionFacts &facts,
                                            const QList<QByteArray> &found,
                                            QList<quint64> *checked) const
{
    QList<quint64> firsts{m_branches.value(branch).head};
    for (const auto &[source, sourceRevision] : facts.madeFrom.values(branch))
        firsts.append(commitAt(source, sourceRevision));
    if (firsts.constFirst() == 0) {
        for (const auto &[source, sourceRevision] : facts.copiedFrom.values(branch))
            firsts.append(commitAt(source, sourceRevision));
    }
    const quint64 first = found.isEmpty() ? 0 : m_graph.idOf(found.constFirst());
    QList<quint64> expected;
    firsts.removeAll(0);
    if (first != 0 && firsts.contains(first))
        expected.append(first);
    else if (!firsts.isEmpty())
        expected.append(firsts.constFirst());
    if (!facts.merges.contains(branch)) {
        if (!found.isEmpty())
            checked->append(first);
        return expected;
    }
    expected += expectedMergeParents(expected.isEmpty() ? 0 : expected.constFirst(),
                                     facts.merges.value(branch));
    for (const QByteArray &parent : found)
        checked->append(m_graph.idOf(parent));
    return expected;
}

Difference ParentCheck::parentsDifference(const QString &repository,
                                          const ConversionLog::State &state,
                                          const QList<quint64> &expected,
                                          const QList<QByteArray> &found) const
{
    QStringList expectedNames;
    for (quint64 parent : expected)
        expectedNames.append(QString::fromLatin1(m_graph.nameOf(parent)));
    QStringList foundNames;
    for (const QByteArray &parent : found)
        foundNames.append(QString::fromLatin1(parent));
    const auto listed = [](const QStringList &names) {
        return names.isEmpty() ? QStringLiteral("none") : names.join(QLatin1Char(' '));
    };
    return Difference{state.revision, repository, state.branch, QString(),
                      QStringLiteral("parents"),
                      QStringLiteral("expected %1, found %2")
                              .arg(listed(expectedNames), listed(foundNames))};
}
