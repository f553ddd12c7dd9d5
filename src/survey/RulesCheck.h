#pragma once

#include "common/Failure.h"
#include "rules/MatchCounter.h"
#include "svn/DispatchObserver.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

class ChangedPathsReader;
class RulesFileSet;

// Runs rules over every changed path of every revision through the
// converter's own dispatch, with repositories that write nothing and without
// file contents, and collects every problem instead of stopping at the first.
class RulesCheck : public DispatchObserver, public MatchCounter
{
public:
    // Uncovered paths that share a directory.
    struct UncoveredGroup
    {
        QStringList paths; // the first ones, distinct
        int total = 0;
        int firstRevision = -1;
        int lastRevision = -1;
        bool stopsConversion = false;
    };

    struct RefusedName
    {
        QString branch;
        QString rule;
        QString examplePath;
        int firstRevision = -1;
        int lastRevision = -1;
        int total = 0;
    };

    // rules must be loaded with this check as their match counter.
    Status run(ChangedPathsReader &reader, const RulesFileSet &rules);

    bool hasProblems() const;
    QString textReport() const;
    QJsonObject jsonReport() const;

    void uncoveredPath(int revision, const QString &matchedPath, bool stopsConversion) override;
    void refusedRefName(int revision, const QString &matchedPath, const QString &branch,
                        const MatchRule &rule) override;
    void registerRule(const MatchRule &rule) override;
    void countMatch(const MatchRule &rule) override;

private:
    int m_latestRevision = 0;
    QMap<QString, UncoveredGroup> m_uncovered;
    QMap<QString, RefusedName> m_refused;
    QMap<MatchRule, int> m_ruleCounts; // in file and line order
    QList<int> m_failedRevisions;
    QString m_lastPath;
    int m_lastRevision = -1;
};
