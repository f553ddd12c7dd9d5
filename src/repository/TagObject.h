#pragma once

#include <QByteArray>

// A tag object as git stores it, read back to rebuild the table of
// annotated tags when its file is lost.
struct TagObject
{
    QByteArray taggedObject;
    QByteArray tagger; // name and address, without the date
    uint epoch = 0;
    QByteArray message;
    bool valid = false;

    static TagObject parse(const QByteArray &content);
};

// Reads "svn path=P; revision=R; tag=T" back into P and R.
bool parseTagMetadata(const QByteArray &line, const QByteArray &tagName, QByteArray *svnPrefix,
                      int *revision);

// The metadata line of the tag among the lines of a text (a note), if any.
bool findTagMetadata(const QByteArray &text, const QByteArray &tagName, QByteArray *svnPrefix,
                     int *revision);
