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
#include "verify/RevisionPrefetcher.h"
#include "verify/StateCheck.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <malloc.h>

#include <svn_cache_config.h>

namespace {

// Commits are read from git in groups of this many, which bounds memory.
const int commitsPerRead = 4000;

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

Failure cannotRead(int revision, const Status &why)
{
    return reworded(why.failure(), QStringLiteral("cannot read revision %1").arg(revision));
}

// "checked N of TOTAL branch states, about S left", every half second.
void showProgress(ProgressLine &line, qint64 *next, int done, int total)
{
    if (!line.shown() || line.elapsed() < *next)
        return;
    *next = line.elapsed() + 500;
    const qint64 left = done > 0 ? line.elapsed() * (total - done) / done / 1000 : 0;
    line.show(QStringLiteral("checked %1 of %2 branch states, about %3s left")
                      .arg(done)
                      .arg(total)
                      .arg(left)
                      .toUtf8());
}

} // namespace

Verifier::Verifier(const Options &options)
    : m_options(options)
{
}

Verifier::~Verifier() = default;

Status Verifier::run()
{
    // Subversion's cache fills within the first thousands of revisions. The
    // more live branches, the more of their directories the walk reads again
    // from it rather than from the revision files: at a tenth of this size
    // 20,000 revisions take half as long again, and 100,000 revisions with
    // 800 live branches an eighth longer at half the size.
    svn_cache_config_t cacheConfig = *svn_cache_config_get();
    cacheConfig.cache_size = quint64(64) << 20;
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
    Result<std::unique_ptr<MetadataCheck>> metadata = metadataCheck(svn);
    if (!metadata)
        return metadata.failure();
    const int youngest = svn.youngestRevision();
    m_lastRevision = m_options.maxRevision > 0 ? std::min(m_options.maxRevision, youngest)
                                               : youngest;
    m_report.setRange(m_lastRevision, youngest);
    // The trees with their caches are let go before the parents are read.
    if (Status compared = compareTrees(svn, rules, repositories, logs, *metadata.value());
        !compared)
        return compared;
    return checkHistory(repositories, logs, svn, rules, youngest);
}

// The states, the branches alive at the end, the refs and the tags, with
// Subversion's trees kept up to date alongside and read ahead.
Status Verifier::compareTrees(SvnRepository &svn, const RulesFileSet &rules,
                              const QStringList &repositories, const Logs &logs,
                              MetadataCheck &metadata)
{
    SvnTreeRouter::Settings settings;
    settings.matchRuleLists = rules.matchRuleLists();
    settings.repositoryRules = rules.repositoryRules();
    settings.svnIgnore = m_options.svnIgnore;
    settings.svnAttributes = m_options.svnAttributes;
    settings.emptyDirs = m_options.emptyDirs;
    BranchTrees branchTrees(svn.fs(), settings);
    RevisionPrefetcher prefetcher;
    bool prefetching = false;
    branchTrees.setRevisionObserver([&](int revision) {
        if (!prefetching) // reading starts after the revision the walk starts at
            prefetcher.start(m_options.svnRepository, revision + 1, svn.youngestRevision());
        prefetching = true;
        prefetcher.reached(revision);
        // Memos come and go while the trees of new branches stay: the freed
        // pages between them go back to the system now and then.
        if (revision % 1024 == 0)
            malloc_trim(0);
    });
    if (Status watched = watchCoverage(branchTrees, repositories); !watched)
        return watched;
    // Sampled states leave commits out: their metadata is not compared then.
    MetadataCheck *commitMetadata = m_coverage ? &metadata : nullptr;
    if (Status checked = checkStates(repositories, logs, branchTrees, commitMetadata); !checked)
        return checked;
    if (Status read = branchTrees.advanceTo(std::max(m_lastRevision, branchTrees.revision()));
        !read)
        return cannotRead(m_lastRevision, read);
    if (m_coverage) {
        m_coverage->passed(m_lastRevision + 1, &m_differences);
        if (Status alive = checkAlive(repositories, logs, branchTrees); !alive)
            return alive;
    }
    return checkTagsAndRefs(repositories, logs, branchTrees, metadata);
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
            return cannotRead(m_lastRevision, read);
        const ConversionLog *log = logs.at(size_t(index)).get();
        const auto last = log ? log->lastStates().constFind(branch)
                              : QMap<QString, ConversionLog::State>::const_iterator();
        if (!tree || tree->treeId().isEmpty()
            || (log && last != log->lastStates().constEnd() && last->mark != 0))
            continue;
        m_differences.append(Difference{m_lastRevision, repository, branch,
                                        RefCheck::refOf(branch), QStringLiteral("missing state"),
                                        QStringLiteral("alive in Subversion, not in the log")});
    }
    return Status();
}

// The metadata check with the identities, filter and metadata lines the
// conversion was made with.
Result<std::unique_ptr<MetadataCheck>> Verifier::metadataCheck(SvnRepository &svn) const
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
    return std::make_unique<MetadataCheck>(svn.fs(), options);
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

// Walks the recorded states in revision order, with Subversion's trees kept
// up to date alongside; the commits of a group of states are read from git at once.
Status Verifier::checkStates(const QStringList &repositories, const Logs &logs,
                             BranchTrees &branchTrees, MetadataCheck *metadata)
{
    StateCheck check(repositories, branchTrees, metadata);
    check.setEmptyDirs(m_options.emptyDirs);
    RecordedStates states(logs, m_options.headsOnly, m_options.sample);
    ProgressLine progress;
    qint64 nextProgress = 0;
    QList<RecordedStates::Item> group;
    for (;;) {
        group.clear();
        RecordedStates::Item item;
        while (group.size() < commitsPerRead && states.next(&item))
            group.append(item);
        if (group.isEmpty() || group.constFirst().state.revision > m_lastRevision)
            return Status();
        check.readCommits(group, logs);
        for (int i = 0; i < group.size(); ++i) {
            showProgress(progress, &nextProgress, states.passed() - int(group.size()) + i,
                         states.total());
            const ConversionLog::State &state = group.at(i).state;
            if (state.revision > m_lastRevision)
                return Status();
            const QString &repository = repositories.at(group.at(i).repositoryIndex);
            m_report.countState(repository, state.branch);
            if (Status read = branchTrees.advanceTo(state.revision); !read)
                return cannotRead(state.revision, read);
            if (m_coverage) {
                m_coverage->passed(state.revision, &m_differences);
                m_coverage->stateAt(state.revision, repository, state.branch);
            }
            if (Status checked = check.check(i, &m_differences); !checked)
                return checked;
        }
    }
}

// Follows the tree of every branch from r1 on as the walk changes it, so
// that a change with no recorded state shows; not when only some states are
// checked.
Status Verifier::watchCoverage(BranchTrees &branchTrees, const QStringList &repositories)
{
    if (m_options.headsOnly || m_options.sample != 0)
        return Status();
    const int youngest = m_lastRevision;
    Result<RevisionSet> meant =
            readRevisionList(m_options.revisionsFile, [youngest] { return youngest; });
    if (!meant)
        return meant.failure();
    m_coverage = std::make_shared<CoverageCheck>(meant.value());
    branchTrees.setChangeObserver(
            [this, &branchTrees, repositories](int revision,
                                               const QList<QPair<QString, QString>> &touched) {
                if (revision > m_lastRevision)
                    return Status();
                for (const auto &[repository, branch] : touched) {
                    if (!repositories.contains(repository))
                        continue;
                    TreeNodePointer tree;
                    if (Status read = branchTrees.tree(repository, branch, &tree); !read)
                        return read;
                    m_coverage->treeAt(revision, repository, branch,
                                       tree ? tree->treeId() : QByteArray());
                }
                return Status();
            });
    if (m_lastRevision == 0)
        return Status();
    const Status read = branchTrees.advanceTo(1);
    return read ? read : cannotRead(1, read);
}
