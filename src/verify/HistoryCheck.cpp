#include "verify/HistoryCheck.h"

#include "repository/ConversionLogLine.h"
#include "repository/GitObjectReader.h"

#include <QFile>
#include <QMap>
#include <QStringList>

#include <algorithm>

namespace {

// Commits are read from git in groups of this many, which bounds memory.
const int linesPerRead = 4000;

} // namespace

QList<QByteArray> HistoryCheck::parentsOfCommit(const QByteArray &content)
{
    QList<QByteArray> parents;
    for (const QByteArray &line : content.split('\n')) {
        if (line.isEmpty())
            break; // the message follows
        if (line.startsWith("parent "))
            parents.append(line.mid(7, 40));
    }
    return parents;
}

namespace {

QString listed(const QList<QByteArray> &commits)
{
    QStringList names;
    for (const QByteArray &commit : commits)
        names.append(QString::fromLatin1(commit.isEmpty() ? QByteArray("(unknown)") : commit));
    return names.isEmpty() ? QStringLiteral("none") : names.join(QLatin1Char(' '));
}

} // namespace

Status HistoryCheck::check(const QString &repository, const QString &logFile,
                           const QString &marksFile, int lastRevision,
                           QList<Difference> *differences)
{
    QFile log(logFile);
    if (!log.open(QIODevice::ReadOnly))
        return Failure::fatal(
                QStringLiteral("cannot read the log %1: %2").arg(logFile, log.errorString()));
    if (Status opened = m_marks.open(marksFile); !opened)
        return opened;
    m_branchCommits.clear();
    m_createdRevisions.clear();
    m_backups.clear();
    m_suspects.clear();
    const GitObjectReader reader(repository);
    quint64 highest = 0;
    QList<Line> lines;
    while (!log.atEnd()) {
        const ConversionLogLine logged = ConversionLogLine::parse(log.readLine());
        if (logged.kind() != ConversionLogLine::Kind::Branch || logged.revision() > lastRevision)
            continue;
        Line line;
        line.revision = logged.revision();
        line.branch = logged.branch();
        line.mark = logged.mark();
        // Marks grow with every commit made; a line naming an older one puts
        // the branch at a commit that is there already.
        line.newCommit = line.mark > highest;
        highest = std::max(highest, line.mark);
        line.deletion = logged.isDeletion();
        line.merged = logged.mergeParents();
        lines.append(line);
        if (lines.size() == linesPerRead) {
            checkBatch(repository, reader, lines);
            lines.clear();
        }
    }
    checkBatch(repository, reader, lines);
    reportSuspects(differences);
    return Status();
}

// Differences are few: the parents no mark records are found in one more
// pass over the marks file.
void HistoryCheck::reportSuspects(QList<Difference> *differences)
{
    QSet<QByteArray> parents;
    for (const Suspect &suspect : std::as_const(m_suspects))
        parents.unite(QSet<QByteArray>(suspect.extraParents.cbegin(), suspect.extraParents.cend()));
    const QSet<QByteArray> recorded = m_marks.recorded(parents);
    for (Suspect &suspect : m_suspects) {
        for (const QByteArray &parent : std::as_const(suspect.extraParents)) {
            if (recorded.contains(parent))
                continue;
            suspect.difference.kind = QStringLiteral("unrecorded commit");
            suspect.difference.detail = QStringLiteral("parent %1 is no recorded commit; %2")
                                                .arg(QString::fromLatin1(parent),
                                                     suspect.difference.detail);
            break;
        }
        differences->append(suspect.difference);
    }
    m_suspects.clear();
}

void HistoryCheck::checkBatch(const QString &repository, const GitObjectReader &reader,
                              const QList<Line> &lines)
{
    // The marks in one pass over the marks file, in order.
    QList<quint64> marks;
    for (const Line &line : lines)
        marks += QList<quint64>{line.mark} + line.merged;
    std::sort(marks.begin(), marks.end());
    marks.erase(std::unique(marks.begin(), marks.end()), marks.end());
    QHash<quint64, QByteArray> commits;
    for (quint64 mark : std::as_const(marks))
        commits.insert(mark, mark == 0 ? QByteArray() : m_marks.commitOf(mark));
    QList<QByteArray> wanted;
    for (const Line &line : lines) {
        if (line.newCommit && !commits.value(line.mark).isEmpty())
            wanted.append(commits.value(line.mark));
    }
    const QHash<QByteArray, QByteArray> contents = reader.contentsOfType("commit", wanted);

    for (const Line &line : lines) {
        const QByteArray commit = commits.value(line.mark);
        if (line.newCommit && contents.contains(commit)) {
            QList<QByteArray> expected;
            if (const QByteArray first = m_branchCommits.value(line.branch); !first.isEmpty())
                expected.append(first);
            for (quint64 mark : line.merged)
                expected.append(commits.value(mark));
            const QList<QByteArray> found = parentsOfCommit(contents.value(commit));
            if (found != expected) {
                Suspect suspect{Difference{line.revision, repository, line.branch, QString(),
                                           QStringLiteral("parents"),
                                           QStringLiteral("the log gives %1, git has %2")
                                                   .arg(listed(expected), listed(found))},
                                {}};
                for (const QByteArray &parent : found) {
                    if (!expected.contains(parent))
                        suspect.extraParents.append(parent);
                }
                m_suspects.append(suspect);
            }
        }
        if (!line.newCommit)
            noteBackup(line);
        else if (m_branchCommits.value(line.branch).isEmpty())
            m_createdRevisions.insert(line.branch, line.revision);
        // A commit git lacks is reported with the branch's state.
        if (line.mark == 0)
            m_branchCommits.remove(line.branch);
        else
            m_branchCommits.insert(line.branch, commit);
    }
}

// A branch deleted or put elsewhere, that has commits of an earlier
// revision, is saved first under a backup ref.
void HistoryCheck::noteBackup(const Line &line)
{
    const QByteArray head = m_branchCommits.value(line.branch);
    const int created = m_createdRevisions.value(line.branch);
    m_createdRevisions.insert(line.branch, line.revision);
    if (head.isEmpty() || created == 0 || created == line.revision)
        return;
    const QString ref = line.branch.startsWith(QLatin1String("refs/"))
            ? line.branch
            : QStringLiteral("refs/heads/") + line.branch;
    const QString backup = line.deletion && ref.startsWith(QLatin1String("refs/heads/"))
            ? QStringLiteral("refs/tags/backups/%1@%2").arg(ref.mid(11)).arg(line.revision)
            : QStringLiteral("refs/backups/r%1%2").arg(line.revision).arg(ref.mid(4));
    m_backups.insert(backup, {line.revision, line.branch, head});
}
