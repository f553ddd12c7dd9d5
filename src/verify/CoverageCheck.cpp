#include "verify/CoverageCheck.h"

#include <algorithm>

QString CoverageCheck::key(const QString &repository, const QString &branch)
{
    return repository + QLatin1Char('\n') + branch;
}

void CoverageCheck::treeAt(int revision, const QString &repository, const QString &branch,
                           const QByteArray &treeId)
{
    const QString name = key(repository, branch);
    if (m_trees.value(name) == treeId)
        return;
    if (treeId.isEmpty())
        m_trees.remove(name);
    else
        m_trees.insert(name, treeId);
    if (revision >= m_from && (m_meant.isEmpty() || m_meant.contains(revision)))
        m_awaited[revision].insert(name);
}

void CoverageCheck::stateAt(int revision, const QString &repository, const QString &branch)
{
    const auto awaited = m_awaited.find(revision);
    if (awaited != m_awaited.end())
        awaited->remove(key(repository, branch));
}

void CoverageCheck::passed(int revision, QList<Difference> *differences)
{
    while (!m_awaited.isEmpty() && m_awaited.firstKey() < revision) {
        const int missingAt = m_awaited.firstKey();
        QList<QString> names = m_awaited.take(missingAt).values();
        std::sort(names.begin(), names.end());
        for (const QString &name : std::as_const(names)) {
            differences->append(Difference{
                    missingAt, name.section(QLatin1Char('\n'), 0, 0),
                    name.section(QLatin1Char('\n'), 1), QString(),
                    QStringLiteral("missing state"),
                    QStringLiteral("Subversion changes the branch, the log records nothing")});
        }
    }
}
