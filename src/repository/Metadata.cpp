#include "repository/Metadata.h"

QByteArray formatMetadata(const QByteArray &svnPrefix, int revision, const QByteArray &tag)
{
    QByteArray text = "svn path=" + svnPrefix + "; revision=" + QByteArray::number(revision);
    if (!tag.isEmpty())
        text += "; tag=" + tag;
    text += '\n';
    return text;
}

QByteArray formatCherryPick(const QByteArray &sourcePath, const QByteArray &ranges)
{
    return "svn cherry-pick=" + sourcePath + ':' + ranges + '\n';
}

QByteArray messageWithMetadata(const QByteArray &logMessage, const QByteArray &metadata)
{
    QByteArray text = logMessage;
    if (!text.endsWith('\n'))
        text += '\n';
    if (!metadata.isEmpty())
        text += "\n" + metadata;
    return text;
}
