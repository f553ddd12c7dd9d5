#include "verify/RepositoryForwarding.h"

// Follows the forwarding rules from name to the repository that writes, and
// collects the prefixes on the way: each step puts its prefix in front of
// what it forwards. The walk is bounded, so a forwarding loop cannot hang it.
RepositoryForwarding::Target RepositoryForwarding::of(const QString &name) const
{
    Target target{name, QByteArray()};
    for (int depth = 0; depth < m_rules.size(); ++depth) {
        const RepositoryRule *found = nullptr;
        for (const RepositoryRule &rule : m_rules) {
            if (rule.name == target.repository)
                found = &rule;
        }
        if (!found || found->targetName.isEmpty())
            break;
        target.prefix = found->prefix.toUtf8() + target.prefix;
        target.repository = found->targetName;
    }
    return target;
}
