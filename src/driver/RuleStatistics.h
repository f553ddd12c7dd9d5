#pragma once

#include "rules/MatchCounter.h"
#include "rules/MatchRule.h"

#include <QMap>

// Counts how often each match rule is used; reports with the stats option.
// Without that option every operation does nothing.
class RuleStatistics : public MatchCounter
{
public:
    // enabled: whether the stats option was given.
    explicit RuleStatistics(bool enabled);

    void registerRule(const MatchRule &rule) override;
    void countMatch(const MatchRule &rule) override;
    void printReport() const;

    bool isEnabled() const { return m_enabled; }

private:
    QMap<MatchRule, int> m_counts;
    bool m_enabled;
};
