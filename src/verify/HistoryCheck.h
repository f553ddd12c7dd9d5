#pragma once

#include "verify/Difference.h"
#include "repository/MarksFile.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>

class GitObjectReader;

// Checks the parents of every commit a log records, line by line as the
// converter wrote them: a new commit's first parent is what its branch was
// at before (set by its last commit or by a line that put it at another
// branch's commit), and its other parents are exactly the marks its line
// names as merged. Holds per branch only the commit it is at.
class HistoryCheck
{
public:
    // Adds a "parents" difference for each commit whose parents differ, an
    // "unrecorded commit" one when a parent is a commit no mark records.
    // Fails when the log or marks cannot be read. Lines past lastRevision
    // are left out.
    Status check(const QString &repository, const QString &logFile, const QString &marksFile,
                 int lastRevision, QList<Difference> *differences);

    // The parents a commit object names, in order.
    static QList<QByteArray> parentsOfCommit(const QByteArray &content);

    struct Backup
    {
        int revision = 0;
        QString branch;
        QByteArray commit;
    };
    // The backup refs the converter made when it deleted or moved a branch
    // that had commits of an earlier revision, with the commit each saves.
    const QMap<QString, Backup> &backups() const { return m_backups; }

private:
    struct Line
    {
        int revision = 0;
        QString branch;
        quint64 mark = 0;
        QList<quint64> merged;
        bool newCommit = false;
        bool deletion = false;
    };

    // A commit whose parents differ from what the log gives, with the
    // parents git has beyond those.
    struct Suspect
    {
        Difference difference;
        QList<QByteArray> extraParents;
    };
    void reportSuspects(QList<Difference> *differences);
    void checkBatch(const QString &repository, const GitObjectReader &reader,
                    const QList<Line> &lines);
    void noteBackup(const Line &line);

    MarksFile m_marks;
    QHash<QString, QByteArray> m_branchCommits; // branch to the commit it is at
    QHash<QString, int> m_createdRevisions;
    QMap<QString, Backup> m_backups; // by ref
    QList<Suspect> m_suspects;
};
