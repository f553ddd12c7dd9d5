#pragma once

#include "common/Failure.h"
#include "driver/DriverOptions.h"
#include "driver/FailureReport.h"
#include "svn/IdentityMapFile.h"
#include "svn/RevisionList.h"
#include "driver/RuleStatistics.h"

#include <QHash>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

class ConversionLock;
class QCoreApplication;
class Repository;
class RulesFileSet;
class SvnSource;

// The program from its command line to its exit code: checks the command
// line, loads the rules, agrees with every output repository where to resume,
// converts the revisions in ascending order and finishes the repositories.
class Driver
{
public:
    Driver(int &argc, char **argv);
    ~Driver();

    int run();

private:
    // Returns an exit code when the command line ends the run, -1 otherwise.
    int checkCommandLine();
    void warnAboutMissingIdentities() const;
    void readRevisionBounds();
    // False when the identity map holds identities git would refuse; every
    // such line has then been reported.
    bool readIdentities();
    // False, after reporting it, when the message filter cannot be started.
    bool checkMessageFilter() const;
    // Returns the first revision to convert, or -1 when the run must end with 1.
    int negotiateResume();
    enum class PassResult { Complete, Repeat, Failed };
    PassResult createRepositoriesPass(int &cutoff, int &minRev);
    // False when the source cannot be opened; the cause has been reported.
    bool setUpSource();
    // False, after reporting it, when the revisions file cannot be used.
    bool readRevisionFilter();
    QString identityDomain() const;
    bool convertRevisions(int firstRevision);
    void warnIfNothingExported(int firstRevision) const;
    bool finishRepositories();
    void releaseRepository(Repository *repository);
    // The first failure a fast-import repository keeps: a fast-import process
    // that ended in a way that may have lost commits, or a commit that failed.
    Status importStatus() const;

    int &m_argc;
    char **m_argv;
    DriverOptions m_options;
    StandardErrorReporter m_failureReporter;
    std::unique_ptr<QCoreApplication> m_application;
    // Held until every repository is finished (members go in reverse order).
    std::unique_ptr<ConversionLock> m_lock;
    std::optional<RuleStatistics> m_statistics;
    std::unique_ptr<RulesFileSet> m_rules;
    std::unique_ptr<SvnSource> m_source;
    // The repositories in creation order, and by rule name; the table by name
    // is a view that the factory and the Subversion side get.
    std::vector<std::unique_ptr<Repository>> m_ownedRepositories;
    QHash<QString, Repository *> m_repositories;
    IdentityMap m_identities;
    RevisionSet m_revisionFilter; // empty: every revision
    int m_resumeFrom = 0;
    int m_maxRev = 0;
    int m_lastRevision = 0;
    int m_revisionsConverted = 0;       // converted in this run, exported or not
    bool m_earlierRunsExported = false; // a repository goes on after an earlier commit
};
