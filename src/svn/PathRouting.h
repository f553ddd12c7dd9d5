#pragma once

#include "rules/MatchRule.h"
#include "svn/RuleTarget.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

class MatchCounter;

// Where the rules send a Subversion path: the part the converter and the
// verifier share, so that both read a rules file the same way.
namespace PathRouting {

// Whether the rule's min revision and max revision admit the revision.
bool inForceAt(const MatchRule &rule, int revision);

// The first rule of the list that covers path (a directory ending in "/") at
// revision; null when none does. Counts nothing.
const MatchRule *firstMatchingRule(const QList<MatchRule> &ruleList, const QString &path,
                                   int revision);

// The rule that routes sourcePath, the source of a copy, as it was at
// revision; its pattern matched the first *matchLength characters. Unlike the
// lookup for changed paths, this one passes over Ignore rules, so that a later
// rule can claim a source an earlier Ignore rule covers. Counted with
// counter, when there is one; null when no rule routes the source.
const MatchRule *copySourceRule(const QList<MatchRule> &ruleList, const QString &sourcePath,
                                int revision, int *matchLength, MatchCounter *counter);

// The name of the repository that really receives what a repository name is given.
using RepositoryResolver = std::function<QString(const QString &repositoryName)>;

// The target of path under rule, whose pattern matched its first matchLength characters.
RuleTarget ruleTarget(const MatchRule &rule, const QString &path, int matchLength,
                      const RepositoryResolver &effectiveRepository);

// The target of path (a directory ending in "/") when the first rule of the
// list that covers it at revision exports it as the root of a branch: the
// whole path matched, nothing left for the path inside the branch.
std::optional<RuleTarget> branchRoot(const QList<MatchRule> &ruleList, const QString &path,
                                     int revision,
                                     const RepositoryResolver &effectiveRepository);

} // namespace PathRouting
