#include "svn/SvnSource.h"

#include "svn/RevisionExporter.h"
#include "svn/SvnError.h"

#include <QDebug>

#include <cstdio>
#include <cstdlib>

#include <apr_general.h>
#include <svn_dirent_uri.h>
#include <svn_pools.h>
#include <svn_repos.h>

struct SvnSource::Private
{
    QList<QList<MatchRule>> matchRuleLists;
    QHash<QString, Repository *> repositories;
    IdentityMap identities;
    QString identityDomain;
    apr_pool_t *globalPool = nullptr;
    apr_pool_t *scratchPool = nullptr;
    svn_fs_t *fs = nullptr;
    svn_revnum_t headRevision = 0;
};

void SvnSource::initializeSvnLibraries()
{
    if (apr_initialize() != APR_SUCCESS) {
        fprintf(stderr, "You lose at apr_initialize().\n");
        exit(1);
    }
    static bool terminationRegistered = false;
    if (!terminationRegistered) {
        atexit(apr_terminate);
        terminationRegistered = true;
    }
}

SvnSource::SvnSource(const QString &path)
    : d(new Private)
{
    d->globalPool = svn_pool_create(nullptr);
    d->scratchPool = svn_pool_create(nullptr);

    QString repositoryPath = path;
    while (repositoryPath.endsWith(QLatin1Char('/')))
        repositoryPath.chop(1);
    // The libraries insist on canonical paths ("a//b" or "a/./b" would trip
    // their assertions), so the path is put in canonical form first.
    const char *localPath = svn_dirent_canonicalize(
            repositoryPath.toLocal8Bit().constData(), d->scratchPool);

    svn_repos_t *repository = nullptr;
    if (svn_error_t *error =
                svn_repos_open3(&repository, localPath, nullptr, d->globalPool, d->scratchPool)) {
        reportSvnError(error);
        qCritical() << "Failed to open repository";
        exit(1);
    }
    d->fs = svn_repos_fs(repository);
    // Without the latest revision there is nothing sound to convert; going
    // on would convert nothing and report success.
    if (svn_error_t *error = svn_fs_youngest_rev(&d->headRevision, d->fs, d->globalPool)) {
        reportSvnError(error);
        qCritical() << "Failed to read the latest revision of the repository";
        exit(1);
    }
}

SvnSource::~SvnSource()
{
    svn_pool_destroy(d->scratchPool);
    svn_pool_destroy(d->globalPool);
    delete d;
}

void SvnSource::assignMatchRules(const QList<QList<MatchRule>> &matchRuleLists)
{
    d->matchRuleLists = matchRuleLists;
}

void SvnSource::assignRepositories(const QHash<QString, Repository *> &repositories)
{
    d->repositories = repositories;
}

void SvnSource::assignIdentityMap(const IdentityMap &identities)
{
    d->identities = identities;
}

void SvnSource::assignIdentityDomain(const QString &domain)
{
    d->identityDomain = domain;
}

int SvnSource::latestRevision() const
{
    return int(d->headRevision);
}

bool SvnSource::convertRevision(int revision)
{
    RevisionExporter exporter(revision, d->fs, d->globalPool);
    exporter.assignSettings(d->matchRuleLists, d->repositories, d->identities,
                            d->identityDomain);

    printf("Exporting revision %d ", revision);
    fflush(stdout);

    if (exporter.openRevisionRoot() != 0)
        return false;
    if (exporter.collectChangedPaths() != 0)
        return false;
    if (!exporter.needsCommit()) {
        printf(" nothing to do\n");
        fflush(stdout);
        return true;
    }
    if (exporter.commitTransactions() != 0)
        return false;
    printf(" done\n");
    fflush(stdout);
    return true;
}
