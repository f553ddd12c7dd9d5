#include "survey/RulesCheck.h"

#include "rules/RulesFileSet.h"
#include "survey/CheckingRepository.h"
#include "survey/GitDefaultBranch.h"
#include "svn/ChangedPathsReader.h"
#include "svn/ExportOptions.h"
#include "svn/RevisionExporter.h"

#include <QJsonArray>
#include <QTextStream>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

const int pathsPerGroup = 200;

// The dispatch prints the converter's progress characters on standard
// output; while checking they would only garble the report.
class SilencedStandardOutput
{
public:
    SilencedStandardOutput()
    {
        fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        if (null != -1) {
            dup2(null, STDOUT_FILENO);
            ::close(null);
        }
    }
    ~SilencedStandardOutput()
    {
        fflush(stdout);
        if (m_saved != -1) {
            dup2(m_saved, STDOUT_FILENO);
            ::close(m_saved);
        }
    }

private:
    int m_saved = -1;
};

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
    // A dry run announces file contents without reading them.
    ExportOptions options;
    options.dryRun = true;
    const bool terminal = isatty(STDERR_FILENO);
    {
        SilencedStandardOutput silenced;
        for (int revision = 1; revision <= m_latestRevision; ++revision) {
            if (terminal && (revision % 100 == 0 || revision == m_latestRevision)) {
                fprintf(stderr, "\rChecking revision %d of %d", revision, m_latestRevision);
                fflush(stderr);
            }
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
                fprintf(stderr, "r%d: %s\n", revision,
                        status.failure().message().toLocal8Bit().constData());
            }
        }
        if (terminal)
            fprintf(stderr, "\r%*s\r", 60, "");
    }

    return Status();
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
    return !m_uncovered.isEmpty() || !m_refused.isEmpty() || !m_failedRevisions.isEmpty();
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

    QStringList unused;
    for (auto it = m_ruleCounts.cbegin(); it != m_ruleCounts.cend(); ++it) {
        if (it.value() == 0)
            unused.append(it.key().summary());
    }
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
    QJsonArray unused;
    for (auto it = m_ruleCounts.cbegin(); it != m_ruleCounts.cend(); ++it) {
        rules.append(QJsonObject{{"rule", it.key().summary()}, {"matches", it.value()}});
        if (it.value() == 0)
            unused.append(it.key().summary());
    }
    QJsonArray failed;
    for (int revision : m_failedRevisions)
        failed.append(revision);
    return QJsonObject{{"latestRevision", m_latestRevision},
                       {"uncovered", uncovered},
                       {"refusedNames", refused},
                       {"unusedRules", unused},
                       {"ruleStats", rules},
                       {"failedRevisions", failed},
                       {"ok", !hasProblems()}};
}
