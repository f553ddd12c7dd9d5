#include "RepositoryTestSupport.h"
#include "repository/GitNames.h"

#include "TestSupport.h"

#include <QDir>

#include <algorithm>

#include <climits>

namespace {

class TransactionTest : public RepositoryTest
{
};

void addFile(Repository::Transaction &transaction, const QString &path, const QByteArray &content,
             int mode = 0100644)
{
    QIODevice *device = transaction.openFile(path, mode, content.size()).value();
    device->write(content);
    device->write("\n");
}

void finish(Repository::Transaction &transaction, const QByteArray &message, uint time = 1234567890)
{
    transaction.setCommitter("Jane Doe <jane@example.com>");
    transaction.setCommitTime(time);
    transaction.setMessage(message);
    ASSERT_TRUE(transaction.writeCommit().ok());
}

TEST_F(TransactionTest, CommitStreamText)
{
    setOptions({&RepositoryOptions::createDump});
    QByteArray printed;
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        StdoutCapture output;
        {
            std::unique_ptr<Repository::Transaction> transaction(repository.beginTransaction(
                QStringLiteral("master"), QStringLiteral("/trunk/"), 1).takeValue());
            addFile(*transaction, QStringLiteral("a.txt"), "hello");
            addFile(*transaction, QStringLiteral("bin/run"), "#!", 0100755);
            finish(*transaction, "fix");
        }
        MessageCapture capture;
        {
            std::unique_ptr<Repository::Transaction> transaction(repository.beginTransaction(
                QStringLiteral("feature"), QStringLiteral("/branches/feature/"), 2).takeValue());
            EXPECT_TRUE(capture.containsText(QStringLiteral(
                "WARN: Transaction: \"feature\" is not a known branch in repository \"repo\" \n "
                "Going to create it automatically")))
                << capture.texts().join(QLatin1Char('|')).toStdString();
            transaction->removePath(QStringLiteral("dir/"));
            transaction->removePath(QStringLiteral("old.txt"));
            addFile(*transaction, QStringLiteral("link"), "a.txt", 0120000);
            finish(*transaction, "");
            EXPECT_TRUE(capture.containsText(QStringLiteral(
                "WARN: Branch \"feature\" in repository \"repo\" doesn't exist at revision 2 -- "
                "did you resume from the wrong revision?")));
        }
        {
            std::unique_ptr<Repository::Transaction> transaction(repository.beginTransaction(
                QStringLiteral("master"), QStringLiteral("/trunk/"), 3).takeValue());
            transaction->recordMergeSource(QStringLiteral("feature"), 2);
            transaction->recordMergeSource(QStringLiteral("master"), 2);
            transaction->removePath(QStringLiteral("x"));
            transaction->removePath(QString());
            addFile(*transaction, QStringLiteral("new"), "");
            finish(*transaction, "merge\n", 1234567900);
        }
        EXPECT_TRUE(capture.containsText(QStringLiteral("WARN: Cannot merge inside a branch")));
        EXPECT_TRUE(capture.containsText(QStringLiteral(
            "\"WARN: repository repo branch master has some files copied from feature@2\"")));
        EXPECT_TRUE(capture.containsText(QStringLiteral("adding \"feature@2\" : 2 as a merge point")));
        printed = output.finish();
    }
    EXPECT_EQ(printed, QByteArray(" 2 modifications from SVN /trunk/ to repo/master"
                                  " 3 modifications from SVN /branches/feature/ to repo/feature"
                                  " 3 modifications from SVN /trunk/ to repo/master"));
    EXPECT_EQ(read(QStringLiteral("repo.fi")),
              QByteArray("blob\nmark :18446744073709551614\ndata 5\nhello\n"
                         "blob\nmark :18446744073709551613\ndata 2\n#!\n"
                         "commit refs/heads/master\nmark :1\n"
                         "committer Jane Doe <jane@example.com> 1234567890 +0000\n"
                         "data 4\nfix\n\n"
                         "M 100644 :18446744073709551614 a.txt\n"
                         "M 100755 :18446744073709551613 bin/run\n"
                         "\nprogress SVN r1 branch master = :1\n\n"
                         "blob\nmark :18446744073709551614\ndata 5\na.txt\n"
                         "commit refs/heads/feature\nmark :2\n"
                         "committer Jane Doe <jane@example.com> 1234567890 +0000\n"
                         "data 1\n\n\n"
                         "D dir\nD old.txt\n"
                         "M 120000 :18446744073709551614 link\n"
                         "\nprogress SVN r2 branch feature = :2\n\n"
                         "blob\nmark :18446744073709551614\ndata 0\n\n"
                         "commit refs/heads/master\nmark :3\n"
                         "committer Jane Doe <jane@example.com> 1234567900 +0000\n"
                         "data 6\nmerge\n\n"
                         "merge :2\n"
                         "deleteall\n"
                         "M 100644 :18446744073709551614 new\n"
                         "\nprogress SVN r3 branch master = :3 # merge from :2\n\n"
                         "checkpoint\n"));
}

TEST_F(TransactionTest, ModesDeletionsAndMergeParentsInGit)
{
    auto repository = makeRepository(QStringLiteral("repo"));
    commitFiles(*repository, QStringLiteral("master"), 1,
                {{QStringLiteral("plain.txt"), "p"},
                 {QStringLiteral("tool"), "#!/bin/sh", 0100755},
                 {QStringLiteral("link"), "plain.txt", 0120000},
                 {QStringLiteral("dir/one"), "1"},
                 {QStringLiteral("dir/two"), "2"}});
    commitFiles(*repository, QStringLiteral("master"), 2, {}, {QStringLiteral("dir/"), QStringLiteral("tool")});
    commitFiles(*repository, QStringLiteral("master"), 3, {{QStringLiteral("fresh"), "f"}}, {QString()});

    // Twenty branches, each merged into master: at most 16 parents in all.
    QList<QPair<QString, int>> sources;
    for (int i = 1; i <= 20; ++i) {
        const QString branch = QStringLiteral("b") + QString::number(i);
        commitFiles(*repository, branch, 3 + i, {{QStringLiteral("f") + QString::number(i), "x"}});
        sources.append({branch, 3 + i});
    }
    MessageCapture capture;
    commitFiles(*repository, QStringLiteral("master"), 30, {{QStringLiteral("merged"), "m"}}, {},
                "merge", sources);
    EXPECT_TRUE(capture.containsText(QStringLiteral("WARN: too many merge parents")));
    repository.reset();

    EXPECT_EQ(git(QStringLiteral("repo"), QStringLiteral("ls-tree -r master~3 --format='%(objectmode) %(path)'")),
              QStringLiteral("100644 dir/one\n100644 dir/two\n120000 link\n100644 plain.txt\n100755 tool"));
    EXPECT_EQ(git(QStringLiteral("repo"), QStringLiteral("cat-file -p master~3:link")), QStringLiteral("plain.txt"));
    EXPECT_EQ(git(QStringLiteral("repo"), QStringLiteral("ls-tree -r --name-only master~2")),
              QStringLiteral("link\nplain.txt"));
    EXPECT_EQ(git(QStringLiteral("repo"), QStringLiteral("ls-tree -r --name-only master~1")),
              QStringLiteral("fresh"));

    const QStringList parents =
        git(QStringLiteral("repo"), QStringLiteral("rev-list --parents -n 1 master"))
            .split(QLatin1Char(' '));
    ASSERT_EQ(parents.size(), 17);
    EXPECT_EQ(parents.at(1), git(QStringLiteral("repo"), QStringLiteral("rev-parse master~1")));
    for (int i = 1; i <= 15; ++i)
        EXPECT_EQ(parents.at(1 + i),
                  git(QStringLiteral("repo"), QStringLiteral("rev-parse b") + QString::number(i)));
    EXPECT_EQ(git(QStringLiteral("repo"), QStringLiteral("rev-list --count master~1")),
              QStringLiteral("3"));
    // The marks file lists the 24 commit marks first, then the blob marks.
    const QList<QByteArray> marks = read(QStringLiteral("repo/marks-repo")).split('\n');
    ASSERT_GE(marks.size(), 25);
    EXPECT_TRUE(marks.at(23).startsWith(":24 "));
    EXPECT_TRUE(marks.at(24).startsWith(":18446744073709551"));
}

TEST_F(TransactionTest, MergeChoicesAndTheCvs2svnWorkaround)
{
    setOptions({&RepositoryOptions::dryRun, &RepositoryOptions::debugRules});
    QByteArray log;
    for (const char *line : {"p = :3", "y = :3", "x = :7", "c5 = :5", "c9 = :9", "c2 = :2"})
        log += QByteArray("progress SVN r1 branch ") + line + "\n";
    for (int i = 1; i <= 20; ++i)
        log += "progress SVN r2 branch m" + QByteArray::number(i) + " = :" + QByteArray::number(i) + "\n";
    write(QStringLiteral("log-repo"), log);
    writeMarks(QStringLiteral("repo"), 21);
    FastImportRepository repository(rule(QStringLiteral("repo")), options);
    int cutoff = INT_MAX;
    ASSERT_EQ(repository.prepareResume(cutoff).value(), 3);
    repository.ensureImportRunning();
    const qsizetype before = read(QStringLiteral("gitlog-repo")).size();

    MessageCapture capture;
    {
        std::unique_ptr<Repository::Transaction> transaction(
            repository.beginTransaction(QStringLiteral("p"), QStringLiteral("/p/"), 3).takeValue());
        transaction->recordMergeSource(QStringLiteral("x"), 1);
        transaction->recordMergeSource(QStringLiteral("y"), 1);
        transaction->recordMergeSource(QStringLiteral("x"), 1);
        transaction->recordMergeSource(QStringLiteral("x"), 0);
        transaction->recordMergeSource(QStringLiteral("nothing"), 1);
        finish(*transaction, "m");
    }
    EXPECT_TRUE(capture.containsText(QStringLiteral("merge point already recorded")));
    EXPECT_TRUE(capture.containsText(
        QStringLiteral("Skipping marking 3 as a merge point as it matches the parent")));
    EXPECT_TRUE(capture.containsText(
        QStringLiteral("WARN: Unknown revision r \"0\" .  Continuing, assuming the files exist.")));
    EXPECT_TRUE(capture.containsText(QStringLiteral(
        "WARN: \"p\" is copying from branch \"nothing\" but the latter doesn't exist.  "
        "Continuing, assuming the files exist.")));
    {
        std::unique_ptr<Repository::Transaction> transaction(
            repository.beginTransaction(QStringLiteral("y"), QStringLiteral("/y/"), 4).takeValue());
        transaction->recordMergeSource(QStringLiteral("c5"), 1);
        transaction->recordMergeSource(QStringLiteral("c9"), 1);
        transaction->recordMergeSource(QStringLiteral("c2"), 1);
        finish(*transaction, "This commit was manufactured by cvs2svn to create tag 'x'.");
    }
    EXPECT_TRUE(capture.containsText(QStringLiteral(
        "WARN: Discarding all but the highest merge point as a workaround for cvs2svn created "
        "branch/tag Discarded marks: QList(2, 5)")));
    {
        std::unique_ptr<Repository::Transaction> transaction(
            repository.beginTransaction(QStringLiteral("c9"), QStringLiteral("/c9/"), 5).takeValue());
        for (int i = 1; i <= 20; ++i)
            transaction->recordMergeSource(QStringLiteral("m") + QString::number(i), 2);
        finish(*transaction, "many");
    }
    EXPECT_TRUE(capture.containsText(QStringLiteral("WARN: too many merge parents")));

    // c9's own head (mark 9) is its parent, so it is no merge parent; the
    // parent and 15 merges make 16.
    EXPECT_TRUE(capture.containsText(
        QStringLiteral("Skipping marking 9 as a merge point as it matches the parent")));
    QByteArray manyMerges;
    QByteArray manyDescription;
    for (int i = 1; i <= 16; ++i) {
        if (i == 9)
            continue;
        manyMerges += "merge :" + QByteArray::number(i) + "\n";
        manyDescription += " :" + QByteArray::number(i);
    }

    EXPECT_EQ(read(QStringLiteral("gitlog-repo")).mid(before),
              QByteArray("commit refs/heads/p\nmark :21\n"
                         "committer Jane Doe <jane@example.com> 1234567890 +0000\n"
                         "data 2\nm\n\nmerge :7\n"
                         "\nprogress SVN r3 branch p = :21 # merge from :7\n\n"
                         "commit refs/heads/y\nmark :22\n"
                         "committer Jane Doe <jane@example.com> 1234567890 +0000\n"
                         "data 59\nThis commit was manufactured by cvs2svn to create tag 'x'.\n\n"
                         "merge :9\n"
                         "\nprogress SVN r4 branch y = :22\n\n"
                         "commit refs/heads/c9\nmark :23\n"
                         "committer Jane Doe <jane@example.com> 1234567890 +0000\n"
                         "data 5\nmany\n\n")
                  + manyMerges + "\nprogress SVN r5 branch c9 = :23 # merge from" + manyDescription
                  + "\n\n");
}

TEST_F(TransactionTest, CollidingBranchNamesAreRefused)
{
    setOptions({&RepositoryOptions::dryRun, &RepositoryOptions::debugRules});
    FastImportRepository repository(rule(QStringLiteral("repo"), {QStringLiteral("a")}), options);
    MessageCapture capture;
    {
        std::unique_ptr<Repository::Transaction> transaction(
            repository.beginTransaction(QStringLiteral("a/b"), QStringLiteral("/a/b/"), 1).takeValue());
        transaction->setMessage("m");
        const Status refused = transaction->writeCommit();
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.failure().message(),
                  QStringLiteral("Branch \"a/b\" conflicts with already existing branch \"a\""));
    }
    // A mark lookup of a branch git never had leaves no record that could
    // refuse a valid branch later.
    QByteArray none;
    EXPECT_EQ(repository.markForRevision(QStringLiteral("x/y"), 1, none), std::nullopt);
    EXPECT_FALSE(repository.hasBranch(QStringLiteral("x/y")));
    EXPECT_EQ(read(QStringLiteral("gitlog-repo")), QByteArray());
    {
        std::unique_ptr<Repository::Transaction> transaction(
            repository.beginTransaction(QStringLiteral("ab"), QStringLiteral("/ab/"), 1).takeValue());
        finish(*transaction, "m");
    }
    // No mark was used by the refused commits.
    EXPECT_TRUE(read(QStringLiteral("gitlog-repo")).startsWith("commit refs/heads/ab\nmark :1\n"));
}

TEST_F(TransactionTest, CheckpointsAndBlobMarks)
{
    setOptions({&RepositoryOptions::createDump});
    options.commitInterval = 2;
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        MessageCapture capture;
        std::unique_ptr<Repository::Transaction> first(
            repository.beginTransaction(QStringLiteral("master"), QStringLiteral("/m/"), 1).takeValue());
        EXPECT_FALSE(capture.containsText(QStringLiteral("checkpoint!, marks file truncated")));
        std::unique_ptr<Repository::Transaction> second(
            repository.beginTransaction(QStringLiteral("other"), QStringLiteral("/o/"), 1).takeValue());
        EXPECT_TRUE(capture.containsText(QStringLiteral("checkpoint!, marks file truncated")));
        addFile(*first, QStringLiteral("f1"), "");
        addFile(*second, QStringLiteral("f2"), "");
        addFile(*first, QStringLiteral("f3"), "");
        first.reset();
        addFile(*second, QStringLiteral("f4"), "");
        second.reset();
        std::unique_ptr<Repository::Transaction> third(
            repository.beginTransaction(QStringLiteral("master"), QStringLiteral("/m/"), 2).takeValue());
        addFile(*third, QStringLiteral("f5"), "");
    }
    EXPECT_EQ(read(QStringLiteral("repo.fi")),
              QByteArray("checkpoint\n"
                         "blob\nmark :18446744073709551614\ndata 0\n\n"
                         "blob\nmark :18446744073709551613\ndata 0\n\n"
                         "blob\nmark :18446744073709551612\ndata 0\n\n"
                         "blob\nmark :18446744073709551611\ndata 0\n\n"
                         "blob\nmark :18446744073709551614\ndata 0\n\n"
                         "checkpoint\n"));
}

TEST_F(TransactionTest, MetadataInMessagesAndQuotedPaths)
{
    setOptions({&RepositoryOptions::createDump, &RepositoryOptions::addMetadata});
    {
        FastImportRepository repository(rule(QStringLiteral("repo")), options);
        std::unique_ptr<Repository::Transaction> transaction(
            repository.beginTransaction(QStringLiteral("master"), QStringLiteral("/trunk/"), 7).takeValue());
        transaction->removePath(QStringLiteral("gone\nline"));
        transaction->removePath(QStringLiteral("\"starts"));
        transaction->removePath(QStringLiteral("in\"side and \\ back"));
        addFile(*transaction, QStringLiteral("a\nb\\c\"d"), "");
        finish(*transaction, "fix");
    }
    EXPECT_EQ(read(QStringLiteral("repo.fi")),
              QByteArray("blob\nmark :18446744073709551614\ndata 0\n\n"
                         "commit refs/heads/master\nmark :1\n"
                         "committer Jane Doe <jane@example.com> 1234567890 +0000\n"
                         "data 34\nfix\n\nsvn path=/trunk/; revision=7\n\n"
                         "D \"gone\\nline\"\n"
                         "D \"\\\"starts\"\n"
                         "D in\"side and \\ back\n"
                         "M 100644 :18446744073709551614 \"a\\nb\\\\c\\\"d\"\n"
                         "\nprogress SVN r7 branch master = :1\n\n"
                         "checkpoint\n"));
}

TEST_F(TransactionTest, QuotedPathsReachGitIntact)
{
    auto repository = makeRepository(QStringLiteral("repo"));
    commitFiles(*repository, QStringLiteral("master"), 1,
                {{QStringLiteral("line\nfeed"), "1"},
                 {QStringLiteral("\"quoted"), "2"},
                 {QStringLiteral("back\\slash \"mid\""), "3"},
                 {QStringLiteral("gone\nsoon"), "4"}});
    commitFiles(*repository, QStringLiteral("master"), 2, {}, {QStringLiteral("gone\nsoon")});
    EXPECT_TRUE(repository->finish().ok());
    repository.reset();
    const QByteArray names = TestSupport::shell(QStringLiteral("git ls-tree -z -r --name-only master"),
                                                path(QStringLiteral("repo")))
                                 .standardOutput;
    QList<QByteArray> list = names.split('\0');
    list.removeAll(QByteArray());
    std::sort(list.begin(), list.end());
    EXPECT_EQ(list, (QList<QByteArray>{"\"quoted", "back\\slash \"mid\"", "line\nfeed"}));
}

TEST_F(TransactionTest, BranchNamesWithALineFeedAreRefused)
{
    setOptions({&RepositoryOptions::dryRun, &RepositoryOptions::debugRules});
    FastImportRepository repository(rule(QStringLiteral("repo")), options);
    MessageCapture capture;
    EXPECT_FALSE(repository.beginTransaction(QStringLiteral("bad\nname"), QStringLiteral("/x/"), 1).ok());
    EXPECT_FALSE(repository.makeBranch(QStringLiteral("bad\nname"), 1, QStringLiteral("master"), 1).ok());
    EXPECT_FALSE(repository.dropBranch(QStringLiteral("bad\nname"), 1).ok());
    {
        StdoutCapture quiet;
        repository.recordAnnotatedTag(QStringLiteral("refs/tags/bad\ntag"), QStringLiteral("/t/"), 1,
                                      "A <a@b>", 1, "m");
    }
    EXPECT_TRUE(repository.flushPendingUpdates().ok());
    StdoutCapture output;
    EXPECT_TRUE(repository.writeAnnotatedTags().ok());
    EXPECT_EQ(output.finish(), QByteArray());
    EXPECT_EQ(read(QStringLiteral("gitlog-repo")), QByteArray());
}

} // namespace

TEST(RefNames, AgreeWithGitCheckRefFormat)
{
    const QStringList names = {
        "master", "feature/x", "rel-1.0", "refs/tags/v1", "a@b", "-dash", "ünïcode",
        "my fix", "rel\\/1", "a~1", "a^", "a:b", "a?", "a*", "a[b", "a..b", "a@{1}",
        ".hidden", "x/.y", "a.lock", "x/a.lock/y", "a/", "a.", "a//b", "", "tab\there",
        "del\x7f", "line\nfeed", "refs/tags/", "refs/heads/ok", "refs//x"};
    for (const QString &name : names) {
        const auto git = TestSupport::run(QStringLiteral("git"),
                                          {QStringLiteral("check-ref-format"),
                                           QString::fromUtf8(GitNames::refFor(name))});
        ASSERT_FALSE(git.crashed);
        EXPECT_EQ(GitNames::isValidRefName(name), git.exitCode == 0) << name.toStdString();
    }
    // git takes refs/heads/@ as a ref, but "@" means HEAD to it as a branch name.
    EXPECT_FALSE(GitNames::isValidRefName(QStringLiteral("@")));
}
