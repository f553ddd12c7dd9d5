#include "verify/VerifyReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

void VerifyReport::countState(const QString &repository, const QString &branch)
{
    ++m_states;
    (branch.startsWith(QLatin1String("refs/tags/")) ? m_tags : m_branches)
            .insert(repository + QLatin1Char('\n') + branch);
}

QString VerifyReport::counts() const
{
    return QStringLiteral("checked %1 branch states in %2 %3 (%4 branches, %5 tags), "
                          "r1\u2013r%6 of %7, trees, history and metadata")
            .arg(m_states)
            .arg(m_repositories)
            .arg(m_repositories == 1 ? QStringLiteral("repository")
                                     : QStringLiteral("repositories"))
            .arg(m_branches.size())
            .arg(m_tags.size())
            .arg(m_lastRevision)
            .arg(m_youngest);
}

void VerifyReport::print(const QList<Difference> &differences, bool json) const
{
    if (json) {
        QJsonArray list;
        for (const Difference &difference : differences) {
            list.append(QJsonObject{{QStringLiteral("revision"), difference.revision},
                                    {QStringLiteral("repository"), difference.repository},
                                    {QStringLiteral("branch"), difference.branch},
                                    {QStringLiteral("path"), difference.path},
                                    {QStringLiteral("kind"), difference.kind},
                                    {QStringLiteral("detail"), difference.detail}});
        }
        const QJsonObject result{{QStringLiteral("states"), m_states},
                                 {QStringLiteral("repositories"), m_repositories},
                                 {QStringLiteral("branches"), int(m_branches.size())},
                                 {QStringLiteral("tags"), int(m_tags.size())},
                                 {QStringLiteral("lastRevision"), m_lastRevision},
                                 {QStringLiteral("youngest"), m_youngest},
                                 {QStringLiteral("equal"), differences.isEmpty()},
                                 {QStringLiteral("differences"), list}};
        fputs(QJsonDocument(result).toJson(QJsonDocument::Indented).constData(), stdout);
        return;
    }
    for (const Difference &difference : differences)
        printf("%s\n", qPrintable(difference.text()));
    if (differences.isEmpty())
        printf("%s: all equal\n", qPrintable(counts()));
    else
        printf("%s: %d %s\n", qPrintable(counts()), int(differences.size()),
               differences.size() == 1 ? "difference" : "differences");
}
