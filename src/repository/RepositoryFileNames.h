#pragma once

#include <QString>

// Names of the files a repository keeps. A repository name may contain "/";
// the per-repository file names use it with every "/" turned into "_".
namespace RepositoryFileNames {

QString flattenedName(const QString &repositoryName);

// In the current directory: "log-N", or the dump file "N.fi" with create-dump.
QString logFileNameFor(const QString &repositoryName, bool createDump);

// Relative to the repository directory (the fast-import working directory).
QString marksFileName(const QString &repositoryName);

// Relative to the current directory.
QString marksFilePath(const QString &repositoryName);
QString mirrorFileName(const QString &repositoryName);
// The state files: inside the repository directory, or with create-dump
// (which makes none) in the current directory beside the dump.
QString annotatedTagsFilePath(const QString &repositoryName, bool createDump);
// The tag changes since the tags file was written (AnnotatedTagJournal).
QString annotatedTagChangesFilePath(const QString &repositoryName, bool createDump);
QString branchNotesFilePath(const QString &repositoryName, bool createDump);

} // namespace RepositoryFileNames
