#pragma once

#include <QString>

// One way in which a conversion differs from Subversion.
struct Difference
{
    int revision = 0;
    QString repository;
    QString branch;
    QString path; // in the branch; for ref differences the ref name
    QString kind; // missing, extra, content, mode, deleted, ref, extra ref, tag, mark,
                  // missing state, parents, unrecorded commit, author, date, message, backup
    QString detail;

    // "rREV REPOSITORY BRANCH "PATH": KIND (DETAIL)"
    QString text() const;
};
