#include "svn/RuleRouter.h"

QString RuleRouter::effectiveRepository(const QString &name) const
{
    Repository *repository = m_repositories.value(name);
    return repository ? repository->targetRepository()->name() : name;
}

RuleTarget RuleRouter::target(const MatchRule &rule, const QString &path, int matchLength) const
{
    return PathRouting::ruleTarget(rule, path, matchLength, resolver());
}

PathRouting::RepositoryResolver RuleRouter::resolver() const
{
    return [this](const QString &name) { return effectiveRepository(name); };
}
