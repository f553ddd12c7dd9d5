#pragma once

// The command-line switches that change how revisions are exported. The
// driver reads them once from the command line; the Subversion side only
// ever sees this value.
struct ExportOptions
{
    bool debugRules = false;  // trace every rule decision
    bool dryRun = false;      // announce file contents without sending them
    bool svnBranches = false; // dump the whole tree of a branch copy
    bool emptyDirs = false;   // keep empty directories with a placeholder
    bool svnIgnore = false;   // translate svn:ignore into .gitignore
    bool svnAttributes = false; // translate svn:eol-style, svn:mime-type into .gitattributes
    bool propcheck = false;   // warn about unknown directory properties
    bool svnMergeinfo = false; // merge parents come from svn:mergeinfo
};
