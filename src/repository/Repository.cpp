#include "repository/Repository.h"

#include "repository/FastImportRepository.h"
#include "repository/ForwardingRepository.h"

#include <QDebug>

std::unique_ptr<Repository> repositoryFromRule(const RepositoryRule &rule,
                               const QHash<QString, Repository *> &repositories,
                               const RepositoryOptions &options)
{
    if (rule.targetName.isEmpty())
        return std::make_unique<FastImportRepository>(rule, options);

    Repository *target = repositories.value(rule.targetName);
    if (!target) {
        qCritical() << "no repository with name" << rule.targetName << "found at"
                    << (rule.rulesFile + QLatin1Char(':') + QString::number(rule.lineNumber));
        return nullptr;
    }
    return std::make_unique<ForwardingRepository>(rule.name, target, rule.prefix);
}
