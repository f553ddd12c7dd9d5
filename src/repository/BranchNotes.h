#pragma once

#include "common/Failure.h"
#include "repository/RepositoryOptions.h"

#include <QByteArray>
#include <QHash>
#include <QString>

class BranchTable;

// The note of each branch head of one repository, kept between runs so that
// annotated tags can append their metadata to it.
class BranchNotes
{
public:
    // The mark of the notes commit: every notes commit takes it anew.
    static constexpr quint64 commitMark = 18446744073709551615ull;

    BranchNotes(const QString &repositoryName, const RepositoryOptions &options,
                const BranchTable &branches);

    QByteArray noteFor(const QString &branch) const { return m_notes.value(branch); }
    // Only a branch with a record keeps a note.
    void setNoteFor(const QString &branch, const QByteArray &note);
    // A branch made from another starts with the note of its source.
    void copyNote(const QString &branch, const QString &sourceBranch);
    const QHash<QString, QByteArray> &all() const { return m_notes; }
    void replaceAll(const QHash<QString, QByteArray> &notes) { m_notes = notes; }

    // Reads the notes the last run saved, and puts them right against git.
    void load();
    Status store() const;

    // Commit to note blob, for the newest notes commit that the marks (mark
    // to object name) name; empty when no note was ever stored.
    QHash<QByteArray, QByteArray> notesInGit(const QHash<quint64, QByteArray> &marks) const;
    // Whether the marks file names a notes commit, which fast-import then knows.
    bool commitIsKnown() const;
    // Mark to object name, as the repository's marks file lists them; empty
    // when it cannot be read.
    QHash<quint64, QByteArray> marksFileObjects() const;

private:
    void takeNotesFromGit();

    const QString m_repositoryName;
    const RepositoryOptions &m_options;
    const BranchTable &m_branches;
    QHash<QString, QByteArray> m_notes;
};
