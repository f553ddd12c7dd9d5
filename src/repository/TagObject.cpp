#include "repository/TagObject.h"

#include <QList>

TagObject TagObject::parse(const QByteArray &content)
{
    TagObject tag;
    const qsizetype headerEnd = content.indexOf("\n\n");
    if (headerEnd < 0)
        return tag;
    tag.message = content.mid(headerEnd + 2);
    for (const QByteArray &line : content.left(headerEnd).split('\n')) {
        if (line.startsWith("object "))
            tag.taggedObject = line.mid(7);
        if (!line.startsWith("tagger "))
            continue;
        // "tagger NAME <ADDRESS> EPOCH +0000"
        const qsizetype zone = line.lastIndexOf(' ');
        const qsizetype date = line.lastIndexOf(' ', zone - 1);
        if (date <= 7)
            return tag;
        bool isNumber = false;
        tag.epoch = line.mid(date + 1, zone - date - 1).toUInt(&isNumber);
        tag.tagger = line.mid(7, date - 7);
        tag.valid = isNumber && !tag.taggedObject.isEmpty();
    }
    return tag;
}

bool parseTagMetadata(const QByteArray &line, const QByteArray &tagName, QByteArray *svnPrefix,
                      int *revision)
{
    const QByteArray start = "svn path=";
    const QByteArray end = "; tag=" + tagName;
    const qsizetype revisionAt = line.lastIndexOf("; revision=");
    if (!line.startsWith(start) || !line.endsWith(end) || revisionAt < start.size())
        return false;
    bool isNumber = false;
    const qsizetype numberAt = revisionAt + 11;
    *revision = line.mid(numberAt, line.size() - end.size() - numberAt).toInt(&isNumber);
    *svnPrefix = line.mid(start.size(), revisionAt - start.size());
    return isNumber;
}

bool findTagMetadata(const QByteArray &text, const QByteArray &tagName, QByteArray *svnPrefix,
                     int *revision)
{
    for (const QByteArray &line : text.split('\n')) {
        if (parseTagMetadata(line, tagName, svnPrefix, revision))
            return true;
    }
    return false;
}
