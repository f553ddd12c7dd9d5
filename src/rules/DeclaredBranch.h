#pragma once

#include <QString>

// One "branch" line of a repository block: a branch the repository starts with.
struct DeclaredBranch
{
    QString name;
};
