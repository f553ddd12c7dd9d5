#include "repository/Repository.h"

#include "repository/FastImportRepository.h"
#include "repository/ForwardingRepository.h"

#include <QDebug>

Repository *repositoryFromRule(const RepositoryRule &rule,
                               const QHash<QString, Repository *> &repositories,
                               const RepositoryOptions &options)
{
    if (rule.targetName.isEmpty())
        return new FastImportRepository(rule, options);

    Repository *target = repositories.value(rule.targetName);
    if (!target) {
        qCritical() << "no repository with name" << rule.targetName << "found at"
                    << (rule.rulesFile + QLatin1Char(':') + QString::number(rule.lineNumber));
        return nullptr;
    }
    return new ForwardingRepository(rule.name, target, rule.prefix);
}
