#pragma once

#include <QString>

class HistorySurvey;

// A first rules file for the layout a survey found: one repository per
// project, trunk to the default branch, branches by name (those of nested
// containers as CONTAINER/NAME), tags as annotated tags, a "substitute
// branch" line wherever git would refuse a name or a branch would take the
// ref of trunk, a branch for every directory made by copying a branch, and
// a final rule that leaves everything else out, so that no path stops the
// run. Without any trunk, branches or tags directory the whole repository
// becomes the default branch of one repository.
namespace StarterRules {

// singleProjectName names the repository of a layout whose trunk, branches
// and tags stand at the top of the Subversion repository.
QString write(const HistorySurvey &survey, const QString &singleProjectName,
              const QString &defaultBranch);

// The repository name of a project directory.
QString repositoryNameFor(const QString &project, const QString &singleProjectName);

} // namespace StarterRules
