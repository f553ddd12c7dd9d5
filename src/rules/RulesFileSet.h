#pragma once

#include "common/Failure.h"
#include "rules/MatchRule.h"
#include "rules/RepositoryRule.h"

#include <QList>
#include <QString>
#include <memory>
#include <vector>

class MatchCounter;
class RulesFile;

// All rules of a run: one RulesFile per comma-separated name of the rules option.
class RulesFileSet
{
public:
    // Every completed match rule is registered with counter, when there is one.
    explicit RulesFileSet(const QString &fileNames, MatchCounter *counter = nullptr);
    ~RulesFileSet();

    // Stops at the first fault of any file.
    Status load();

    QList<RepositoryRule> repositoryRules() const { return m_repositoryRules; }
    QList<QList<MatchRule>> matchRuleLists() const { return m_matchRuleLists; }

private:
    QString m_fileNames;
    MatchCounter *m_counter;
    std::vector<std::unique_ptr<RulesFile>> m_files;
    QList<RepositoryRule> m_repositoryRules;
    QList<QList<MatchRule>> m_matchRuleLists;
};
