#pragma once

#include "repository/CommitGraph.h"
#include "svn/RevisionRanges.h"

#include <QList>

// Which merges recorded in Subversion's mergeinfo become parents of a git
// commit. The converter asks it while it writes commits, the verifier while
// it checks them, each over its own commit graph.
namespace MergeParents {

enum class Outcome {
    Parent,         // merged in full: the source commit becomes a parent
    AlreadyReached, // the branch holds the source commit already
    Partial,        // some source commits are missing: a cherry-pick
};

// The source is merged in full up to tip, its last commit at or before the
// highest merged revision, when every commit of the source branch on tip's
// line of first parents that head does not reach has its revision in
// merged. The source branch's commits are those from its creation at
// createdRevision on; before it, the line runs through the branch it was
// made from, whose revisions Subversion records under that branch's path.
Outcome judge(const CommitGraph &graph, quint64 head, quint64 tip, const RevisionRanges &merged,
              int createdRevision);

// The candidates, in their order and each once, that neither head nor
// another candidate reaches.
QList<quint64> withoutRedundant(const CommitGraph &graph, quint64 head,
                                const QList<quint64> &candidates);

} // namespace MergeParents
