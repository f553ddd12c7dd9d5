#pragma once

#include "common/Failure.h"

#include <QSet>
#include <QString>
#include <functional>

// Revisions named by a revisions file.
using RevisionSet = QSet<int>;

// Reads a revisions file. latestRevision is asked at most once, and only when
// the file holds a range: it is the end of "N-HEAD", and no range reaches past
// it. An empty name gives an empty set. A file that cannot be read, or that
// names no revision to convert, is a failure: converting every revision
// instead of the few the user chose cannot be undone.
Result<RevisionSet> readRevisionList(const QString &fileName, const std::function<int()> &latestRevision);
