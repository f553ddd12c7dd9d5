#include "rules/RulesFileSet.h"

#include "rules/RulesFile.h"

#include <QDebug>
#include <QStringList>

RulesFileSet::RulesFileSet(const QString &fileNames, MatchCounter *counter)
    : m_fileNames(fileNames), m_counter(counter)
{
}

RulesFileSet::~RulesFileSet() = default;

Status RulesFileSet::load()
{
    // Empty pieces stay: "a.rules,,b.rules" names an empty file, which then
    // fails to open rather than being silently skipped.
    const QStringList names = m_fileNames.split(QLatin1Char(','));
    for (const QString &name : names) {
        qDebug() << "Loading rules from:" << name;
        auto file = std::make_unique<RulesFile>(name, m_counter);
        if (Status loaded = file->load(); !loaded)
            return loaded;
        m_repositoryRules.append(file->repositoryRules());
        m_matchRuleLists.append(file->matchRules());
        m_files.push_back(std::move(file));
    }
    return Status();
}
