#include "survey/SharedRefs.h"

#include "svn/RevisionQueries.h"

namespace {

void stretch(SharedRefs::Writer &writer, int revision)
{
    if (writer.firstRevision == -1)
        writer.firstRevision = revision;
    writer.lastRevision = revision;
}

} // namespace

SharedRefs::SharedRefs(const QList<QList<MatchRule>> &ruleLists,
                       PathRouting::RepositoryResolver effectiveRepository)
    : m_ruleLists(ruleLists), m_effectiveRepository(std::move(effectiveRepository))
{
}

QString SharedRefs::keyOf(const QString &matchedPath, const RuleTarget &target)
{
    // Paths that land in different directories of one branch (rules with a
    // prefix) share the ref without overwriting each other.
    const int below = matchedPath.size() - target.svnPrefix.size();
    const QString root = target.pathInBranch.left(target.pathInBranch.size() - below);
    return target.effectiveRepository + QLatin1Char('\n') + target.branch + QLatin1Char('\n')
            + root;
}

bool SharedRefs::stillWrites(svn_fs_t *fs, apr_pool_t *pool, int revision, const QString &path,
                             const QString &key) const
{
    QByteArray directory = path.toUtf8();
    if (directory.endsWith('/'))
        directory.chop(1);
    if (!RevisionQueries::isDirectoryInRevision(fs, revision, directory.constData(), pool))
        return false;
    for (const QList<MatchRule> &ruleList : m_ruleLists) {
        const MatchRule *rule = PathRouting::firstMatchingRule(ruleList, path, revision);
        if (!rule || rule->action != RuleAction::Export)
            continue;
        rule->pattern.indexIn(path);
        const RuleTarget target = PathRouting::ruleTarget(*rule, path, rule->pattern.matchedLength(),
                                                          m_effectiveRepository);
        if (keyOf(path, target) == key)
            return true;
    }
    return false;
}

void SharedRefs::record(svn_fs_t *fs, apr_pool_t *pool, int revision, const QString &matchedPath,
                        const RuleTarget &target, bool deletion)
{
    noteRef(revision, target, deletion && matchedPath == target.svnPrefix);
    const QString key = keyOf(matchedPath, target);
    const QString &path = target.svnPrefix;
    auto owner = m_owners.find(key);
    if (deletion) {
        if (owner != m_owners.end() && owner->path == path && matchedPath == path)
            m_owners.erase(owner);
        return;
    }
    if (owner == m_owners.end() || owner->path == path) {
        if (owner == m_owners.end())
            owner = m_owners.insert(key, Owner{path, Writer()});
        stretch(owner->writes, revision);
        auto shared = m_shared.find(key);
        if (shared != m_shared.end())
            stretch(shared->writers[path], revision);
        return;
    }
    if (!stillWrites(fs, pool, revision, owner->path, key)) {
        *owner = Owner{path, Writer()};
        stretch(owner->writes, revision);
        return;
    }
    auto shared = m_shared.find(key);
    if (shared == m_shared.end()) {
        shared = m_shared.insert(key, SharedRef{target.effectiveRepository, target.branch, {}});
        shared->writers.insert(owner->path, owner->writes);
    }
    stretch(shared->writers[path], revision);
}

void SharedRefs::noteRef(int revision, const RuleTarget &target, bool dropped)
{
    const QString ref = target.branch.startsWith(QLatin1String("refs/"))
            ? target.branch
            : QLatin1String("refs/heads/") + target.branch;
    QSet<QString> &live = m_liveRefs[target.effectiveRepository];
    if (dropped) {
        live.remove(ref);
        return;
    }
    if (live.contains(ref))
        return;
    for (const QString &other : qAsConst(live)) {
        if (other.startsWith(ref + QLatin1Char('/')) || ref.startsWith(other + QLatin1Char('/'))) {
            const QString clash = target.effectiveRepository + QLatin1String(": ") + other
                    + QLatin1String(" and ") + ref;
            if (!m_clashes.contains(clash))
                m_clashes.insert(clash, revision);
        }
    }
    live.insert(ref);
}
