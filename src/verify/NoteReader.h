#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// Reads the notes (refs/notes/commits) of many commits of one repository
// through one git process.
class NoteReader
{
public:
    explicit NoteReader(const QString &repository) : m_repository(repository) {}

    // The note text of each of commits that has one.
    QHash<QByteArray, QByteArray> notesOf(const QList<QByteArray> &commits) const;

private:
    QString m_repository;
};
