#include "verify/NoteReader.h"

#include <QProcess>

QHash<QByteArray, QByteArray> NoteReader::notesOf(const QList<QByteArray> &commits) const
{
    QHash<QByteArray, QByteArray> notes;
    if (commits.isEmpty())
        return notes;
    QProcess git;
    git.setWorkingDirectory(m_repository);
    git.start(QStringLiteral("git"),
              {QStringLiteral("log"), QStringLiteral("--no-walk=unsorted"), QStringLiteral("--stdin"),
               QStringLiteral("--notes"), QStringLiteral("--format=%H%x01%N%x00")});
    git.write(commits.join('\n') + '\n');
    git.closeWriteChannel();
    git.waitForFinished(-1);
    // "SHA\x01NOTE\0" per commit, a line feed between them.
    for (QByteArray entry : git.readAllStandardOutput().split('\0')) {
        if (entry.startsWith('\n'))
            entry.remove(0, 1);
        const int split = entry.indexOf('\x01');
        if (split == 40 && entry.size() > 41)
            notes.insert(entry.left(40), entry.mid(41));
    }
    return notes;
}
