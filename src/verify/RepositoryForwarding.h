#pragma once

#include "rules/RepositoryRule.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Where the repository rules send what goes to a repository: a forwarding
// repository writes into another one, with its prefix in front of the paths.
class RepositoryForwarding
{
public:
    explicit RepositoryForwarding(const QList<RepositoryRule> &rules) : m_rules(rules) {}

    struct Target
    {
        QString repository; // the one that writes
        QByteArray prefix; // the prefixes of the steps on the way
    };
    Target of(const QString &name) const;

private:
    QList<RepositoryRule> m_rules;
};
