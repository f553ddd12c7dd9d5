#pragma once

#include "rules/MatchRule.h"

#include <QMap>

// Counts how often each match rule is used; reports with the stats option.
// Without that option every operation does nothing.
class RuleStatistics
{
public:
    static void initialize();
    static RuleStatistics *instance();

    void registerRule(const MatchRule &rule);
    void countMatch(const MatchRule &rule);
    void printReport() const;

    bool isEnabled() const { return m_enabled; }

private:
    explicit RuleStatistics(bool enabled);

    QMap<MatchRule, int> m_counts;
    bool m_enabled;
};
