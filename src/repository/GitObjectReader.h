#pragma once

#include "common/Failure.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

// Reads objects of an existing git repository with short git commands, for
// checking and rebuilding the converter's own state files from what git holds.
class GitObjectReader
{
public:
    explicit GitObjectReader(const QString &gitDirectory);

    // The names of the refs under refs/tags/ that point at tag objects, without "refs/tags/".
    QStringList annotatedTagNames() const;
    // The raw content of an object ("tag", "blob", ...); empty when git cannot give it.
    QByteArray objectContent(const QByteArray &type, const QByteArray &object) const;
    // Commit object name to note blob name, for every note of a notes commit.
    QHash<QByteArray, QByteArray> notesOf(const QByteArray &notesCommit) const;
    // The contents of many blobs through one git process; missing ones are left out.
    QHash<QByteArray, QByteArray> blobContents(const QList<QByteArray> &blobs) const;
    // The same for objects of any one type ("commit", "tree", ...).
    QHash<QByteArray, QByteArray> contentsOfType(const QByteArray &type,
                                                 const QList<QByteArray> &objects) const;

private:
    // Git's standard output, or why it failed.
    Result<QByteArray> run(const QStringList &arguments, const QByteArray &input = QByteArray()) const;

    QString m_directory;
};
