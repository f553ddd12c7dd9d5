#include "driver/Driver.h"

#include "common/Version.h"
#include "driver/CommandLineParser.h"
#include "driver/ConversionLock.h"
#include "driver/FailureReport.h"
#include "driver/OptionTable.h"
#include "repository/MessageFilter.h"
#include "repository/Repository.h"
#include "rules/RulesFileSet.h"
#include "svn/AuthorIdentity.h"
#include "svn/IdentityMapFile.h"
#include "svn/RevisionList.h"
#include "svn/SvnSource.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QList>
#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

CommandLineParser &options()
{
    return *CommandLineParser::instance();
}

void printUsage()
{
    options().usage(QString(), QStringLiteral("[Path to subversion repo]"));
}

} // namespace

Driver::Driver(int &argc, char **argv)
    : m_argc(argc), m_argv(argv)
{
}

Driver::~Driver() = default;

int Driver::run()
{
    const int commandLineExit = checkCommandLine();
    if (commandLineExit >= 0)
        return commandLineExit;

    m_application = std::make_unique<QCoreApplication>(m_argc, m_argv);
    // Before anything is read or written: a second run would rewind the logs
    // of the first while its fast-import still writes.
    Result<std::unique_ptr<ConversionLock>> locked = ConversionLock::acquire(QDir::currentPath());
    if (!locked) {
        reportFailure(locked.failure());
        return 1;
    }
    m_lock = locked.takeValue();
    m_rules = std::make_unique<RulesFileSet>(m_options.rulesFile, &*m_statistics);
    if (Status loaded = m_rules->load(); !loaded) {
        reportFailure(loaded.failure());
        return 1;
    }
    readRevisionBounds();
    // Every input is read before any repository is created or opened: a
    // conversion that could only end in a dead fast-import, or that would
    // convert other revisions or identities than the user chose, must not
    // begin.
    if (!readIdentities() || !checkMessageFilter() || !setUpSource() || !readRevisionFilter())
        return 1;

    const int firstRevision = negotiateResume();
    if (firstRevision < 0)
        return 1;
    m_source->assignRepositories(m_repositories);

    const bool converted = convertRevisions(firstRevision);
    const bool finished = finishRepositories();
    if (converted)
        warnIfNothingExported(firstRevision);
    m_statistics->printReport();

    m_source.reset();
    m_rules.reset();
    m_lock.reset();
    m_application.reset();
    return converted && finished ? 0 : 1;
}

int Driver::checkCommandLine()
{
    printf("Invoked as:'");
    for (int i = 0; i < m_argc; ++i)
        printf(" %s", m_argv[i]);
    printf("'\n");

    CommandLineParser::init(m_argc, m_argv);
    CommandLineParser::addOptionDefinitions(optionTable);
    m_statistics.emplace(options().contains(QStringLiteral("stats")));

    if (options().contains(QStringLiteral("version"))) {
        printf("Git version: %s\n", TALLOWMERE_VERSION);
        return 0;
    }
    if (options().contains(QStringLiteral("help"))) {
        printUsage();
        return 0;
    }
    if (options().arguments().size() != 1) {
        printUsage();
        return 12;
    }
    const QStringList rejected = options().rejectedOptions();
    if (!rejected.isEmpty()) {
        for (int i = 0; i < rejected.size(); ++i) {
            fprintf(stderr, "%s%s%s'\n", i == 0 ? "tallowmere failed: " : "          : ",
                    "unrecognized option or missing argument for; `",
                    rejected.at(i).toLocal8Bit().constData());
        }
        return 10;
    }
    if (!options().contains(QStringLiteral("rules"))) {
        fprintf(stderr, "tallowmere failed: please specify the rules using the 'rules' argument\n");
        return 11;
    }
    m_options = driverOptionsFromCommandLine();
    m_options.repositoryOptions.failureReporter = &m_failureReporter;
    warnAboutMissingIdentities();
    fflush(stdout);
    return -1;
}

void Driver::warnAboutMissingIdentities() const
{
    if (m_options.identityMapGiven || m_options.identityDomainGiven)
        return;
    fprintf(stderr,
            "WARNING; no identity-map or -domain specified, all commits will use default @%s"
            " email address\n\n",
            AuthorIdentity::defaultDomain);
}

void Driver::readRevisionBounds()
{
    // Revisions count from 1: a resume point below that is no resume point
    // (a cut-off below every revision would repeat the creation pass for ever).
    m_resumeFrom = std::max(m_options.resumeFrom, 0);
    m_maxRev = m_options.maxRev;
}

bool Driver::readIdentities()
{
    const QString &fileName = m_options.identityMapFile;
    const Result<IdentityMapContents> read = readIdentityMap(fileName);
    if (!read) {
        reportFailure(read.failure());
        return false;
    }
    const IdentityMapContents &contents = read.value();
    if (contents.rejectedLines.isEmpty()) {
        m_identities = contents.identities;
        return true;
    }
    const QByteArray file = fileName.toLocal8Bit();
    for (const RejectedIdentityLine &rejected : contents.rejectedLines)
        qCritical("%s:%d: not a git identity (a name, a blank and an address in angle brackets, "
                  "as in \"Jane Doe <jane@example.com>\"): %s",
                  file.constData(), rejected.lineNumber, rejected.text.constData());
    qCritical("Nothing was converted: mend the identity map %s and run again", file.constData());
    return false;
}

bool Driver::checkMessageFilter() const
{
    const std::optional<QString> &filter = m_options.repositoryOptions.messageFilter;
    if (!filter)
        return true;
    const Status startable = MessageFilter::checkCanStart(*filter);
    if (!startable)
        reportFailure(startable.failure());
    return startable.ok();
}

int Driver::negotiateResume()
{
    int cutoff = m_resumeFrom != 0 ? m_resumeFrom : INT_MAX;
    int minRev = 1;
    // A repository that lowers the cut-off below what an earlier one already
    // reported invalidates the pass; the cut-off only falls, so this ends.
    for (;;) {
        // Objects of an abandoned pass get no further calls.
        std::vector<std::unique_ptr<Repository>> abandoned = std::move(m_ownedRepositories);
        m_ownedRepositories.clear();
        m_repositories.clear();
        const PassResult result = createRepositoriesPass(cutoff, minRev);
        abandoned.clear();
        if (result == PassResult::Failed)
            return -1;
        if (result == PassResult::Complete)
            break;
    }

    if (cutoff < m_resumeFrom) {
        qCritical() << "Cannot resume from" << m_resumeFrom << "as there are errors in revision"
                    << cutoff;
        return -1;
    }
    if (minRev < m_resumeFrom)
        qDebug() << "skipping revisions" << minRev << "to" << m_resumeFrom - 1 << "as requested";
    m_earlierRunsExported = minRev > 1;
    return m_resumeFrom != 0 ? m_resumeFrom : minRev;
}

// One creation pass over the repository rules, in rule order.
Driver::PassResult Driver::createRepositoriesPass(int &cutoff, int &minRev)
{
    minRev = 1;
    const QList<RepositoryRule> rules = m_rules->repositoryRules();
    for (const RepositoryRule &rule : rules) {
        Result<std::unique_ptr<Repository>> created =
                repositoryFromRule(rule, m_repositories, m_options.repositoryOptions);
        if (!created) {
            reportFailure(created.failure());
            return PassResult::Failed;
        }
        Repository *repository = created.value().get();
        m_ownedRepositories.push_back(created.takeValue());
        m_repositories.insert(rule.name, repository);

        // The log could not be cut safely; going on would build on lines
        // that are no longer true.
        const Result<int> resumed = repository->prepareResume(cutoff, m_resumeFrom);
        if (!resumed) {
            reportFailure(resumed.failure());
            return PassResult::Failed;
        }
        const int next = resumed.value();
        if (cutoff < minRev)
            return PassResult::Repeat;
        minRev = std::max(minRev, next);
    }
    return PassResult::Complete;
}

void Driver::releaseRepository(Repository *repository)
{
    for (std::unique_ptr<Repository> &owned : m_ownedRepositories) {
        if (owned.get() == repository)
            owned.reset();
    }
}

QString Driver::identityDomain() const
{
    return AuthorIdentity::domainOf(m_options.identityDomain);
}

bool Driver::setUpSource()
{
    if (Status status = SvnSource::initializeSvnLibraries(); !status) {
        reportFailure(status.failure());
        return false;
    }
    Result<std::unique_ptr<SvnSource>> opened =
            SvnSource::open(m_options.sourcePath);
    if (!opened) {
        reportFailure(opened.failure());
        return false;
    }
    m_source = opened.takeValue();
    m_source->assignOptions(m_options.exportOptions);
    m_source->assignMatchRules(m_rules->matchRuleLists(), &*m_statistics);
    m_source->assignIdentityMap(m_identities);
    m_source->assignIdentityDomain(identityDomain());
    return true;
}

bool Driver::readRevisionFilter()
{
    Result<RevisionSet> read = readRevisionList(m_options.revisionsFile,
                                                [this] { return m_source->latestRevision(); });
    if (!read) {
        reportFailure(read.failure());
        return false;
    }
    m_revisionFilter = read.takeValue();
    return true;
}

bool Driver::convertRevisions(int firstRevision)
{
    const int latest = m_source->latestRevision();
    // Revisions beyond the newest one do not exist; asking for them would only
    // fail the run after everything else was converted.
    const int lastRevision = m_maxRev >= 1 ? std::min(m_maxRev, latest) : latest;
    const bool filterActive = !m_revisionFilter.isEmpty();

    m_lastRevision = lastRevision;
    for (qint64 revision = firstRevision; revision <= lastRevision; ++revision) {
        if (filterActive && !m_revisionFilter.contains(int(revision))) {
            printf(".");
            fflush(stdout);
            continue;
        }
        ++m_revisionsConverted;
        if (filterActive)
            printf("\n");
        const Status converted = m_source->convertRevision(int(revision));
        if (!converted)
            reportFailure(converted.failure());
        // A fast-import found dead outside a commit (while branch updates
        // were sent, say) has lost what it was given: go no further. Its
        // failure was printed when it was found; a fatal one (a failing
        // message filter) is left to the driver to report.
        const Status imported = importStatus();
        if (!imported && imported.failure().isFatal())
            reportFailure(imported.failure());
        if (!converted || !imported)
            return false;
    }
    return true;
}

// Rules that ignore every path give empty repositories and a run that looks
// successful; say so, unless an earlier run already exported something.
void Driver::warnIfNothingExported(int firstRevision) const
{
    if (m_revisionsConverted == 0 || m_source->exportedRevisionCount() > 0 || m_earlierRunsExported)
        return;
    QStringList rulesFiles;
    for (const QString &name : m_options.rulesFile.split(QLatin1Char(','), Qt::SkipEmptyParts))
        rulesFiles.append(QLatin1Char('"') + name + QLatin1Char('"'));
    qWarning("WARN: no rule exported any path of revisions %d to %d: the match rules of %s ignore "
             "every path these revisions changed",
             firstRevision, m_lastRevision, qPrintable(rulesFiles.join(QStringLiteral(", "))));
}

bool Driver::finishRepositories()
{
    // In name order, so that every run writes and prints the same.
    QStringList names = m_repositories.keys();
    std::sort(names.begin(), names.end());
    bool importFailed = false;
    for (const QString &name : std::as_const(names)) {
        Repository *repository = m_repositories.value(name);
        if (Status finished = repository->finish(); !finished) {
            reportFailure(finished.failure());
            importFailed = true;
        }
        // Stops its fast-import before the next repository is finished; an
        // end that lost commits was reported when it happened.
        if (!repository->stop())
            importFailed = true;
        releaseRepository(repository);
    }
    m_repositories.clear();
    m_ownedRepositories.clear();
    fflush(stdout);
    // A fast-import that failed or had to be killed may have lost commits.
    return !importFailed;
}

Status Driver::importStatus() const
{
    for (const std::unique_ptr<Repository> &owned : m_ownedRepositories) {
        if (!owned)
            continue;
        if (Status status = owned->importStatus(); !status)
            return status;
    }
    return Status();
}
