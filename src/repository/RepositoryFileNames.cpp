#include "repository/RepositoryFileNames.h"

#include "driver/CommandLineParser.h"

namespace RepositoryFileNames {

QString flattenedName(const QString &repositoryName)
{
    QString name = repositoryName;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return name;
}

QString logFileNameFor(const QString &repositoryName)
{
    const QString name = flattenedName(repositoryName);
    if (CommandLineParser::instance()->contains(QStringLiteral("create-dump")))
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

QString annotatedTagsFilePath(const QString &repositoryName)
{
    return repositoryName + QStringLiteral("/annotatedTags-") + flattenedName(repositoryName);
}

QString annotatedTagChangesFilePath(const QString &repositoryName)
{
    return repositoryName + QStringLiteral("/annotatedTagChanges-") + flattenedName(repositoryName);
}

QString branchNotesFilePath(const QString &repositoryName)
{
    return repositoryName + QStringLiteral("/branchNotes-") + flattenedName(repositoryName);
}

} // namespace RepositoryFileNames
