#pragma once

#include "rules/MatchRule.h"
#include "svn/ChangedPathsReader.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>

// Looks at every changed path of a history with the rules alone: which
// rules' patterns take a path at all, and which files and copied
// directories only the last rule of the rules files leaves out, when that
// rule ignores every path (the catch-all of starter rules).
class LeftOutPaths
{
public:
    struct Group
    {
        int fileChanges = 0; // additions and modifications
        int copiedDirectories = 0;
        int firstRevision = -1;
        int lastRevision = -1;
    };

    explicit LeftOutPaths(const QList<QList<MatchRule>> &ruleLists);

    void look(const ChangedPathsReader::Revision &revision);

    // Whether the history added or changed a file or copied a directory.
    bool sawContent() const { return m_sawContent; }
    // Summaries of the rules whose pattern took a path.
    const QSet<QString> &coveredRules() const { return m_coveredRules; }
    // A directory and everything below it make one group; the files at the
    // top level make one of their own.
    QMap<QString, Group> byTopDirectory() const;

private:
    QList<QList<MatchRule>> m_ruleLists;
    bool m_sawContent = false;
    QSet<QString> m_coveredRules;
    QMap<QString, Group> m_groups; // by directory
};
