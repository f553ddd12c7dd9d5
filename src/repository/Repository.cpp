#include "repository/Repository.h"

#include "repository/FastImportRepository.h"
#include "repository/ForwardingRepository.h"

#include <QDebug>

Result<std::unique_ptr<Repository>> repositoryFromRule(const RepositoryRule &rule,
                                                       const QHash<QString, Repository *> &repositories,
                                                       const RepositoryOptions &options)
{
    if (rule.targetName.isEmpty()) {
        Result<std::unique_ptr<FastImportRepository>> created =
                FastImportRepository::create(rule, options);
        if (!created)
            return created.failure();
        return std::unique_ptr<Repository>(created.takeValue());
    }

    Repository *target = repositories.value(rule.targetName);
    if (!target)
        return Failure() << "no repository with name" << rule.targetName << "found at"
                         << (rule.rulesFile + QLatin1Char(':') + QString::number(rule.lineNumber));
    return std::unique_ptr<Repository>(
            std::make_unique<ForwardingRepository>(rule.name, target, rule.prefix));
}
