#include "rules/MatchRule.h"

QString MatchRule::summary() const
{
    return rulesFile + QLatin1Char(':') + QString::number(lineNumber) + QLatin1Char(' ') + pattern.pattern();
}

bool MatchRule::operator==(const MatchRule &other) const
{
    return rulesFile == other.rulesFile && lineNumber == other.lineNumber;
}

bool MatchRule::operator<(const MatchRule &other) const
{
    if (rulesFile != other.rulesFile)
        return rulesFile < other.rulesFile;
    return lineNumber < other.lineNumber;
}

QDebug operator<<(QDebug debug, const MatchRule &rule)
{
    debug << rule.summary();
    return debug;
}
