#pragma once

#include "repository/Repository.h"
#include "rules/MatchRule.h"
#include "svn/PathRouting.h"
#include "svn/RuleTarget.h"

#include <QHash>
#include <QString>
#include <QStringList>

// Where the rules send a path, given the repositories of the run: the
// target of a matched path and the repository behind a name.
class RuleRouter
{
public:
    explicit RuleRouter(const QHash<QString, Repository *> &repositories)
        : m_repositories(repositories)
    {
    }

    // The repository the rules call name; null when there is none.
    Repository *repository(const QString &name) const { return m_repositories.value(name); }
    // The repository that receives what the rules send to the named one.
    QString effectiveRepository(const QString &name) const;
    // The target of path under rule, whose pattern matched its first
    // matchLength characters.
    RuleTarget target(const MatchRule &rule, const QString &path, int matchLength) const;
    // The names of every repository, in no order.
    QStringList repositoryNames() const { return m_repositories.keys(); }
    // effectiveRepository as a resolver, for the routing functions.
    PathRouting::RepositoryResolver resolver() const;

private:
    QHash<QString, Repository *> m_repositories;
};
