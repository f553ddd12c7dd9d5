#include "svn/PathRouting.h"

#include "rules/MatchCounter.h"

#include <QRegExp>

namespace {

// Replaces every match of pattern in text by the template, back-references
// expanded, then applies the substitutions in order.
QString expandTemplate(const QRegExp &pattern, const QString &text, const QString &templateText,
                       const QList<Substitution> &substitutions)
{
    QString result = pattern.replaceIn(text, templateText);
    for (const Substitution &substitution : substitutions)
        result = substitution.apply(result);
    return result;
}

} // namespace

namespace PathRouting {

bool inForceAt(const MatchRule &rule, int revision)
{
    return rule.minRevision <= revision && (rule.maxRevision == -1 || rule.maxRevision >= revision);
}

const MatchRule *firstMatchingRule(const QList<MatchRule> &ruleList, const QString &path,
                                   int revision)
{
    for (const MatchRule &rule : ruleList) {
        if (!inForceAt(rule, revision))
            continue;
        if (rule.pattern.indexIn(path) != 0)
            continue;
        return &rule;
    }
    return nullptr;
}

const MatchRule *copySourceRule(const QList<MatchRule> &ruleList, const QString &sourcePath,
                                int revision, int *matchLength, MatchCounter *counter)
{
    for (const MatchRule &rule : ruleList) {
        if (!inForceAt(rule, revision))
            continue;
        if (rule.action == RuleAction::Ignore)
            continue;
        if (rule.pattern.indexIn(sourcePath) != 0)
            continue;
        *matchLength = rule.pattern.matchedLength();
        if (counter)
            counter->countMatch(rule);
        return &rule;
    }
    return nullptr;
}

RuleTarget ruleTarget(const MatchRule &rule, const QString &path, int matchLength,
                      const RepositoryResolver &effectiveRepository)
{
    RuleTarget target;
    target.svnPrefix = path.left(matchLength);
    target.repository = expandTemplate(rule.pattern, target.svnPrefix, rule.repository,
                                       rule.repositorySubstitutions);
    target.effectiveRepository = effectiveRepository(target.repository);
    target.branch = expandTemplate(rule.pattern, target.svnPrefix, rule.branch,
                                   rule.branchSubstitutions);
    target.pathInBranch = rule.pattern.replaceIn(target.svnPrefix, rule.prefix)
            + path.mid(target.svnPrefix.length());
    return target;
}

std::optional<RuleTarget> branchRoot(const QList<MatchRule> &ruleList, const QString &path,
                                     int revision, const RepositoryResolver &effectiveRepository)
{
    const MatchRule *rule = firstMatchingRule(ruleList, path, revision);
    if (!rule || rule->action != RuleAction::Export)
        return std::nullopt;
    rule->pattern.indexIn(path);
    RuleTarget target = ruleTarget(*rule, path, rule->pattern.matchedLength(), effectiveRepository);
    if (target.svnPrefix != path || !target.pathInBranch.isEmpty())
        return std::nullopt;
    return target;
}

} // namespace PathRouting
