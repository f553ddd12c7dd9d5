#pragma once

#include "verify/Difference.h"

#include <QDataStream>
#include <QList>
#include <QSet>
#include <QString>

// What a check covered and what it found, printed as lines of text or as JSON.
class VerifyReport
{
public:
    void countState(const QString &repository, const QString &branch);
    // Counts the states another report counted too.
    void addStates(const VerifyReport &other);
    // The states counted, to and from another process.
    friend QDataStream &operator<<(QDataStream &out, const VerifyReport &report);
    friend QDataStream &operator>>(QDataStream &in, VerifyReport &report);
    void setRepositories(int count) { m_repositories = count; }
    void setRange(int lastRevision, int youngest)
    {
        m_lastRevision = lastRevision;
        m_youngest = youngest;
    }
    int states() const { return m_states; }

    // "checked N branch states in ..., r1–rN of M, trees, history and metadata: ..."
    void print(const QList<Difference> &differences, bool json) const;

private:
    QString counts() const;

    int m_states = 0;
    int m_repositories = 0;
    int m_lastRevision = 0;
    int m_youngest = 0;
    QSet<QString> m_branches;
    QSet<QString> m_tags;
};
