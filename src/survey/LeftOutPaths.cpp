#include "survey/LeftOutPaths.h"

#include "svn/PathRouting.h"

#include <algorithm>

namespace {

// The last rule of a rules file when it ignores every path.
const MatchRule *catchAllOf(const QList<MatchRule> &ruleList)
{
    if (ruleList.isEmpty())
        return nullptr;
    const MatchRule &last = ruleList.constLast();
    if (last.action != RuleAction::Ignore || last.pattern.indexIn(QStringLiteral("/")) != 0)
        return nullptr;
    return &last;
}

QString parentOf(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace

LeftOutPaths::LeftOutPaths(const QList<QList<MatchRule>> &ruleLists) : m_ruleLists(ruleLists) {}

void LeftOutPaths::look(const ChangedPathsReader::Revision &revision)
{
    for (const ChangedPathsReader::ChangedPath &change : revision.changes) {
        if (change.kind == svn_fs_path_change_delete)
            continue;
        const bool copiedDirectory = change.isDirectory && !change.copyFromPath.isEmpty();
        const QString path = QString::fromUtf8(change.path);
        const QString matchedPath = change.isDirectory ? path + QLatin1Char('/') : path;
        bool leftOutByCatchAll = false;
        bool takenElsewhere = false;
        for (const QList<MatchRule> &ruleList : qAsConst(m_ruleLists)) {
            const MatchRule *rule =
                    PathRouting::firstMatchingRule(ruleList, matchedPath, revision.number);
            if (!rule)
                continue;
            m_coveredRules.insert(rule->summary());
            const MatchRule *catchAll = catchAllOf(ruleList);
            if (catchAll && *rule == *catchAll)
                leftOutByCatchAll = true;
            else
                takenElsewhere = true;
        }
        if (change.isDirectory && !copiedDirectory)
            continue;
        m_sawContent = true;
        if (!leftOutByCatchAll || takenElsewhere)
            continue;
        Group &group = m_groups[copiedDirectory ? path : parentOf(path)];
        ++(copiedDirectory ? group.copiedDirectories : group.fileChanges);
        if (group.firstRevision == -1)
            group.firstRevision = revision.number;
        group.lastRevision = revision.number;
    }
}

QMap<QString, LeftOutPaths::Group> LeftOutPaths::byTopDirectory() const
{
    QMap<QString, Group> groups;
    for (auto it = m_groups.cbegin(); it != m_groups.cend(); ++it) {
        QString top = it.key();
        for (QString ancestor = top.left(top.lastIndexOf(QLatin1Char('/'))); !ancestor.isEmpty();
             ancestor.truncate(ancestor.lastIndexOf(QLatin1Char('/')))) {
            if (m_groups.contains(ancestor))
                top = ancestor;
        }
        Group &group = groups[top];
        group.fileChanges += it->fileChanges;
        group.copiedDirectories += it->copiedDirectories;
        if (group.firstRevision == -1 || it->firstRevision < group.firstRevision)
            group.firstRevision = it->firstRevision;
        group.lastRevision = std::max(group.lastRevision, it->lastRevision);
    }
    return groups;
}
