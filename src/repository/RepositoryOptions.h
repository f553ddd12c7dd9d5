#pragma once

#include <QString>

#include <optional>

class FailureReporter;

// The command-line switches that change what the repositories write and
// where. The driver reads them once from the command line; the repository
// side only ever sees this value.
struct RepositoryOptions
{
    bool dryRun = false;           // the stream goes into the log, without file contents
    bool createDump = false;       // the stream goes into the dump file "N.fi"
    bool debugRules = false;       // mirror the stream into "gitlog-N"
    bool addMetadata = false;      // the Subversion path and revision end every message
    bool addMetadataNotes = false; // ... or go into a git note of every commit
    bool svnMergeinfo = false;     // merge parents come from svn:mergeinfo
    // A checkpoint after every this many transactions (the sign is ignored);
    // 0 means none.
    int commitInterval = 10000;
    // How long a stopping fast-import gets to finish; 0 waits as long as it
    // takes, a negative value once without limit either.
    int fastImportTimeoutSeconds = 30;
    // The program every commit message is passed through, when one is given.
    std::optional<QString> messageFilter;
    // Where the end of a fast-import that may have lost commits is reported
    // at once; without one it is only returned.
    FailureReporter *failureReporter = nullptr;

    // The stream is written into a file by "cat" instead of a git repository.
    bool writesToFile() const { return dryRun || createDump; }
};
