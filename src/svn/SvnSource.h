#pragma once

#include "common/Failure.h"
#include "rules/MatchRule.h"
#include "svn/ExportOptions.h"
#include "svn/IdentityMap.h"

#include <QHash>
#include <QList>
#include <QString>

#include <memory>

class MatchCounter;
class Repository;

// An opened Subversion repository and the settings a conversion needs.
class SvnSource
{
public:
    // Initialises APR.
    [[nodiscard]] static Status initializeSvnLibraries();

    // Opens the repository at path and reads its latest revision.
    [[nodiscard]] static Result<std::unique_ptr<SvnSource>> open(const QString &path);
    ~SvnSource();

    SvnSource(const SvnSource &) = delete;
    SvnSource &operator=(const SvnSource &) = delete;

    void assignOptions(const ExportOptions &options);
    // Every rule selected for a path is counted with counter, when there is one.
    void assignMatchRules(const QList<QList<MatchRule>> &matchRuleLists, MatchCounter *counter = nullptr);
    void assignRepositories(const QHash<QString, Repository *> &repositories);
    void assignIdentityMap(const IdentityMap &identities);
    void assignIdentityDomain(const QString &domain);

    int latestRevision() const;
    Status convertRevision(int revision);
    // How many converted revisions had a path that a rule exported.
    int exportedRevisionCount() const;

private:
    SvnSource();

    struct Private;
    std::unique_ptr<Private> d;
};
