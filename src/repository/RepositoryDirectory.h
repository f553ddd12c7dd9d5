#pragma once

#include "common/Failure.h"
#include "rules/RepositoryRule.h"

#include <QString>

// Setting up the directory of a fast-import repository: a bare git
// repository that fast-import can write large files into without holding
// them in memory.
namespace RepositoryDirectory {

// The branch a new repository starts with ("master" unless git says otherwise).
QString defaultBranchName();
// Makes the directory of the rule's repository with a bare git repository in
// it, its description and an empty marks file; or says why that failed.
Status create(const RepositoryRule &rule);
// A repository made by an older version lacks the bound on the size of the
// files fast-import holds in memory; a value someone set on purpose is kept.
void boundBigFilesUnlessConfigured(const QString &repositoryName);

} // namespace RepositoryDirectory
