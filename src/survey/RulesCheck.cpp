#include "survey/RulesCheck.h"

#include "common/ProgressLine.h"
#include "rules/RulesFileSet.h"
#include "survey/CheckingRepository.h"
#include "survey/GitDefaultBranch.h"
#include "survey/LeftOutPaths.h"
#include "survey/SharedRefs.h"
#include "svn/ChangedPathsReader.h"
#include "svn/ExportOptions.h"
#include "svn/RevisionExporter.h"

#include <QJsonArray>
#include <QTextStream>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

const int pathsPerGroup = 200;
const int groupsShown = 100;

QString directoryOf(const QString &matchedPath)
{
    QString path = matchedPath;
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

void stretch(int revision, int *first, int *last)
{
    if (*first == -1)
        *first = revision;
    *last = revision;
}

} // namespace

RulesCheck::RulesCheck() = default;
RulesCheck::~RulesCheck() = default;

Status RulesCheck::run(ChangedPathsReader &reader, const RulesFileSet &rules)
{
    m_latestRevision = reader.latestRevision();
    const QString defaultBranch = GitDefaultBranch::name();
    std::vector<std::unique_ptr<CheckingRepository>> owned;
    QHash<QString, Repository *> repositories;
    for (const RepositoryRule &rule : rules.repositoryRules()) {
        auto *target = static_cast<CheckingRepository *>(repositories.value(rule.targetName));
        owned.emplace_back(new CheckingRepository(rule, target, defaultBranch));
        repositories.insert(rule.name, owned.back().get());
    }
    const QList<QList<MatchRule>> matchRuleLists = rules.matchRuleLists();
    m_leftOut = std::make_unique<LeftOutPaths>(matchRuleLists);
    m_fs = reader.filesystem();
    m_pool = reader.pool();
    m_sharedRefs = std::make_unique<SharedRefs>(
            matchRuleLists, [&repositories](const QString &name) {
                Repository *repository = repositories.value(name);
                return repository ? repository->targetRepository()->name() : name;
            });
    // A dry run announces file contents without reading them.
    ExportOptions options;
    options.dryRun = true;
    {
        ProgressLine progress(ProgressLine::overwriting);
        for (int revision = 1; revision <= m_latestRevision; ++revision) {
            if (revision % 100 == 0 || revision == m_latestRevision)
                progress.show("Checking revision " + QByteArray::number(revision) + " of "
                              + QByteArray::number(m_latestRevision));
            Result<ChangedPathsReader::Revision> read = reader.read(revision);
            if (!read)
                return read.status();
            m_leftOut->look(read.value());
            RevisionExporter exporter(revision, reader.filesystem(), reader.pool(), options);
            exporter.assignSettings(matchRuleLists, repositories, IdentityMap(),
                                    QStringLiteral("localhost"), this);
            exporter.setDispatchObserver(this);
            Status status = exporter.openRevisionRoot();
            if (status)
                status = exporter.collectChangedPaths();
            if (status && exporter.needsCommit())
                status = exporter.commitTransactions();
            if (!status) {
                m_failedRevisions.append(revision);
                const QByteArray &cause = status.failure().cause();
                fwrite(cause.constData(), 1, size_t(cause.size()), stderr);
                fprintf(stderr, "r%d: %s\n", revision,
                        status.failure().message().toLocal8Bit().constData());
            }
        }
    }

    return Status();
}

void RulesCheck::exportsInto(int revision, const QString &matchedPath, const RuleTarget &target,
                             bool deletion)
{
    m_exported = true;
    m_sharedRefs->record(m_fs, m_pool, revision, matchedPath, target, deletion);
}

QStringList RulesCheck::unusedRules() const
{
    // A rule counts as used when its pattern took a changed path, even
    // where the dispatch then found nothing to do (a directory made empty).
    QStringList unused;
    for (auto it = m_ruleCounts.cbegin(); it != m_ruleCounts.cend(); ++it) {
        if (it.value() == 0 && !m_leftOut->coveredRules().contains(it.key().summary()))
            unused.append(it.key().summary());
    }
    return unused;
}

void RulesCheck::registerRule(const MatchRule &rule)
{
    m_ruleCounts.insert(rule, 0);
}

void RulesCheck::countMatch(const MatchRule &rule)
{
    ++m_ruleCounts[rule];
}

void RulesCheck::uncoveredPath(int revision, const QString &matchedPath, bool stopsConversion)
{
    // Every rules file that leaves the path uncovered tells it once.
    if (revision == m_lastRevision && matchedPath == m_lastPath)
        return;
    m_lastRevision = revision;
    m_lastPath = matchedPath;
    UncoveredGroup &group = m_uncovered[directoryOf(matchedPath)];
    ++group.total;
    stretch(revision, &group.firstRevision, &group.lastRevision);
    group.stopsConversion = group.stopsConversion || stopsConversion;
    if (group.paths.size() < pathsPerGroup && !group.paths.contains(matchedPath))
        group.paths.append(matchedPath);
}

void RulesCheck::refusedRefName(int revision, const QString &matchedPath, const QString &branch,
                                const MatchRule &rule)
{
    RefusedName &refused = m_refused[branch + QLatin1Char('\n') + rule.summary()];
    if (refused.total == 0) {
        refused.branch = branch;
        refused.rule = rule.summary();
        refused.examplePath = matchedPath;
    }
    ++refused.total;
    stretch(revision, &refused.firstRevision, &refused.lastRevision);
}

bool RulesCheck::hasProblems() const
{
    return !m_uncovered.isEmpty() || !m_refused.isEmpty() || !m_failedRevisions.isEmpty()
            || (m_sharedRefs
                && (!m_sharedRefs->sharedRefs().isEmpty() || !m_sharedRefs->clashingRefs().isEmpty()))
            || exportsNothing();
}

void RulesCheck::writeSharedRefs(QTextStream &out) const
{
    const QList<SharedRefs::SharedRef> shared = m_sharedRefs->sharedRefs();
    out << "\nRefs that two Subversion paths write: " << shared.size() << "\n";
    for (const SharedRefs::SharedRef &ref : shared) {
        out << "  " << ref.repository << " " << ref.branch << ":";
        QStringList writers;
        for (auto it = ref.writers.cbegin(); it != ref.writers.cend(); ++it)
            writers.append(QStringLiteral(" %1 (r%2 to r%3)")
                                   .arg(it.key())
                                   .arg(it->firstRevision)
                                   .arg(it->lastRevision));
        out << writers.join(QLatin1Char(',')) << "\n";
    }

    const QMap<QString, int> &clashes = m_sharedRefs->clashingRefs();
    out << "\nRefs git cannot hold side by side: " << clashes.size() << "\n";
    for (auto it = clashes.cbegin(); it != clashes.cend(); ++it)
        out << "  " << it.key() << ", r" << it.value() << "\n";
}

void RulesCheck::writeLeftOut(QTextStream &out) const
{
    const QMap<QString, LeftOutPaths::Group> leftOut = m_leftOut->byTopDirectory();
    out << "\nLeft out by the last rule only: " << leftOut.size()
        << (leftOut.size() == 1 ? " directory\n" : " directories\n");
    int shown = 0;
    for (auto it = leftOut.cbegin(); it != leftOut.cend() && shown < groupsShown; ++it, ++shown) {
        out << "  " << it.key() << ": ";
        QStringList held;
        if (it->fileChanges > 0)
            held.append(QString::number(it->fileChanges) + (it->fileChanges == 1 ? " file change" : " file changes"));
        if (it->copiedDirectories > 0)
            held.append(QString::number(it->copiedDirectories)
                        + (it->copiedDirectories == 1 ? " copied directory"
                                                      : " copied directories"));
        out << held.join(QLatin1String(", "));
        out << ", r" << it->firstRevision << " to r" << it->lastRevision << "\n";
    }
    if (leftOut.size() > shown)
        out << "  and " << leftOut.size() - shown << " more\n";
}

QString RulesCheck::textReport() const
{
    QString text;
    QTextStream out(&text);
    out << "Checked revisions 1 to " << m_latestRevision << "\n";

    out << "\nPaths no rule covers: " << m_uncovered.size() << " directories\n";
    for (auto it = m_uncovered.cbegin(); it != m_uncovered.cend(); ++it) {
        out << "  " << it.key() << ": " << it->total << " paths, r" << it->firstRevision
            << " to r" << it->lastRevision
            << (it->stopsConversion ? " (the conversion stops here)" : " (left out)") << "\n";
        for (const QString &path : it->paths)
            out << "    " << path << "\n";
        if (it->total > it->paths.size())
            out << "    and more\n";
    }

    out << "\nNames git refuses: " << m_refused.size() << "\n";
    for (const RefusedName &refused : m_refused)
        out << "  \"" << refused.branch << "\" from rule " << refused.rule << " for "
            << refused.examplePath << ", r" << refused.firstRevision << " to r"
            << refused.lastRevision << "\n";

    writeSharedRefs(out);
    writeLeftOut(out);
    const QStringList unused = unusedRules();
    out << "\nRules that never match: " << unused.size() << "\n";
    for (const QString &rule : qAsConst(unused))
        out << "  " << rule << "\n";

    if (!m_failedRevisions.isEmpty()) {
        out << "\nRevisions that failed (see the messages above):";
        for (int revision : m_failedRevisions)
            out << " " << revision;
        out << "\n";
    }

    out << "\nRule stats\n";
    for (auto it = m_ruleCounts.cbegin(); it != m_ruleCounts.cend(); ++it)
        out << it.key().summary() << " was matched " << it.value() << " times\n";
    if (exportsNothing())
        out << "\nThe rules export nothing: every path of the history is left out.\n";
    out << "\n" << (hasProblems() ? "The rules need work." : "The rules cover the history.")
        << "\n";
    out.flush();
    return text;
}

QJsonObject RulesCheck::jsonReport() const
{
    QJsonArray uncovered;
    for (auto it = m_uncovered.cbegin(); it != m_uncovered.cend(); ++it)
        uncovered.append(QJsonObject{{"directory", it.key()},
                                     {"paths", QJsonArray::fromStringList(it->paths)},
                                     {"total", it->total},
                                     {"firstRevision", it->firstRevision},
                                     {"lastRevision", it->lastRevision},
                                     {"stopsConversion", it->stopsConversion}});
    QJsonArray refused;
    for (const RefusedName &name : m_refused)
        refused.append(QJsonObject{{"name", name.branch},
                                   {"rule", name.rule},
                                   {"path", name.examplePath},
                                   {"firstRevision", name.firstRevision},
                                   {"lastRevision", name.lastRevision},
                                   {"total", name.total}});
    QJsonArray rules;
    for (auto it = m_ruleCounts.cbegin(); it != m_ruleCounts.cend(); ++it)
        rules.append(QJsonObject{{"rule", it.key().summary()}, {"matches", it.value()}});
    QJsonArray shared;
    for (const SharedRefs::SharedRef &ref : m_sharedRefs->sharedRefs()) {
        QJsonArray writers;
        for (auto it = ref.writers.cbegin(); it != ref.writers.cend(); ++it)
            writers.append(QJsonObject{{"path", it.key()},
                                       {"firstRevision", it->firstRevision},
                                       {"lastRevision", it->lastRevision}});
        shared.append(QJsonObject{
                {"repository", ref.repository}, {"branch", ref.branch}, {"paths", writers}});
    }
    QJsonArray leftOut;
    const QMap<QString, LeftOutPaths::Group> groups = m_leftOut->byTopDirectory();
    for (auto it = groups.cbegin(); it != groups.cend(); ++it)
        leftOut.append(QJsonObject{{"directory", it.key()},
                                   {"fileChanges", it->fileChanges},
                                   {"copiedDirectories", it->copiedDirectories},
                                   {"firstRevision", it->firstRevision},
                                   {"lastRevision", it->lastRevision}});
    QJsonArray failed;
    for (int revision : m_failedRevisions)
        failed.append(revision);
    return QJsonObject{{"latestRevision", m_latestRevision},
                       {"uncovered", uncovered},
                       {"refusedNames", refused},
                       {"unusedRules", QJsonArray::fromStringList(unusedRules())},
                       {"sharedRefs", shared},
                       {"clashingRefs", QJsonArray::fromStringList(m_sharedRefs->clashingRefs().keys())},
                       {"leftOut", leftOut},
                       {"exportsNothing", exportsNothing()},
                       {"ruleStats", rules},
                       {"failedRevisions", failed},
                       {"ok", !hasProblems()}};
}
