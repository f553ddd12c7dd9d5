#include "verify/Verifier.h"

#include "repository/GitObjectReader.h"
#include "repository/RepositoryFileNames.h"
#include "rules/RulesFileSet.h"
#include "svn/SvnRepository.h"
#include "verify/BranchTrees.h"
#include "verify/ConversionLog.h"
#include "verify/GitTreeComparer.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <map>

#include <unistd.h>

namespace {

// Commits are read from git in groups of this many, which bounds memory.
const int commitsPerRead = 4000;

struct SelectedState
{
    int repositoryIndex = 0;
    ConversionLog::State state;
};

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

class ProgressLine
{
public:
    explicit ProgressLine(int total)
        : m_total(total)
        , m_shown(isatty(STDERR_FILENO))
    {
        m_clock.start();
    }
    ~ProgressLine()
    {
        if (m_shown && m_written)
            fprintf(stderr, "\r\033[K");
    }
    void update(int done)
    {
        if (!m_shown || m_clock.elapsed() < m_next)
            return;
        m_next = m_clock.elapsed() + 500;
        const qint64 left = done > 0 ? m_clock.elapsed() * (m_total - done) / done / 1000 : 0;
        fprintf(stderr, "\r\033[Kchecked %d of %d branch states, about %llds left", done, m_total,
                static_cast<long long>(left));
        m_written = true;
    }

private:
    int m_total;
    bool m_shown;
    bool m_written = false;
    qint64 m_next = 0;
    QElapsedTimer m_clock;
};

} // namespace

Verifier::Verifier(const Options &options)
    : m_options(options)
{
}

int Verifier::run()
{
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

    // The repositories that hold git data: forwarding ones write into these.
    QStringList repositories;
    for (const RepositoryRule &rule : rules.repositoryRules()) {
        if (rule.targetName.isEmpty() && !repositories.contains(rule.name)
            && (m_options.onlyRepository.isEmpty() || rule.name == m_options.onlyRepository))
            repositories.append(rule.name);
    }
    if (repositories.isEmpty()) {
        fprintf(stderr, "tallowmere-verify: the rules name no repository %s\n",
                qPrintable(m_options.onlyRepository));
        return 2;
    }

    QList<ConversionLog> logs;
    QList<SelectedState> selected;
    Checked checked;
    for (int index = 0; index < repositories.size(); ++index) {
        const QString &name = repositories.at(index);
        ConversionLog log;
        QString error;
        const QString logFile = QStringLiteral("log-") + RepositoryFileNames::flattenedName(name);
        if (!QFileInfo::exists(logFile)) {
            logs.append(log);
            continue; // a repository the conversion never wrote to
        }
        if (!log.read(logFile, RepositoryFileNames::marksFilePath(name), &error)) {
            fprintf(stderr, "tallowmere-verify: %s\n", qPrintable(error));
            return 2;
        }
        ++checked.repositories;
        QHash<QString, int> lastOf;
        for (int i = 0; i < log.states().size(); ++i)
            lastOf.insert(log.states().at(i).branch, i);
        for (int i = 0; i < log.states().size(); ++i) {
            const ConversionLog::State &state = log.states().at(i);
            const bool head = lastOf.value(state.branch) == i;
            if (m_options.headsOnly && !head)
                continue;
            if (m_options.sample > 0 && !head && (i + 1) % m_options.sample != 0)
                continue;
            selected.append({index, state});
        }
        logs.append(log);
    }
    std::stable_sort(selected.begin(), selected.end(),
                     [](const SelectedState &a, const SelectedState &b) {
                         return a.state.revision < b.state.revision;
                     });

    SvnTreeRouter::Settings settings;
    settings.matchRuleLists = rules.matchRuleLists();
    settings.repositoryRules = rules.repositoryRules();
    settings.svnIgnore = m_options.svnIgnore;
    settings.emptyDirs = m_options.emptyDirs;
    BranchTrees branchTrees(svn.fs(), settings);

    QList<GitObjectReader> readers;
    for (const QString &name : std::as_const(repositories))
        readers.append(GitObjectReader(name));

    // Per repository: the refs git holds, and the last recorded revision of each branch.
    QList<QHash<QString, QByteArray>> headRefs;
    QList<QHash<QString, int>> lastOf;
    for (int index = 0; index < repositories.size(); ++index) {
        QHash<QString, bool> annotated;
        headRefs.append(readRefs(repositories.at(index), &annotated));
        QHash<QString, int> last;
        for (const ConversionLog::State &state : logs.at(index).states())
            last.insert(state.branch, state.revision);
        lastOf.append(last);
    }

    ProgressLine progress(selected.size());
    QHash<QByteArray, QByteArray> commitTrees;
    for (int i = 0; i < selected.size(); ++i) {
        progress.update(i);
        const SelectedState &item = selected.at(i);
        const ConversionLog &log = logs.at(item.repositoryIndex);
        const ConversionLog::State &state = item.state;
        const QString &repository = repositories.at(item.repositoryIndex);
        if (i % commitsPerRead == 0) {
            commitTrees.clear();
            QMap<int, QList<QByteArray>> wanted;
            for (int j = i; j < std::min<int>(i + commitsPerRead, selected.size()); ++j) {
                const QByteArray commit = logs.at(selected.at(j).repositoryIndex)
                                                  .commitOf(selected.at(j).state.mark);
                if (!commit.isEmpty())
                    wanted[selected.at(j).repositoryIndex].append(commit);
            }
            for (auto it = wanted.cbegin(); it != wanted.cend(); ++it) {
                const QHash<QByteArray, QByteArray> contents =
                        readers.at(it.key()).contentsOfType("commit", it.value());
                for (auto c = contents.cbegin(); c != contents.cend(); ++c)
                    commitTrees.insert(c.key(), treeOfCommit(c.value()));
            }
        }
        TreeNodePointer expected;
        if (!branchTrees.advanceTo(state.revision)
            || !branchTrees.tree(repository, state.branch, &expected))
            return cannotRead(state.revision);
        ++checked.states;
        (isTag(state.branch) ? checked.tags : checked.branches)
                .insert(repository + QLatin1Char('\n') + state.branch);

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
            continue;
        }
        const QByteArray commit = log.commitOf(state.mark);
        if (commit.isEmpty() || !commitTrees.contains(commit)) {
            difference.kind = QStringLiteral("mark");
            difference.detail = commit.isEmpty()
                    ? QStringLiteral(":%1 is not in the marks file").arg(state.mark)
                    : QStringLiteral("git has no commit %1").arg(QString::fromLatin1(commit));
            m_differences.append(difference);
            continue;
        }
        if (!compareTree(branchTrees, expected, commitTrees.value(commit),
                         readers.at(item.repositoryIndex), difference))
            return cannotRead(state.revision);
        // A branch whose ref was moved away from its last recorded commit:
        // what the ref gives is compared too, so that the paths show.
        const QByteArray refCommit = headRefs.at(item.repositoryIndex).value(refOf(state.branch));
        if (lastOf.at(item.repositoryIndex).value(state.branch) == state.revision
            && !refCommit.isEmpty() && refCommit != commit) {
            const QByteArray content = readers.at(item.repositoryIndex)
                                               .contentsOfType("commit", {refCommit})
                                               .value(refCommit);
            difference.detail = QStringLiteral("at %1").arg(refOf(state.branch));
            if (!compareTree(branchTrees, expected, treeOfCommit(content),
                             readers.at(item.repositoryIndex), difference))
                return cannotRead(state.revision);
        }
    }


    for (int index = 0; index < repositories.size(); ++index)
        checkRefs(repositories.at(index), logs.at(index));
    report(checked);
    return m_differences.isEmpty() ? 0 : 1;
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

void Verifier::checkRefs(const QString &repository, const ConversionLog &log)
{
    // The last recorded state of each branch.
    QMap<QString, ConversionLog::State> last;
    for (const ConversionLog::State &state : log.states())
        last.insert(state.branch, state);

    QHash<QString, bool> annotated;
    const QHash<QString, QByteArray> refs = readRefs(repository, &annotated);

    auto addDifference = [&](const ConversionLog::State &state, const QString &path,
                             const QString &kind, const QString &detail) {
        Difference difference;
        difference.revision = state.revision;
        difference.repository = repository;
        difference.branch = state.branch;
        difference.path = path;
        difference.kind = kind;
        difference.detail = detail;
        m_differences.append(difference);
    };

    for (auto it = last.cbegin(); it != last.cend(); ++it) {
        const QString ref = refOf(it.key());
        const QByteArray commit = it.value().mark == 0 ? QByteArray() : log.commitOf(it->mark);
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
                if (log.commitOf(state.mark) != it.value())
                    addDifference(state, ref, QStringLiteral("tag"),
                                  QStringLiteral("the tag points at %1, the branch is at %2")
                                          .arg(QString::fromLatin1(it.value()),
                                               QString::fromLatin1(log.commitOf(state.mark))));
                continue;
            }
        }
        ConversionLog::State none;
        none.branch = branch;
        addDifference(none, ref, QStringLiteral("extra ref"),
                      QStringLiteral("no branch or tag of the log, no backup, no notes"));
    }
}

void Verifier::report(const Checked &checked) const
{
    const QString counts =
            QStringLiteral("checked %1 branch states in %2 %3 (%4 branches, %5 tags)")
                    .arg(checked.states)
                    .arg(checked.repositories)
                    .arg(checked.repositories == 1 ? QStringLiteral("repository")
                                                    : QStringLiteral("repositories"))
                    .arg(checked.branches.size())
                    .arg(checked.tags.size());
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
