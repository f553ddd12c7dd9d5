#pragma once

#include <QSet>
#include <QString>
#include <functional>

// Revisions named by a revisions file.
using RevisionSet = QSet<int>;

// Reads a revisions file. latestRevision is asked only for ranges that end in
// HEAD or reach beyond the newest revision. An empty name gives an empty set.
RevisionSet readRevisionList(const QString &fileName, const std::function<int()> &latestRevision);
