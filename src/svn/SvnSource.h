#pragma once

#include "driver/IdentityMap.h"
#include "rules/MatchRule.h"

#include <QHash>
#include <QList>
#include <QString>

class Repository;

// An opened Subversion repository and the settings a conversion needs.
class SvnSource
{
public:
    // Initialises APR; exits with status 1 when that fails.
    static void initializeSvnLibraries();

    // Opens the repository at path; exits with status 1 when that fails.
    explicit SvnSource(const QString &path);
    ~SvnSource();

    SvnSource(const SvnSource &) = delete;
    SvnSource &operator=(const SvnSource &) = delete;

    void assignMatchRules(const QList<QList<MatchRule>> &matchRuleLists);
    void assignRepositories(const QHash<QString, Repository *> &repositories);
    void assignIdentityMap(const IdentityMap &identities);
    void assignIdentityDomain(const QString &domain);

    int latestRevision() const;
    bool convertRevision(int revision);

private:
    struct Private;
    Private *d;
};
