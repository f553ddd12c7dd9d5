#pragma once

#include "rules/MatchRule.h"
#include "svn/RuleTarget.h"

#include <QString>

// Told by the change dispatch of the rules problems it meets. With an
// observer the dispatch goes on past them, so that one pass over a history
// finds every problem; without one (a conversion) the first unmatched path
// or refused name fails the revision.
class DispatchObserver
{
public:
    virtual ~DispatchObserver() = default;

    // A changed path that no rule of any rules file covers. stopsConversion
    // is false for a copied directory, which the converter descends into and
    // whose uncovered entries it passes over silently.
    virtual void uncoveredPath(int revision, const QString &matchedPath,
                               bool stopsConversion) = 0;
    // A rule gave a branch or tag name that git refuses as a ref name.
    virtual void refusedRefName(int revision, const QString &matchedPath, const QString &branch,
                                const MatchRule &rule) = 0;
    // A rule sends a changed path (or, for a deletion, a path that goes)
    // into a branch whose name git takes.
    virtual void exportsInto(int revision, const QString &matchedPath, const RuleTarget &target,
                             bool deletion) = 0;
};
