#pragma once

#include "svn/RevisionRanges.h"

#include <QByteArray>
#include <QList>
#include <QString>

// How the mergeinfo of one branch changed in one revision, as the Subversion
// side read it and routed its sources through the rules.
struct MergeInfoChange
{
    // A source path whose merged revisions grew at the branch root.
    struct Source
    {
        QByteArray svnPath;
        // The branch of the same repository whose root the path is; empty
        // when it is none (a subdirectory, another repository, an ignored
        // path).
        QString branch;
        // The revisions this revision merged from it.
        RevisionRanges added;
        // Every revision merged from it, after the change.
        RevisionRanges merged;
    };

    // In byte order of their paths; none when only mergeinfo below the root changed.
    QList<Source> sources;
};
