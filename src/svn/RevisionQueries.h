#pragma once

#include "rules/MatchRule.h"

#include <QList>
#include <QString>

#include <apr_pools.h>
#include <svn_fs.h>

class MatchCounter;

// Small questions about a revision that the converter, the verifier and the
// survey all ask.
namespace RevisionQueries {

// Seconds since 1970 of a Subversion date such as 2009-02-13T23:31:30.000000Z.
uint parseSvnDate(const char *text);

// Whether path is a directory in revision; false when it cannot be read.
bool isDirectoryInRevision(svn_fs_t *fs, int revision, const char *path, apr_pool_t *pool);

// The first rule of the list that covers matchedPath at revision; counted
// with counter, when there is one. Null when no rule covers it.
const MatchRule *findMatchingRule(const QList<MatchRule> &ruleList, const QString &matchedPath,
                                  int revision, MatchCounter *counter);

} // namespace RevisionQueries
