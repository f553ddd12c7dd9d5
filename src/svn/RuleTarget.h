#pragma once

#include <QString>

// Where a match rule sends one Subversion path.
struct RuleTarget
{
    // The part of the path that the rule's pattern matched.
    QString svnPrefix;
    // The repository the rule names.
    QString repository;
    // The repository that really receives the data, forwarding resolved.
    QString effectiveRepository;
    QString branch;
    // The path inside the branch.
    QString pathInBranch;
};
