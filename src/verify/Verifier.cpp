#include "verify/Verifier.h"

#include "driver/RevisionList.h"
#include "repository/GitObjectReader.h"
#include "repository/RepositoryFileNames.h"
#include "rules/RulesFileSet.h"
#include "svn/SvnRepository.h"
#include "verify/BranchTrees.h"
#include "verify/ConversionLog.h"
#include "verify/CoverageCheck.h"
#include "verify/GitTreeComparer.h"
#include "verify/HistoryCheck.h"
#include "verify/ParentCheck.h"
#include "verify/ProgressLine.h"
#include "verify/RecordedStates.h"
#include "verify/RevisionPrefetcher.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <map>

#include <svn_cache_config.h>

namespace {

// Commits are read from git in groups of this many, which bounds memory.
const int commitsPerRead = 4000;

QString refOf(const QString &branch)
{
    return branch.startsWith(QLatin1String("refs/")) ? branch
                                                      : QStringLiteral("refs/heads/") + branch;
}

bool isTag(const QString &branch)
{
    return branch.startsWith(QLatin1String("refs/tags/"));
}

// "tree SHA" of a commit object, as 20 raw bytes.
QByteArray treeOfCommit(const QByteArray &commit)
{
    if (!commit.startsWith("tree "))
        return QByteArray();
    return QByteArray::fromHex(commit.mid(5, 40));
}

} // namespace

Verifier::Verifier(const Options &options)
    : m_options(options)
{
}

int Verifier::run()
{
    // Subversion's libraries fill their cache of the repository as they read,
    // up to its size. The walk and the thread reading ahead need only the
    // last few revisions in it; a smaller one than the default is full sooner.
    svn_cache_config_t cacheConfig = *svn_cache_config_get();
    cacheConfig.cache_size = quint64(8) << 20;
    svn_cache_config_set(&cacheConfig);
    SvnRepository svn;
    if (!svn.open(m_options.svnRepository)) {
        fprintf(stderr, "tallowmere-verify: cannot open the Subversion repository %s\n",
                qPrintable(m_options.svnRepository));
        return 2;
    }
    RulesFileSet rules(m_options.rulesFiles);
    if (Status loaded = rules.load(); !loaded) {
        fprintf(stderr, "tallowmere-verify: %s\n", qPrintable(loaded.failure().message()));
        return 2;
    }

    const QStringList repositories = repositoriesToCheck(rules);
    if (repositories.isEmpty()) {
        fprintf(stderr, "tallowmere-verify: the rules name no repository %s\n",
                qPrintable(m_options.onlyRepository));
        return 2;
    }
    std::vector<std::unique_ptr<ConversionLog>> logs;
    Checked checked;
    if (const int result = openLogs(repositories, &logs, &checked); result != 0)
        return result;

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
    });
    checked.youngest = svn.youngestRevision();
    m_lastRevision = m_options.maxRevision > 0 ? std::min(m_options.maxRevision, checked.youngest)
                                               : checked.youngest;
    checked.lastRevision = m_lastRevision;
    if (const int result = watchCoverage(branchTrees, repositories); result != 0)
        return result;
    if (const int result = checkStates(repositories, logs, branchTrees, &checked); result != 0)
        return result;
    if (m_coverage) {
        if (!branchTrees.advanceTo(std::max(m_lastRevision, branchTrees.revision())))
            return cannotRead(m_lastRevision);
        m_coverage->passed(m_lastRevision + 1, &m_differences);
    }

    ConversionLog none;
    for (int index = 0; index < repositories.size(); ++index) {
        ConversionLog *log = logs.at(size_t(index)).get();
        checkRefs(repositories.at(index), log ? *log : none);
    }
    if (const int result = checkHistory(repositories, logs, svn, rules, checked); result != 0)
        return result;
    report(checked);
    return m_differences.isEmpty() ? 0 : 1;
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
int Verifier::openLogs(const QStringList &repositories,
                       std::vector<std::unique_ptr<ConversionLog>> *logs, Checked *checked)
{
    for (const QString &name : repositories) {
        const QString logFile = QStringLiteral("log-") + RepositoryFileNames::flattenedName(name);
        if (!QFileInfo::exists(logFile)) {
            logs->emplace_back();
            continue;
        }
        auto log = std::make_unique<ConversionLog>();
        QString error;
        if (!log->read(logFile, RepositoryFileNames::marksFilePath(name), &error)) {
            fprintf(stderr, "tallowmere-verify: %s\n", qPrintable(error));
            return 2;
        }
        ++checked->repositories;
        logs->push_back(std::move(log));
    }
    return 0;
}

// The parents of every recorded commit and the backup refs, from the logs;
// with --svn-mergeinfo the parents once more from Subversion.
int Verifier::checkHistory(const QStringList &repositories,
                           const std::vector<std::unique_ptr<ConversionLog>> &logs,
                           SvnRepository &svn, const RulesFileSet &rules, const Checked &checked)
{
    for (int index = 0; index < repositories.size(); ++index) {
        const QString &name = repositories.at(index);
        QString error;
        HistoryCheck history;
        if (logs.at(size_t(index))
            && !history.check(name,
                              QStringLiteral("log-") + RepositoryFileNames::flattenedName(name),
                              RepositoryFileNames::marksFilePath(name), m_lastRevision,
                              &m_differences, &error)) {
            fprintf(stderr, "tallowmere-verify: %s\n", qPrintable(error));
            return 2;
        }
        if (m_lastRevision == checked.youngest)
            checkBackups(name, history.backups());
    }
    if (m_options.svnMergeinfo) {
        ParentCheck parents(svn.fs(), rules.matchRuleLists(), rules.repositoryRules());
        for (int index = 0; index < repositories.size(); ++index) {
            // The logs above are read through; the parents read them again.
            ConversionLog log;
            QString error;
            const QString &name = repositories.at(index);
            if (!logs.at(size_t(index)))
                continue;
            if (!log.read(QStringLiteral("log-") + RepositoryFileNames::flattenedName(name),
                          RepositoryFileNames::marksFilePath(name), &error)) {
                fprintf(stderr, "tallowmere-verify: %s\n", qPrintable(error));
                return 2;
            }
            if (!parents.check(name, log, &m_differences))
                return 2;
        }
    }
    return 0;
}

// Walks the recorded states in revision order, with Subversion's trees kept
// up to date alongside; the commits of a group of states are read from git at once.
int Verifier::checkStates(const QStringList &repositories,
                          const std::vector<std::unique_ptr<ConversionLog>> &logs,
                          BranchTrees &branchTrees, Checked *checked)
{
    StateContext context;
    for (const QString &name : repositories) {
        context.readers.append(GitObjectReader(name));
        QHash<QString, bool> annotated;
        context.refs.append(readRefs(name, &annotated));
    }
    RecordedStates states(logs, m_options.headsOnly, m_options.sample);
    ProgressLine progress(states.total());
    QList<RecordedStates::Item> group;
    for (;;) {
        group.clear();
        RecordedStates::Item item;
        while (group.size() < commitsPerRead && states.next(&item))
            group.append(item);
        if (group.isEmpty() || group.constFirst().state.revision > m_lastRevision)
            return 0;
        QMap<int, QList<QByteArray>> wanted;
        QList<QByteArray> commits;
        for (const RecordedStates::Item &state : std::as_const(group)) {
            const QByteArray commit = state.state.mark == 0
                    ? QByteArray()
                    : logs.at(size_t(state.repositoryIndex))->commitOf(state.state.mark);
            commits.append(commit);
            if (!commit.isEmpty())
                wanted[state.repositoryIndex].append(commit);
        }
        context.commitTrees.clear();
        for (auto it = wanted.cbegin(); it != wanted.cend(); ++it) {
            const QHash<QByteArray, QByteArray> contents =
                    context.readers.at(it.key()).contentsOfType("commit", it.value());
            for (auto c = contents.cbegin(); c != contents.cend(); ++c)
                context.commitTrees.insert(c.key(), treeOfCommit(c.value()));
        }
        for (int i = 0; i < group.size(); ++i) {
            progress.update(states.passed() - int(group.size()) + i);
            const RecordedStates::Item &state = group.at(i);
            if (state.state.revision > m_lastRevision)
                return 0;
            ++checked->states;
            const QString &repository = repositories.at(state.repositoryIndex);
            (isTag(state.state.branch) ? checked->tags : checked->branches)
                    .insert(repository + QLatin1Char('\n') + state.state.branch);
            if (!branchTrees.advanceTo(state.state.revision))
                return cannotRead(state.state.revision);
            if (m_coverage) {
                m_coverage->passed(state.state.revision, &m_differences);
                m_coverage->stateAt(state.state.revision, repository, state.state.branch);
            }
            if (!checkState(context, branchTrees, repository, state, commits.at(i)))
                return cannotRead(state.state.revision);
        }
    }
}

// Compares one recorded state with what Subversion holds at its revision.
// False when Subversion cannot be read.
bool Verifier::checkState(const StateContext &context, BranchTrees &branchTrees,
                          const QString &repository, const RecordedStates::Item &item,
                          const QByteArray &commit)
{
    const ConversionLog::State &state = item.state;
    TreeNodePointer expected;
    if (!branchTrees.tree(repository, state.branch, &expected))
        return false;
    Difference difference;
    difference.revision = state.revision;
    difference.repository = repository;
    difference.branch = state.branch;
    if (state.mark == 0) {
        if (expected && !expected->treeId().isEmpty()) {
            difference.kind = QStringLiteral("deleted");
            difference.detail = QStringLiteral("deleted in git, Subversion holds files");
            m_differences.append(difference);
        }
        return true;
    }
    if (commit.isEmpty() || !context.commitTrees.contains(commit)) {
        difference.kind = QStringLiteral("mark");
        difference.detail = commit.isEmpty()
                ? QStringLiteral(":%1 is not in the marks file").arg(state.mark)
                : QStringLiteral("git has no commit %1").arg(QString::fromLatin1(commit));
        m_differences.append(difference);
        return true;
    }
    const GitObjectReader &reader = context.readers.at(item.repositoryIndex);
    if (!compareTree(branchTrees, expected, context.commitTrees.value(commit), reader, difference))
        return false;
    // A branch whose ref was moved away from its last recorded commit:
    // what the ref gives is compared too, so that the paths show.
    const QByteArray refCommit = context.refs.at(item.repositoryIndex).value(refOf(state.branch));
    if (item.last && !refCommit.isEmpty() && refCommit != commit) {
        const QByteArray content = reader.contentsOfType("commit", {refCommit}).value(refCommit);
        difference.detail = QStringLiteral("at %1").arg(refOf(state.branch));
        return compareTree(branchTrees, expected, treeOfCommit(content), reader, difference);
    }
    return true;
}

QHash<QString, QByteArray> Verifier::readRefs(const QString &repository,
                                              QHash<QString, bool> *annotated)
{
    QProcess git;
    git.setWorkingDirectory(repository);
    git.start(QStringLiteral("git"),
              {QStringLiteral("for-each-ref"),
               QStringLiteral("--format=%(objectname) %(objecttype) %(*objectname) %(refname)")});
    git.waitForFinished(-1);
    QHash<QString, QByteArray> refs; // ref to the commit it gives
    for (const QByteArray &line : git.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() < 4)
            continue;
        const QString ref = QString::fromUtf8(line.mid(line.indexOf(' ', line.indexOf(' ') + 1) + 1))
                                    .section(QLatin1Char(' '), 1);
        const bool tagObject = parts.at(1) == "tag";
        refs.insert(ref, tagObject ? parts.at(2) : parts.at(0));
        annotated->insert(ref, tagObject);
    }

    return refs;
}

// Follows the tree of every branch from r1 on as the walk changes it, so
// that a change with no recorded state shows; not when only some states are
// checked.
int Verifier::watchCoverage(BranchTrees &branchTrees, const QStringList &repositories)
{
    if (m_options.headsOnly || m_options.sample != 0)
        return 0;
    const int youngest = m_lastRevision;
    Result<RevisionSet> meant =
            readRevisionList(m_options.revisionsFile, [youngest] { return youngest; });
    if (!meant) {
        fprintf(stderr, "tallowmere-verify: %s\n", qPrintable(meant.failure().message()));
        return 2;
    }
    m_coverage = std::make_shared<CoverageCheck>(meant.value());
    branchTrees.setChangeObserver(
            [this, &branchTrees, repositories](int revision,
                                               const QList<QPair<QString, QString>> &touched) {
                if (revision > m_lastRevision)
                    return true;
                for (const auto &[repository, branch] : touched) {
                    if (!repositories.contains(repository))
                        continue;
                    TreeNodePointer tree;
                    if (!branchTrees.tree(repository, branch, &tree))
                        return false;
                    m_coverage->treeAt(revision, repository, branch,
                                       tree ? tree->treeId() : QByteArray());
                }
                return true;
            });
    return m_lastRevision > 0 && !branchTrees.advanceTo(1) ? cannotRead(1) : 0;
}

int Verifier::cannotRead(int revision) const
{
    fprintf(stderr, "tallowmere-verify: cannot read revision %d of %s\n", revision,
            qPrintable(m_options.svnRepository));
    return 2;
}

// Trees of the same name are equal; only when the names differ is the
// expected tree read whole, to name the paths.
bool Verifier::compareTree(BranchTrees &branchTrees, const TreeNodePointer &expected,
                           const QByteArray &gitTree, const GitObjectReader &reader,
                           const Difference &where)
{
    const QByteArray expectedTree = expected ? expected->treeId() : QByteArray();
    static const QByteArray emptyTree =
            QByteArray::fromHex("4b825dc642cb6eb9a060e54bf8d69288fbee4904");
    if (gitTree == expectedTree || (expectedTree.isEmpty() && gitTree == emptyTree))
        return true;
    TreeNodePointer full;
    if (!branchTrees.fullTree(where.repository, where.branch, &full))
        return false;
    GitTreeComparer(reader).compare(full, gitTree == emptyTree ? QByteArray() : gitTree, where,
                                    &m_differences);
    return true;
}

void Verifier::checkRefs(const QString &repository, ConversionLog &log)
{
    const QMap<QString, ConversionLog::State> &last = log.lastStates();
    // Their commits, looked up in the order of the marks file.
    QList<quint64> marks;
    for (const ConversionLog::State &state : last)
        marks.append(state.mark);
    std::sort(marks.begin(), marks.end());
    QHash<quint64, QByteArray> commits;
    for (quint64 mark : std::as_const(marks)) {
        if (mark != 0 && !commits.contains(mark))
            commits.insert(mark, log.commitOf(mark));
    }

    QHash<QString, bool> annotated;
    const QHash<QString, QByteArray> refs = readRefs(repository, &annotated);

    auto addDifference = [&](const ConversionLog::State &state, const QString &path,
                             const QString &kind, const QString &detail) {
        m_differences.append(
                Difference{state.revision, repository, state.branch, path, kind, detail});
    };

    for (auto it = last.cbegin(); it != last.cend(); ++it) {
        const QString ref = refOf(it.key());
        const QByteArray commit = commits.value(it->mark);
        if (it.value().mark == 0) {
            if (refs.contains(ref))
                addDifference(it.value(), ref, QStringLiteral("ref"),
                              QStringLiteral("the log records the branch as deleted, git still has it"));
            continue;
        }
        if (!refs.contains(ref)) {
            addDifference(it.value(), ref, QStringLiteral("ref"), QStringLiteral("missing in git"));
        } else if (refs.value(ref) != commit) {
            addDifference(it.value(), ref, annotated.value(ref) ? QStringLiteral("tag")
                                                                  : QStringLiteral("ref"),
                          QStringLiteral("git has %1, the log records %2")
                                  .arg(QString::fromLatin1(refs.value(ref)),
                                       QString::fromLatin1(commit)));
        }
    }

    for (auto it = refs.cbegin(); it != refs.cend(); ++it) {
        const QString &ref = it.key();
        if (ref == QLatin1String("refs/notes/commits") || ref.startsWith(QLatin1String("refs/backups/"))
            || ref.startsWith(QLatin1String("refs/tags/backups/")))
            continue;
        const QString branch = ref.startsWith(QLatin1String("refs/heads/")) ? ref.mid(11) : ref;
        if (last.contains(branch))
            continue;
        // An annotated tag made for a plain branch: it points at that branch's commit.
        if (annotated.value(ref) && ref.startsWith(QLatin1String("refs/tags/"))) {
            const QString tagged = ref.mid(10);
            if (last.contains(tagged)) {
                const ConversionLog::State &state = last.value(tagged);
                if (commits.value(state.mark) != it.value())
                    addDifference(state, ref, QStringLiteral("tag"),
                                  QStringLiteral("the tag points at %1, the branch is at %2")
                                          .arg(QString::fromLatin1(it.value()),
                                               QString::fromLatin1(commits.value(state.mark))));
                continue;
            }
        }
        ConversionLog::State none;
        none.branch = branch;
        addDifference(none, ref, QStringLiteral("extra ref"),
                      QStringLiteral("no branch or tag of the log, no backup, no notes"));
    }
}

// Every backup ref the log explains, at the commit it saves, and no other.
void Verifier::checkBackups(const QString &repository,
                           const QMap<QString, HistoryCheck::Backup> &backups)
{
    QHash<QString, bool> annotated;
    const QHash<QString, QByteArray> refs = readRefs(repository, &annotated);
    auto addDifference = [&](const QString &ref, int revision, const QString &branch,
                             const QString &detail) {
        m_differences.append(Difference{revision, repository, branch, ref,
                                        QStringLiteral("backup"), detail});
    };
    for (auto it = backups.cbegin(); it != backups.cend(); ++it) {
        const QByteArray found = refs.value(it.key());
        if (found.isEmpty())
            addDifference(it.key(), it->revision, it->branch, QStringLiteral("missing in git"));
        else if (found != it->commit)
            addDifference(it.key(), it->revision, it->branch,
                          QStringLiteral("git has %1, the branch was at %2")
                                  .arg(QString::fromLatin1(found), QString::fromLatin1(it->commit)));
    }
    for (auto it = refs.cbegin(); it != refs.cend(); ++it) {
        if ((it.key().startsWith(QLatin1String("refs/backups/"))
             || it.key().startsWith(QLatin1String("refs/tags/backups/")))
            && !backups.contains(it.key()))
            addDifference(it.key(), 0, QString(), QStringLiteral("no deletion or move of the log made it"));
    }
}

void Verifier::report(const Checked &checked) const
{
    const QString counts =
            QStringLiteral("checked %1 branch states in %2 %3 (%4 branches, %5 tags), "
                           "r1\u2013r%6 of %7, trees and history")
                    .arg(checked.states)
                    .arg(checked.repositories)
                    .arg(checked.repositories == 1 ? QStringLiteral("repository")
                                                    : QStringLiteral("repositories"))
                    .arg(checked.branches.size())
                    .arg(checked.tags.size())
                    .arg(checked.lastRevision)
                    .arg(checked.youngest);
    if (m_options.json) {
        QJsonArray differences;
        for (const Difference &difference : m_differences) {
            differences.append(QJsonObject{{QStringLiteral("revision"), difference.revision},
                                           {QStringLiteral("repository"), difference.repository},
                                           {QStringLiteral("branch"), difference.branch},
                                           {QStringLiteral("path"), difference.path},
                                           {QStringLiteral("kind"), difference.kind},
                                           {QStringLiteral("detail"), difference.detail}});
        }
        const QJsonObject result{{QStringLiteral("states"), checked.states},
                                 {QStringLiteral("repositories"), checked.repositories},
                                 {QStringLiteral("branches"), int(checked.branches.size())},
                                 {QStringLiteral("tags"), int(checked.tags.size())},
                                 {QStringLiteral("lastRevision"), checked.lastRevision},
                                 {QStringLiteral("youngest"), checked.youngest},
                                 {QStringLiteral("equal"), m_differences.isEmpty()},
                                 {QStringLiteral("differences"), differences}};
        fputs(QJsonDocument(result).toJson(QJsonDocument::Indented).constData(), stdout);
        return;
    }
    for (const Difference &difference : m_differences)
        printf("%s\n", qPrintable(difference.text()));
    if (m_differences.isEmpty())
        printf("%s: all equal\n", qPrintable(counts));
    else
        printf("%s: %d %s\n", qPrintable(counts), int(m_differences.size()),
               m_differences.size() == 1 ? "difference" : "differences");
}
