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

void VerifyReport::addStates(const VerifyReport &other)
{
    m_states += other.m_states;
    m_branches.unite(other.m_branches);
    m_tags.unite(other.m_tags);
}

QDataStream &operator<<(QDataStream &out, const VerifyReport &report)
{
    return out << qint32(report.m_states) << report.m_branches << report.m_tags;
}

QDataStream &operator>>(QDataStream &in, VerifyReport &report)
{
    qint32 states = 0;
    in >> states >> report.m_branches >> report.m_tags;
    report.m_states = states;
    return in;
}

namespace {

QString counted(qsizetype count, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

} // namespace

QString VerifyReport::counts() const
{
    return QStringLiteral("checked %1 in %2 (%3, %4), r1\u2013r%5 of %6, trees, history and metadata")
            .arg(counted(m_states, "branch state", "branch states"),
                 counted(m_repositories, "repository", "repositories"),
                 counted(m_branches.size(), "branch", "branches"),
                 counted(m_tags.size(), "tag", "tags"))
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
