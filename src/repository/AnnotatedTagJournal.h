#pragma once

#include "common/Failure.h"
#include "repository/AnnotatedTag.h"

#include <QHash>
#include <QSet>
#include <QString>

// The changes to the table of pending annotated tags since the tags file was
// last written, appended revision by revision before the revision's commands
// reach fast-import. A run that dies leaves the tags file of its start and
// this journal; together they hold every tag whose ref git may have.
// Each record: the revision (32-bit), the tag name, whether the tag exists,
// and then its AnnotatedTag if it does, in QDataStream's default encoding.
class AnnotatedTagJournal
{
public:
    explicit AnnotatedTagJournal(const QString &fileName);

    // Records the current state of each named tag: its entry or its removal.
    // A journal that could not be written fails naming its file; the caller
    // adds whose it is and what is at stake.
    Status append(int revision, const QSet<QString> &names,
                  const QHash<QString, AnnotatedTag> &table) const;
    // Applies to the table, in order, the records of revisions before
    // beforeRevision; a record cut short by a dying run ends the replay.
    // False when there is no journal.
    bool replay(QHash<QString, AnnotatedTag> &table, int beforeRevision) const;
    void remove() const;

private:
    Failure cannotWrite() const;

    QString m_fileName;
};
