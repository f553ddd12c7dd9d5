#pragma once

#include "common/Failure.h"
#include "rules/MatchRule.h"
#include "svn/DumpTarget.h"

#include <QList>

#include <apr_pools.h>
#include <svn_fs.h>

class AttributeFileWriter;
class DirectoryFileWriter;
class ExportProgress;
class FileContentsWriter;
class MatchCounter;

// Writes a whole Subversion tree of one revision into a transaction: its
// files, their directories' generated files and the subdirectories that the
// starting rule's repository exports.
class TreeWriter
{
public:
    // What the tree writer writes with; borrowed.
    struct Writers
    {
        const FileContentsWriter &files;
        const DirectoryFileWriter &directoryFiles;
        AttributeFileWriter &attributes;
    };
    // progress and counter may be null. svnIgnore translates ignore
    // properties; debugRules tells of the directories passed over.
    struct Settings
    {
        svn_fs_t *fs = nullptr;
        int revision = 0;
        bool svnIgnore = false;
        bool debugRules = false;
        ExportProgress *progress = nullptr;
        MatchCounter *counter = nullptr;
    };

    TreeWriter(const Settings &settings, const Writers &writers)
        : m_settings(settings), m_writers(writers)
    {
    }

    // Writes the tree at target into its transaction: the files, the
    // .gitignore files (unless the top one is written already) and the
    // subdirectories that rule's repository exports.
    Status write(const DumpTarget &target, const MatchRule &rule,
                 const QList<MatchRule> &ruleList, bool ignoreRulesWritten, apr_pool_t *pool);

private:
    Settings m_settings;
    Writers m_writers;
};
