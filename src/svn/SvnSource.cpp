#include "svn/SvnSource.h"

#include "svn/RevisionExporter.h"
#include "svn/SvnError.h"
#include "svn/ExportProgress.h"
#include "svn/SvnRepository.h"

#include <cstdio>

#include <apr_general.h>
#include <svn_pools.h>
#include <svn_utf.h>

struct SvnSource::Private
{
    ExportOptions options;
    QList<QList<MatchRule>> matchRuleLists;
    MatchCounter *matchCounter = nullptr;
    QHash<QString, Repository *> repositories;
    IdentityMap identities;
    QString identityDomain;
    // The files and directories warned about once for the whole run.
    QSet<QByteArray> warnedPaths;
    SvnRepository repository;
    StandardOutputProgress progress;
    int exportedRevisions = 0;
};

Status SvnSource::initializeSvnLibraries()
{
    if (apr_initialize() != APR_SUCCESS)
        return Failure() << "You lose at apr_initialize().";
    // Ends APR when the process ends, after every pool of the run is gone.
    struct AprTermination
    {
        ~AprTermination() { apr_terminate(); }
    };
    static const AprTermination termination;
    // The libraries convert every path they open between UTF-8 and the
    // locale's character set; with this they keep their converters instead
    // of opening new ones each time. The pool lives until APR ends.
    static const bool convertersKept = [] {
        svn_utf_initialize2(FALSE, svn_pool_create(nullptr));
        return true;
    }();
    (void)convertersKept;
    return Status();
}

SvnSource::SvnSource()
    : d(std::make_unique<Private>())
{
}

SvnSource::~SvnSource() = default;

Result<std::unique_ptr<SvnSource>> SvnSource::open(const QString &path)
{
    std::unique_ptr<SvnSource> source(new SvnSource);
    Private &d = *source->d;

    if (svn_error_t *error = d.repository.openAt(path))
        return svnFailure(error, QStringLiteral("Failed to open repository"));
    // Without the latest revision there is nothing sound to convert; going
    // on would convert nothing and report success.
    if (svn_error_t *error = d.repository.readLatestRevision())
        return svnFailure(error,
                          QStringLiteral("Failed to read the latest revision of the repository"));
    return source;
}

void SvnSource::assignOptions(const ExportOptions &options)
{
    d->options = options;
}

void SvnSource::assignMatchRules(const QList<QList<MatchRule>> &matchRuleLists, MatchCounter *counter)
{
    d->matchRuleLists = matchRuleLists;
    d->matchCounter = counter;
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
    return d->repository.youngestRevision();
}

int SvnSource::exportedRevisionCount() const
{
    return d->exportedRevisions;
}

Status SvnSource::convertRevision(int revision)
{
    RevisionExporter exporter(revision, d->repository.fs(), d->repository.pool(), d->options);
    exporter.assignSettings(d->matchRuleLists, d->repositories, d->identities,
                            d->identityDomain, d->matchCounter);
    exporter.setWarnedPaths(&d->warnedPaths);
    exporter.setProgress(&d->progress);

    printf("Exporting revision %d ", revision);
    fflush(stdout);

    if (Status status = exporter.openRevisionRoot(); !status)
        return status;
    if (Status status = exporter.collectChangedPaths(); !status)
        return status;
    if (!exporter.needsCommit()) {
        printf(" nothing to do\n");
        fflush(stdout);
        return Status();
    }
    if (Status status = exporter.commitTransactions(); !status)
        return status;
    ++d->exportedRevisions;
    printf(" done\n");
    fflush(stdout);
    return Status();
}
