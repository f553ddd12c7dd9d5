#pragma once

struct MatchRule;

// Counts the uses of match rules. The loader registers every rule it
// completes; the Subversion side counts every rule it selects for a path.
class MatchCounter
{
public:
    virtual ~MatchCounter() = default;

    virtual void registerRule(const MatchRule &rule) = 0;
    virtual void countMatch(const MatchRule &rule) = 0;
};
