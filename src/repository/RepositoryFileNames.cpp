#include "repository/RepositoryFileNames.h"

namespace RepositoryFileNames {

QString flattenedName(const QString &repositoryName)
{
    QString name = repositoryName;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return name;
}

QString logFileNameFor(const QString &repositoryName, bool createDump)
{
    const QString name = flattenedName(repositoryName);
    if (createDump)
        return name + QStringLiteral(".fi");
    return QStringLiteral("log-") + name;
}

QString marksFileName(const QString &repositoryName)
{
    return QStringLiteral("marks-") + flattenedName(repositoryName);
}

QString marksFilePath(const QString &repositoryName)
{
    return repositoryName + QLatin1Char('/') + marksFileName(repositoryName);
}

QString mirrorFileName(const QString &repositoryName)
{
    return QStringLiteral("gitlog-") + flattenedName(repositoryName);
}

// Without a repository directory (a dump), the state files lie beside the
// dump, so that a later run that appends to it can resume from them.
static QString stateFilePath(const QString &repositoryName, const QString &prefix,
                             bool createDump)
{
    const QString fileName = prefix + flattenedName(repositoryName);
    if (createDump)
        return fileName;
    return repositoryName + QLatin1Char('/') + fileName;
}

QString annotatedTagsFilePath(const QString &repositoryName, bool createDump)
{
    return stateFilePath(repositoryName, QStringLiteral("annotatedTags-"), createDump);
}

QString annotatedTagChangesFilePath(const QString &repositoryName, bool createDump)
{
    return stateFilePath(repositoryName, QStringLiteral("annotatedTagChanges-"), createDump);
}

QString branchNotesFilePath(const QString &repositoryName, bool createDump)
{
    return stateFilePath(repositoryName, QStringLiteral("branchNotes-"), createDump);
}

} // namespace RepositoryFileNames
