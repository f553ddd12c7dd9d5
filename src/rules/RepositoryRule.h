#pragma once

#include "rules/DeclaredBranch.h"

#include <QList>
#include <QString>

// One "create repository" block.
struct RepositoryRule
{
    QString rulesFile;
    int lineNumber = 0;
    QString name;
    QList<DeclaredBranch> branches;
    QString description;
    // When set, this repository forwards everything into the named one.
    QString targetName;
    QString prefix;
};
