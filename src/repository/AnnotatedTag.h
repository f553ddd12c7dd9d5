#pragma once

#include <QByteArray>
#include <QString>

class QDataStream;

// An annotated tag waiting to be written at the end of the run.
struct AnnotatedTag
{
    // The branch name as the exporter gave it: a full ref or a plain branch name.
    QString taggedRef;
    QByteArray svnPrefix;
    QByteArray author;
    QByteArray logMessage;
    uint epoch = 0;
    int revision = 0;
};

// The tags file stores epoch and revision as 64-bit numbers; files written by
// earlier runs depend on that width, so it must not change.
QDataStream &operator<<(QDataStream &stream, const AnnotatedTag &tag);
QDataStream &operator>>(QDataStream &stream, AnnotatedTag &tag);
