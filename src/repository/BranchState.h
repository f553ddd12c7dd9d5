#pragma once

#include <QList>

// What a fast-import repository knows about one branch: when it was last
// created and which commit it pointed to after each revision that touched it.
struct BranchState
{
    // Revision of the last creation or reset; 0 when the branch has no known creation.
    int createdRevision = 0;
    // Ascending revisions at which a commit, reset or deletion was recorded.
    QList<int> commitRevisions;
    // Parallel to commitRevisions: the mark the branch pointed to afterwards,
    // 0 when the branch was deleted then or had nothing to point to.
    QList<int> commitMarks;
};
