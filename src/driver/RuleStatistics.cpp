#include "driver/RuleStatistics.h"

#include <QDebug>
#include <cstdio>

RuleStatistics::RuleStatistics(bool enabled) : m_enabled(enabled) {}

void RuleStatistics::registerRule(const MatchRule &rule)
{
    if (!m_enabled)
        return;
    if (m_counts.contains(rule))
        qWarning() << "WARN: Rule" << rule.summary() << "was added multiple times.";
    m_counts.insert(rule, 0);
}

void RuleStatistics::countMatch(const MatchRule &rule)
{
    if (!m_enabled)
        return;
    auto found = m_counts.find(rule);
    if (found != m_counts.end()) {
        ++found.value();
        return;
    }
    m_counts.insert(rule, 1);
    qWarning() << "WARN: New match rule" << rule.summary() << ", should have been added when created.";
}

void RuleStatistics::printReport() const
{
    if (!m_enabled)
        return;
    printf("\nRule stats\n");
    for (auto it = m_counts.constBegin(); it != m_counts.constEnd(); ++it)
        printf("%s was matched %i times\n", it.key().summary().toLocal8Bit().constData(), it.value());
    fflush(stdout);
}
