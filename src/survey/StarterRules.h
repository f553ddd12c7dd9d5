#pragma once

#include <QString>

class HistorySurvey;

// A first rules file for the layout a survey found: one repository per
// project, trunk to master, branches by name, tags as annotated tags, a
// "substitute branch" line wherever git would refuse a name, and a final
// rule that leaves everything else out, so that no path stops the run.
namespace StarterRules {

// singleProjectName names the repository of a layout whose trunk, branches
// and tags stand at the top of the Subversion repository.
QString write(const HistorySurvey &survey, const QString &singleProjectName);

// The repository name of a project directory.
QString repositoryNameFor(const QString &project, const QString &singleProjectName);

} // namespace StarterRules
