#include "verify/RefCheck.h"

#include "repository/GitCommand.h"
#include "repository/MarksFile.h"

#include <QSet>

#include <algorithm>

namespace {

bool isBackupRef(const QString &ref)
{
    return ref.startsWith(QLatin1String("refs/backups/"))
            || ref.startsWith(QLatin1String("refs/tags/backups/"));
}

} // namespace

RefCheck::RefCheck(const QString &repository)
    : m_repository(repository)
{
    // A repository git cannot read has no refs: the check names every one missing.
    const GitCommand git = GitCommand::run(
            {QStringLiteral("for-each-ref"),
             QStringLiteral("--format=%(objectname) %(objecttype) %(*objectname) %(refname)")},
            repository);
    for (const QByteArray &line : git.output().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() < 4)
            continue;
        const QString ref = QString::fromUtf8(line.mid(line.indexOf(' ', line.indexOf(' ') + 1) + 1))
                                    .section(QLatin1Char(' '), 1);
        const bool tagObject = parts.at(1) == "tag";
        m_refs.insert(ref, tagObject ? parts.at(2) : parts.at(0));
        if (tagObject)
            m_tagObjects.insert(ref, parts.at(0));
    }
}

QString RefCheck::refOf(const QString &branch)
{
    return branch.startsWith(QLatin1String("refs/")) ? branch
                                                      : QStringLiteral("refs/heads/") + branch;
}

void RefCheck::checkBranches(ConversionLog &log, const QString &marksFile,
                             QList<Difference> *out) const
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
    QList<Difference> moved;
    for (auto it = last.cbegin(); it != last.cend(); ++it) {
        const QString ref = refOf(it.key());
        const QByteArray commit = commits.value(it->mark);
        Difference difference{it->revision, m_repository, it->branch, ref, QStringLiteral("ref"),
                              QString()};
        if (it->mark == 0 && m_refs.contains(ref))
            difference.detail =
                    QStringLiteral("the log records the branch as deleted, git still has it");
        else if (it->mark != 0 && !m_refs.contains(ref))
            difference.detail = QStringLiteral("missing in git");
        else if (it->mark != 0 && m_refs.value(ref) != commit)
            difference.detail = QStringLiteral("git has %1, the log records %2")
                                        .arg(QString::fromLatin1(m_refs.value(ref)),
                                             QString::fromLatin1(commit));
        if (m_tagObjects.contains(ref))
            difference.kind = QStringLiteral("tag");
        if (!difference.detail.isEmpty())
            moved.append(difference);
    }
    markUnrecorded(marksFile, &moved);
    *out += moved;
    for (auto it = m_refs.cbegin(); it != m_refs.cend(); ++it)
        checkExtraRef(it.key(), it.value(), last, commits, out);
}

// Refs git has at commits that no mark records: a history grown in git.
void RefCheck::markUnrecorded(const QString &marksFile, QList<Difference> *differences) const
{
    QSet<QByteArray> commits;
    for (const Difference &difference : std::as_const(*differences))
        commits.insert(m_refs.value(difference.path));
    commits.remove(QByteArray());
    MarksFile marks;
    if (commits.isEmpty() || !marks.open(marksFile).ok())
        return;
    const QSet<QByteArray> recorded = marks.recorded(commits);
    for (Difference &difference : *differences) {
        const QByteArray commit = m_refs.value(difference.path);
        if (!commit.isEmpty() && !recorded.contains(commit))
            difference.kind = QStringLiteral("unrecorded commit");
    }
}

// A ref the log names no branch or tag for: notes, backups and the
// annotated tag made for a plain branch are explained.
void RefCheck::checkExtraRef(const QString &ref, const QByteArray &commit,
                             const QMap<QString, ConversionLog::State> &last,
                             const QHash<quint64, QByteArray> &commits,
                             QList<Difference> *out) const
{
    if (ref == QLatin1String("refs/notes/commits") || isBackupRef(ref))
        return;
    const QString branch = ref.startsWith(QLatin1String("refs/heads/")) ? ref.mid(11) : ref;
    if (last.contains(branch))
        return;
    if (m_tagObjects.contains(ref) && ref.startsWith(QLatin1String("refs/tags/"))
        && last.contains(ref.mid(10))) {
        const ConversionLog::State &state = last.value(ref.mid(10));
        if (commits.value(state.mark) != commit)
            out->append(Difference{state.revision, m_repository, state.branch, ref,
                                   QStringLiteral("tag"),
                                   QStringLiteral("the tag points at %1, the branch is at %2")
                                           .arg(QString::fromLatin1(commit),
                                                QString::fromLatin1(commits.value(state.mark)))});
        return;
    }
    out->append(Difference{0, m_repository, branch, ref, QStringLiteral("extra ref"),
                           QStringLiteral("no branch or tag of the log, no backup, no notes")});
}

// Every backup ref the log explains, at the commit it saves, and no other.
void RefCheck::checkBackups(const QMap<QString, HistoryCheck::Backup> &backups,
                            QList<Difference> *out) const
{
    auto addDifference = [&](const QString &ref, int revision, const QString &branch,
                             const QString &detail) {
        out->append(Difference{revision, m_repository, branch, ref, QStringLiteral("backup"),
                               detail});
    };
    for (auto it = backups.cbegin(); it != backups.cend(); ++it) {
        const QByteArray found = m_refs.value(it.key());
        if (found.isEmpty())
            addDifference(it.key(), it->revision, it->branch, QStringLiteral("missing in git"));
        else if (found != it->commit)
            addDifference(it.key(), it->revision, it->branch,
                          QStringLiteral("git has %1, the branch was at %2")
                                  .arg(QString::fromLatin1(found), QString::fromLatin1(it->commit)));
    }
    for (auto it = m_refs.cbegin(); it != m_refs.cend(); ++it) {
        if (isBackupRef(it.key()) && !backups.contains(it.key()))
            addDifference(it.key(), 0, QString(),
                          QStringLiteral("no deletion or move of the log made it"));
    }
}
