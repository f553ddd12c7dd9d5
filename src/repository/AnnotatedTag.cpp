#include "repository/AnnotatedTag.h"

#include <QDataStream>

QDataStream &operator<<(QDataStream &stream, const AnnotatedTag &tag)
{
    stream << tag.taggedRef << tag.svnPrefix << tag.author << tag.logMessage
           << qint64(quint64(tag.epoch)) << qint64(tag.revision);
    return stream;
}

QDataStream &operator>>(QDataStream &stream, AnnotatedTag &tag)
{
    qint64 epoch = 0;
    qint64 revision = 0;
    stream >> tag.taggedRef >> tag.svnPrefix >> tag.author >> tag.logMessage >> epoch >> revision;
    tag.epoch = uint(quint64(epoch) & 0xffffffffu);
    tag.revision = int(quint32(quint64(revision) & 0xffffffffu));
    return stream;
}
