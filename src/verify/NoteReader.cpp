#include "verify/NoteReader.h"

#include "repository/GitCommand.h"

QHash<QByteArray, QByteArray> NoteReader::notesOf(const QList<QByteArray> &commits) const
{
    QHash<QByteArray, QByteArray> notes;
    if (commits.isEmpty())
        return notes;
    const GitCommand git = GitCommand::run(
            {QStringLiteral("log"), QStringLiteral("--no-walk=unsorted"), QStringLiteral("--stdin"),
             QStringLiteral("--notes"), QStringLiteral("--format=%H%x01%N%x00")},
            m_repository, commits.join('\n') + '\n');
    // "SHA\x01NOTE\0" per commit, a line feed between them. A commit git
    // cannot show has no note: the comparison names it.
    for (QByteArray entry : git.output().split('\0')) {
        if (entry.startsWith('\n'))
            entry.remove(0, 1);
        const int split = entry.indexOf('\x01');
        if (split == 40 && entry.size() > 41)
            notes.insert(entry.left(40), entry.mid(41));
    }
    return notes;
}
