#pragma once

#include "rules/RuleAction.h"
#include "rules/Substitution.h"

#include <QDebug>
#include <QList>
#include <QRegExp>
#include <QString>

// One "match" block. A rule is identified by its file name and line number.
struct MatchRule
{
    QString rulesFile;
    int lineNumber = 0;
    QRegExp pattern;
    QString repository;
    QList<Substitution> repositorySubstitutions;
    QString branch;
    QList<Substitution> branchSubstitutions;
    QString prefix;
    int minRevision = -1;
    int maxRevision = -1; // -1: no upper bound
    bool annotated = false;
    RuleAction action = RuleAction::Ignore;

    // "file:line pattern", as messages and the statistics show a rule.
    QString summary() const;

    bool operator==(const MatchRule &other) const;
    bool operator<(const MatchRule &other) const;
};

// A rule in a diagnostic message appears as its quoted summary.
QDebug operator<<(QDebug debug, const MatchRule &rule);
