#include "verify/Verifier.h"

#include "common/ProgressLine.h"
#include "repository/RepositoryFileNames.h"
#include "rules/RulesFileSet.h"
#include "svn/AuthorIdentity.h"
#include "svn/IdentityMapFile.h"
#include "svn/RevisionList.h"
#include "svn/SvnRepository.h"
#include "verify/AnnotatedTagCheck.h"
#include "verify/BranchTrees.h"
#include "verify/CoverageCheck.h"
#include "verify/GitPackWindows.h"
#include "verify/HistoryCheck.h"
#include "verify/MetadataCheck.h"
#include "verify/ParentCheck.h"
#include "verify/RecordedStates.h"
#include "verify/RefCheck.h"
#include "verify/StateWalk.h"
#include "verify/StretchProcess.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdio>

#include <svn_cache_config.h>

namespace {

QString logFileOf(const QString &repository)
{
    return QStringLiteral("log-") + RepositoryFileNames::flattenedName(repository);
}

// The failure with its message in other words, after the same cause.
Failure reworded(const Failure &failure, const QString &message)
{
    Failure result = Failure::fatal(message);
    result.setCause(failure.cause());
    return result;
}

// Revisions 1 to last in two stretches, (first, last) each, walked side by
// side: two for the two cores of a small machine, since each stretch has
// caches of its own. The work of a revision grows with the branches alive,
// which grow with the history, and the later stretch first builds every tree:
// on a history of 100,000 revisions and 1,800 branches and tags, the first
// three fifths took as long as the rest.
QList<QPair<int, int>> stretchesOf(int last)
{
    const int end = last * 3 / 5;
    if (end < 1)
        return {{1, last}};
    return {{1, end}, {end + 1, last}};
}

} // namespace

Verifier::Verifier(const Options &options)
    : m_options(options)
{
}

Verifier::~Verifier() = default;

Status Verifier::run()
{
    // Subversion's cache, in each of the two processes that walk the history:
    // it fills within the first thousands of revisions. Twice the size made
    // neither 20,000 nor 100,000 revisions faster.
    svn_cache_config_t cacheConfig = *svn_cache_config_get();
    cacheConfig.cache_size = quint64(32) << 20;
    svn_cache_config_set(&cacheConfig);
    boundGitPackWindows();
    SvnRepository svn;
    if (Status opened = svn.open(m_options.svnRepository); !opened)
        return reworded(opened.failure(),
                        QStringLiteral("cannot open the Subversion repository %1")
                                .arg(m_options.svnRepository));
    RulesFileSet rules(m_options.rulesFiles);
    Status status = rules.load();
    const QStringList repositories = status ? repositoriesToCheck(rules) : QStringList();
    if (status && repositories.isEmpty())
        status = Failure::fatal(QStringLiteral("the rules name no repository %1")
                                        .arg(m_options.onlyRepository));
    Logs logs;
    if (status)
        status = openLogs(repositories, &logs);
    if (status)
        status = walk(svn, rules, repositories, logs);
    if (!status && status.failure().message().startsWith(QLatin1String("cannot read revision")))
        return reworded(status.failure(), status.failure().message() + QStringLiteral(" of ")
                                                  + m_options.svnRepository);
    return status;
}

void Verifier::printReport() const
{
    m_report.print(m_differences, m_options.json);
}

// The whole check once the logs are open: the states in revision order with
// Subversion's trees alongside, then the refs, tags and parents.
Status Verifier::walk(SvnRepository &svn, const RulesFileSet &rules,
                      const QStringList &repositories, const Logs &logs)
{
    Result<MetadataCheck::Options> metadata = metadataOptions();
    if (!metadata)
        return metadata.failure();
    const int youngest = svn.youngestRevision();
    m_lastRevision = m_options.maxRevision > 0 ? std::min(m_options.maxRevision, youngest)
                                               : youngest;
    m_report.setRange(m_lastRevision, youngest);
    // The trees with their caches are let go before the parents are read.
    if (Status compared = compareTrees(rules, repositories, logs, metadata.value()); !compared)
        return compared;
    return checkHistory(repositories, logs, svn, rules, youngest);
}

// The states in stretches of the history walked side by side, then, with
// the trees of the last stretch, the branches alive at the end, the refs and
// the tags.
Status Verifier::compareTrees(const RulesFileSet &rules, const QStringList &repositories,
                              const Logs &logs, const MetadataCheck::Options &metadata)
{
    std::unique_ptr<StretchProcess::Shared, void (*)(StretchProcess::Shared *)> shared(
            StretchProcess::makeShared(), StretchProcess::freeShared);
    if (!shared)
        return Failure::fatal(QStringLiteral("cannot map memory to share with a process"));
    StateWalk::Setup setup;
    setup.svnRepository = m_options.svnRepository;
    setup.settings.matchRuleLists = rules.matchRuleLists();
    setup.settings.repositoryRules = rules.repositoryRules();
    setup.settings.svnIgnore = m_options.svnIgnore;
    setup.settings.svnAttributes = m_options.svnAttributes;
    setup.settings.emptyDirs = m_options.emptyDirs;
    setup.repositories = repositories;
    setup.headsOnly = m_options.headsOnly;
    setup.sample = m_options.sample;
    setup.emptyDirs = m_options.emptyDirs;
    if (Status read = readCoverage(&setup.coverage); !read)
        return read;
    setup.metadata = metadata;
    setup.stop = &shared->stop;
    setup.passed = &shared->passed;
    std::vector<std::unique_ptr<StateWalk>> stretches;
    for (const auto &[first, last] : stretchesOf(m_lastRevision)) {
        Logs own;
        if (Status opened = openLogs(repositories, &own); !opened)
            return opened;
        stretches.push_back(std::make_unique<StateWalk>(setup, std::move(own), first, last));
    }
    if (Status walked = runSideBySide(stretches); !walked)
        return walked;
    StateWalk &end = *stretches.back();
    if (setup.coverage) {
        if (Status alive = checkAlive(repositories, logs, end.trees()); !alive)
            return alive;
    }
    return checkTagsAndRefs(repositories, logs, end.trees(), end.metadata());
}

// Runs the first stretch in a process of its own and the last in this one,
// with the progress line; the failure of the earlier stretch first.
Status Verifier::runSideBySide(const std::vector<std::unique_ptr<StateWalk>> &stretches)
{
    StretchProcess child;
    if (stretches.size() > 1) {
        if (Status started = child.start(*stretches.front()); !started)
            return started;
    }
    ProgressLine progress;
    Status status = stretches.back()->run(&progress);
    if (stretches.size() > 1) {
        VerifyReport counted;
        status = child.finish(&m_differences, &counted).then(status);
        m_report.addStates(counted);
    }
    m_differences += stretches.back()->differences();
    m_report.addStates(stretches.back()->report());
    return status;
}

// With every state checked, the revisions the conversion was meant to
// cover, for following the changes of every branch.
Status Verifier::readCoverage(std::optional<RevisionSet> *meant) const
{
    if (m_options.headsOnly || m_options.sample != 0)
        return Status();
    const int youngest = m_lastRevision;
    Result<RevisionSet> read =
            readRevisionList(m_options.revisionsFile, [youngest] { return youngest; });
    if (!read)
        return read.failure();
    *meant = read.value();
    return Status();
}

// Every branch and tag that holds files in Subversion at the end of the
// range is alive in the log; one without a file cannot be a ref in git and
// needs none. A --revisions-file may leave out the revision that made one.
Status Verifier::checkAlive(const QStringList &repositories, const Logs &logs,
                            BranchTrees &branchTrees)
{
    if (!m_options.revisionsFile.isEmpty())
        return Status();
    // In the order of their names, so that the report is the same on every run.
    QList<QPair<QString, QString>> branches = branchTrees.branches();
    std::sort(branches.begin(), branches.end());
    for (const auto &[repository, branch] : std::as_const(branches)) {
        const int index = int(repositories.indexOf(repository));
        TreeNodePointer tree;
        if (index < 0)
            continue;
        if (Status read = branchTrees.tree(repository, branch, &tree); !read)
            return StateWalk::cannotRead(m_lastRevision, read);
        // A deletion recorded after the end of the range says nothing of
        // the branch at its end: the walk followed its changes up to there.
        const ConversionLog *log = logs.at(size_t(index)).get();
        const auto last = log ? log->lastStates().constFind(branch)
                              : QMap<QString, ConversionLog::State>::const_iterator();
        if (!tree || tree->treeId().isEmpty()
            || (log && last != log->lastStates().constEnd()
                && (last->mark != 0 || last->revision > m_lastRevision)))
            continue;
        m_differences.append(Difference{m_lastRevision, repository, branch,
                                        RefCheck::refOf(branch), QStringLiteral("missing state"),
                                        QStringLiteral("alive in Subversion, not in the log")});
    }
    return Status();
}

// What the metadata is checked with: the identities, filter and metadata
// lines the conversion was made with.
Result<MetadataCheck::Options> Verifier::metadataOptions() const
{
    const Result<IdentityMapContents> identities = readIdentityMap(m_options.identityMap);
    if (!identities)
        return identities.failure();
    if (!identities.value().rejectedLines.isEmpty()) {
        const RejectedIdentityLine &line = identities.value().rejectedLines.constFirst();
        return Failure::fatal(QStringLiteral("%1:%2: not a git identity: %3")
                                      .arg(m_options.identityMap)
                                      .arg(line.lineNumber)
                                      .arg(QString::fromUtf8(line.text)));
    }
    if (m_options.messageFilter) {
        if (Status startable = MessageFilter::checkCanStart(*m_options.messageFilter); !startable)
            return startable.failure();
    }
    MetadataCheck::Options options;
    options.identities = identities.value().identities;
    options.identityDomain = AuthorIdentity::domainOf(m_options.identityDomain);
    options.messageFilter = m_options.messageFilter;
    options.addMetadata = m_options.addMetadata;
    options.addMetadataNotes = m_options.addMetadataNotes;
    options.svnMergeinfo = m_options.svnMergeinfo;
    return options;
}

// The repositories that hold git data (forwarding ones write into these),
// or the one --repository names.
QStringList Verifier::repositoriesToCheck(const RulesFileSet &rules) const
{
    QStringList repositories;
    for (const RepositoryRule &rule : rules.repositoryRules()) {
        if (rule.targetName.isEmpty() && !repositories.contains(rule.name)
            && (m_options.onlyRepository.isEmpty() || rule.name == m_options.onlyRepository))
            repositories.append(rule.name);
    }
    return repositories;
}

// Opens the log of each repository; none for a repository the conversion
// never wrote to.
Status Verifier::openLogs(const QStringList &repositories, Logs *logs)
{
    int opened = 0;
    for (const QString &name : repositories) {
        if (!QFileInfo::exists(logFileOf(name))) {
            logs->emplace_back();
            continue;
        }
        auto log = std::make_unique<ConversionLog>();
        if (Status read = log->read(logFileOf(name), RepositoryFileNames::marksFilePath(name));
            !read)
            return read;
        ++opened;
        logs->push_back(std::move(log));
    }
    m_report.setRepositories(opened);
    return Status();
}

// Every ref and annotated tag of each repository.
Status Verifier::checkTagsAndRefs(const QStringList &repositories, const Logs &logs,
                                  BranchTrees &branchTrees, MetadataCheck &metadata)
{
    ConversionLog none;
    AnnotatedTagCheck tags(branchTrees, metadata);
    tags.setEmptyDirs(m_options.emptyDirs);
    for (int index = 0; index < repositories.size(); ++index) {
        ConversionLog *log = logs.at(size_t(index)).get();
        const RefCheck refs(repositories.at(index));
        refs.checkBranches(log ? *log : none,
                           RepositoryFileNames::marksFilePath(repositories.at(index)),
                           &m_differences);
        if (Status checked = tags.check(repositories.at(index), log ? *log : none, refs,
                                        &m_differences);
            !checked)
            return checked;
    }
    return Status();
}

// The parents of every recorded commit and the backup refs, from the logs;
// with --svn-mergeinfo the parents once more from Subversion.
Status Verifier::checkHistory(const QStringList &repositories, const Logs &logs,
                              SvnRepository &svn, const RulesFileSet &rules, int youngest)
{
    for (int index = 0; index < repositories.size(); ++index) {
        const QString &name = repositories.at(index);
        HistoryCheck history;
        if (logs.at(size_t(index))) {
            if (Status checked = history.check(name, logFileOf(name),
                                               RepositoryFileNames::marksFilePath(name),
                                               m_lastRevision, &m_differences);
                !checked)
                return checked;
        }
        if (m_lastRevision == youngest)
            RefCheck(name).checkBackups(history.backups(), &m_differences);
    }
    if (!m_options.svnMergeinfo)
        return Status();
    ParentCheck parents(svn.fs(), rules.matchRuleLists(), rules.repositoryRules());
    for (int index = 0; index < repositories.size(); ++index) {
        // The logs above are read through; the parents read them again.
        ConversionLog log;
        const QString &name = repositories.at(index);
        if (!logs.at(size_t(index)))
            continue;
        if (Status read = log.read(logFileOf(name), RepositoryFileNames::marksFilePath(name));
            !read)
            return read;
        if (Status checked = parents.check(name, log, &m_differences); !checked)
            return checked.failure().within(
                    Failure::fatal(QStringLiteral("cannot read the parents of %1:").arg(name)));
    }
    return Status();
}
