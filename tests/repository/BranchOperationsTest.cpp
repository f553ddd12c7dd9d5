#include "RepositoryTestSupport.h"

#include <climits>
#include <cstring>

namespace {

class BranchOperationsTest : public RepositoryTest
{
};

TEST_F(BranchOperationsTest, MarkLookupFindsTheCommitOfARevision)
{
    setOptions({&RepositoryOptions::dryRun});
    write(QStringLiteral("log-repo"), "progress SVN r3 branch b = :10\n"
                                      "progress SVN r7 branch b = :20\n"
                                      "progress SVN r9 branch b = :30\n");
    writeMarks(QStringLiteral("repo"), 30);
    FastImportRepository repository(rule(QStringLiteral("repo")), options);
    int cutoff = INT_MAX;
    ASSERT_EQ(repository.prepareResume(cutoff).value(), 10);

    struct Case
    {
        int revision;
        int mark;
        const char *description;
    };
    const Case cases[] = {{9, 30, "d"},           {8, 20, "d at r8 => r7"}, {7, 20, "d at r7"},
                          {2, 0, "d"},            {100, 30, "d at r100 => r9"}};
    for (const Case &testCase : cases) {
        QByteArray description = "d";
        EXPECT_EQ(repository.markForRevision(QStringLiteral("b"), testCase.revision, description),
                  testCase.mark)
            << testCase.revision;
        EXPECT_EQ(description, QByteArray(testCase.description)) << testCase.revision;
    }
    QByteArray empty;
    EXPECT_EQ(repository.markForRevision(QStringLiteral("b"), 8, empty), 20);
    EXPECT_EQ(empty, QByteArray());

    EXPECT_FALSE(repository.hasBranch(QStringLiteral("ghost")));
    EXPECT_EQ(repository.markForRevision(QStringLiteral("ghost"), 5, empty), std::nullopt);
    EXPECT_FALSE(repository.hasBranch(QStringLiteral("ghost")));

    // Notes are kept only for known branches.
    repository.setNoteForBranch(QStringLiteral("unknown"), "n\n");
    EXPECT_EQ(repository.noteForBranch(QStringLiteral("unknown")), QByteArray());
    repository.setNoteForBranch(QStringLiteral("b"), "n\n");
    EXPECT_EQ(repository.noteForBranch(QStringLiteral("b")), QByteArray("n\n"));
}

TEST_F(BranchOperationsTest, QueuedResetAndDeletionStreamText)
{
    setOptions({&RepositoryOptions::dryRun, &RepositoryOptions::debugRules});
    write(QStringLiteral("log-repo"), "progress SVN r10 branch trunk = :34\n");
    writeMarks(QStringLiteral("repo"), 34);
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        int cutoff = INT_MAX;
        ASSERT_EQ(repository.prepareResume(cutoff).value(), 11);
        // A process started by the flush itself would also announce the queued branch.
        repository.ensureImportRunning();
        MessageCapture capture;
        ASSERT_TRUE(repository.makeBranch(QStringLiteral("b"), 12, QStringLiteral("trunk"), 12).ok());
        EXPECT_TRUE(capture.containsText(QStringLiteral(
            "Creating branch: \"b\" from \"trunk\" ( 12 \"from branch trunk at r12 => r10\" )")));
        EXPECT_TRUE(repository.flushPendingUpdates().ok());
        ASSERT_TRUE(repository.dropBranch(QStringLiteral("b"), 15).ok());
        EXPECT_TRUE(capture.containsText(
            QStringLiteral("WARN: backing up branch \"b\" to \"refs/tags/backups/b@15\"")));
        EXPECT_TRUE(repository.flushPendingUpdates().ok());
        // Nothing queued: nothing written.
        EXPECT_TRUE(repository.flushPendingUpdates().ok());

        const Status refused =
                repository.makeBranch(QStringLiteral("c"), 16, QStringLiteral("nowhere"), 3);
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.failure().message(), QStringLiteral(
            "\"c\" in repository \"repo\" is branching from branch \"nowhere\" but the latter "
            "doesn't exist. Can't continue."));
    }
    EXPECT_EQ(read(QStringLiteral("gitlog-repo")),
              QByteArray("reset refs/heads/trunk\nfrom :34\n\n"
                         "progress Branch refs/heads/trunk reloaded\n"
                         "reset refs/heads/b\nfrom :34\n\n"
                         "progress SVN r12 branch b = :34 # from branch trunk at r12 => r10\n\n"
                         "reset refs/tags/backups/b@15\nfrom refs/heads/b\n\n"
                         "reset refs/heads/b\nfrom 0000000000000000000000000000000000000000\n\n"
                         "progress SVN r15 branch b = :0 # delete\n\n"
                         "checkpoint\n"));
}

TEST_F(BranchOperationsTest, DeletionsComeBeforeResetsAndEmptyBranchesStartWithoutParent)
{
    setOptions({&RepositoryOptions::dryRun, &RepositoryOptions::debugRules});
    write(QStringLiteral("log-repo"), "progress SVN r2 branch trunk = :1\n"
                                      "progress SVN r4 branch old = :2\n");
    writeMarks(QStringLiteral("repo"), 2);
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        int cutoff = INT_MAX;
        ASSERT_EQ(repository.prepareResume(cutoff).value(), 5);
        repository.ensureImportRunning();
        MessageCapture capture;
        // trunk had no commit at revision 1, and Subversion held no file there.
        ASSERT_TRUE(repository.makeBranch(QStringLiteral("early"), 6, QStringLiteral("trunk"), 1,
                                          false)
                            .ok());
        EXPECT_TRUE(capture.containsText(QStringLiteral(
            "WARN: \"early\" in repository \"repo\" is branching but no exported commits exist in "
            "repository creating an empty branch.")));
        // The same copy of a tree that holds files: git has nothing to make it from.
        const Status lost =
                repository.makeBranch(QStringLiteral("lost"), 6, QStringLiteral("trunk"), 1);
        ASSERT_FALSE(lost.ok());
        EXPECT_EQ(lost.failure().message(), QStringLiteral(
            "\"lost\" in repository \"repo\" is branching from branch \"trunk\" at revision 1 "
            "but the latter has no commit then, while Subversion holds files there. "
            "Can't continue."));
        EXPECT_FALSE(repository.hasBranch(QStringLiteral("lost")));
        // Dropped and made again in one revision: the deletion goes first, one backup only.
        ASSERT_TRUE(repository.makeBranch(QStringLiteral("old"), 6, QStringLiteral("trunk"), 6).ok());
        ASSERT_TRUE(repository.dropBranch(QStringLiteral("old"), 6).ok());
        EXPECT_TRUE(repository.flushPendingUpdates().ok());
    }
    const QByteArray mirror = read(QStringLiteral("gitlog-repo"));
    // The announcements come in hash order.
    const qsizetype flushStart = mirror.indexOf("reset refs/heads/old\nfrom 0000");
    ASSERT_GE(flushStart, 0);
    const QByteArray announcements = mirror.left(flushStart);
    EXPECT_EQ(announcements.size(), qsizetype(strlen("reset refs/heads/trunk\nfrom :1\n\n"
                                                     "progress Branch refs/heads/trunk reloaded\n"
                                                     "reset refs/heads/old\nfrom :2\n\n"
                                                     "progress Branch refs/heads/old reloaded\n")));
    EXPECT_TRUE(announcements.contains("reset refs/heads/trunk\nfrom :1\n\n"
                                       "progress Branch refs/heads/trunk reloaded\n"));
    EXPECT_TRUE(announcements.contains("reset refs/heads/old\nfrom :2\n\n"
                                       "progress Branch refs/heads/old reloaded\n"));
    const QByteArray flushed = mirror.mid(flushStart);
    EXPECT_EQ(flushed,
              QByteArray("reset refs/heads/old\nfrom 0000000000000000000000000000000000000000\n\n"
                         "progress SVN r6 branch old = :0 # delete\n\n"
                         "reset refs/heads/early\nfrom 0000000000000000000000000000000000000000\n\n"
                         "progress SVN r6 branch early = :0 # from branch trunk, deleted/unknown\n\n"
                         "reset refs/backups/r6/heads/old\nfrom refs/heads/old\n\n"
                         "reset refs/heads/old\nfrom :1\n\n"
                         "progress SVN r6 branch old = :1 # from branch trunk at r6 => r2\n\n"
                         "checkpoint\n"));
}

TEST_F(BranchOperationsTest, BranchesAndBackupsInGit)
{
    auto repository = makeRepository(QStringLiteral("repo"));
    commitFiles(*repository, QStringLiteral("master"), 1, {{QStringLiteral("a"), "1"}});
    commitFiles(*repository, QStringLiteral("master"), 2, {{QStringLiteral("a"), "2"}});

    // Made from master as it was at revision 1.
    ASSERT_TRUE(repository->makeBranch(QStringLiteral("feature"), 3, QStringLiteral("master"), 1).ok());
    EXPECT_TRUE(repository->flushPendingUpdates().ok());
    commitFiles(*repository, QStringLiteral("feature"), 3, {{QStringLiteral("f"), "f"}});

    // Reset of a branch with a live head from an earlier revision: backed up first.
    ASSERT_TRUE(repository->makeBranch(QStringLiteral("feature"), 4, QStringLiteral("master"), 4).ok());
    EXPECT_TRUE(repository->flushPendingUpdates().ok());
    ASSERT_TRUE(repository->dropBranch(QStringLiteral("feature"), 5).ok());
    // A branch made and dropped in the same revision is not backed up (and,
    // deletions going first, ends up made).
    ASSERT_TRUE(repository->makeBranch(QStringLiteral("brief"), 5, QStringLiteral("master"), 5).ok());
    ASSERT_TRUE(repository->dropBranch(QStringLiteral("brief"), 5).ok());
    EXPECT_TRUE(repository->flushPendingUpdates().ok());
    commitFiles(*repository, QStringLiteral("master"), 6, {{QStringLiteral("a"), "6"}});
    repository.reset();

    const QString master1 = git(QStringLiteral("repo"), QStringLiteral("rev-parse master~2"));
    const QString master2 = git(QStringLiteral("repo"), QStringLiteral("rev-parse master~1"));
    const QString featureCommit =
        git(QStringLiteral("repo"), QStringLiteral("rev-parse refs/backups/r4/heads/feature"));
    EXPECT_EQ(git(QStringLiteral("repo"), QStringLiteral("rev-parse refs/backups/r4/heads/feature^")),
              master1);
    EXPECT_EQ(git(QStringLiteral("repo"), QStringLiteral("rev-parse refs/tags/backups/feature@5")),
              master2);
    EXPECT_EQ(git(QStringLiteral("repo"), QStringLiteral("for-each-ref --format='%(refname)'")),
              QStringLiteral("refs/backups/r4/heads/feature\n"
                             "refs/heads/brief\n"
                             "refs/heads/master\n"
                             "refs/tags/backups/feature@5"));
    EXPECT_EQ(git(QStringLiteral("repo"), QStringLiteral("cat-file -p ") + featureCommit + QStringLiteral(":f")),
              QStringLiteral("f"));
}

TEST_F(BranchOperationsTest, DroppedTagRefRemovesItsPendingAnnotatedTag)
{
    setOptions({&RepositoryOptions::dryRun});
    write(QStringLiteral("log-repo"), "progress SVN r1 branch trunk = :1\n");
    writeMarks(QStringLiteral("repo"), 1);
    FastImportRepository repository(rule(QStringLiteral("repo")), options);
    int cutoff = INT_MAX;
    ASSERT_TRUE(repository.prepareResume(cutoff).ok());
    {
        StdoutCapture quiet;
        repository.recordAnnotatedTag(QStringLiteral("refs/tags/rel"), QStringLiteral("/tags/rel/"),
                                      2, "A <a@b>", 7, "tag");
        repository.recordAnnotatedTag(QStringLiteral("refs/tags/keep"),
                                      QStringLiteral("/tags/keep/"), 2, "A <a@b>", 7, "tag");
        repository.recordAnnotatedTag(QStringLiteral("plain"), QStringLiteral("/branches/plain/"),
                                      2, "A <a@b>", 7, "tag");
    }
    MessageCapture capture;
    ASSERT_TRUE(repository.dropBranch(QStringLiteral("refs/tags/rel"), 3).ok());
    ASSERT_TRUE(repository.dropBranch(QStringLiteral("refs/tags/keep"), 3).ok());
    ASSERT_TRUE(repository.makeBranch(QStringLiteral("refs/tags/keep"), 3, QStringLiteral("trunk"), 3).ok());
    ASSERT_TRUE(repository.dropBranch(QStringLiteral("plain"), 3).ok());
    EXPECT_TRUE(repository.flushPendingUpdates().ok());
    EXPECT_TRUE(capture.containsText(QStringLiteral("Removing annotated tag \"rel\" for \"repo\"")));
    EXPECT_FALSE(capture.containsText(QStringLiteral("Removing annotated tag \"keep\" for \"repo\"")));
    // A tag recorded from a plain branch name goes with that branch.
    EXPECT_TRUE(capture.containsText(QStringLiteral("Removing annotated tag \"plain\" for \"repo\"")));

    StdoutCapture output;
    EXPECT_TRUE(repository.writeAnnotatedTags().ok());
    const QByteArray printed = output.finish();
    EXPECT_TRUE(printed.startsWith("Finalising annotated tags for repo..."));
    EXPECT_TRUE(printed.contains(" keep"));
    EXPECT_FALSE(printed.contains(" plain"));
    EXPECT_FALSE(printed.contains(" rel"));
}

} // namespace
