#pragma once

#include "rules/MatchRule.h"
#include "rules/RepositoryRule.h"

#include <QList>
#include <QString>
#include <memory>
#include <vector>

class RulesFile;

// All rules of a run: one RulesFile per comma-separated name of the rules option.
class RulesFileSet
{
public:
    explicit RulesFileSet(const QString &fileNames);
    ~RulesFileSet();

    void load();

    QList<RepositoryRule> repositoryRules() const { return m_repositoryRules; }
    QList<QList<MatchRule>> matchRuleLists() const { return m_matchRuleLists; }

private:
    QString m_fileNames;
    std::vector<std::unique_ptr<RulesFile>> m_files;
    QList<RepositoryRule> m_repositoryRules;
    QList<QList<MatchRule>> m_matchRuleLists;
};
