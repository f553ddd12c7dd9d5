#include "RepositoryTestSupport.h"

#include "TestSupport.h"
#include "repository/ActiveProcessList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace {

class FastImportProcessTest : public RepositoryTest
{
protected:
    QString standInGit(const QByteArray &fastImport);
};

TEST_F(FastImportProcessTest, NewRepositoryIsInitialisedAndAnExistingOneLeftAlone)
{
    {
        MessageCapture capture;
        FastImportRepository repository(
            rule(QStringLiteral("proj/sub"), {}, QStringLiteral("The project")), options);
        EXPECT_TRUE(capture.containsText(QStringLiteral("Creating new repository \"proj/sub\"")));
    }
    EXPECT_EQ(git(QStringLiteral("proj/sub"), QStringLiteral("rev-parse --is-bare-repository")),
              QStringLiteral("true"));
    EXPECT_EQ(git(QStringLiteral("proj/sub"), QStringLiteral("config core.ignorecase")),
              QStringLiteral("false"));
    EXPECT_EQ(read(QStringLiteral("proj/sub/description")), QByteArray("The project\n"));
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("proj/sub/marks-proj_sub"))));
    EXPECT_EQ(QFileInfo(path(QStringLiteral("proj/sub/marks-proj_sub"))).size(), 0);

    // An existing directory is used as it is.
    QDir().mkpath(path(QStringLiteral("existing")));
    {
        MessageCapture capture;
        FastImportRepository repository(
            rule(QStringLiteral("existing"), {}, QStringLiteral("ignored")), options);
        EXPECT_FALSE(capture.containsText(QStringLiteral("Creating new repository \"existing\"")));
    }
    EXPECT_EQ(QDir(path(QStringLiteral("existing"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList());
}

TEST_F(FastImportProcessTest, FileNamesOfARepositoryWithASlash)
{
    setOptions({&RepositoryOptions::debugRules});
    {
        FastImportRepository repository(rule(QStringLiteral("proj/sub")), options);
        EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("gitlog-proj_sub"))));
        commitFiles(repository, QStringLiteral("master"), 1, {{QStringLiteral("a"), "a"}});
    }
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("log-proj_sub"))));
    EXPECT_TRUE(read(QStringLiteral("log-proj_sub")).contains("progress SVN r1 branch master = :1"));
    EXPECT_TRUE(read(QStringLiteral("proj/sub/marks-proj_sub")).startsWith(":1 "));
    EXPECT_EQ(git(QStringLiteral("proj/sub"), QStringLiteral("ls-tree -r --name-only master")),
              QStringLiteral("a"));

    // The mirror file is truncated when the repository object is made.
    { FastImportRepository again(rule(QStringLiteral("proj/sub")), options); }
    EXPECT_EQ(read(QStringLiteral("gitlog-proj_sub")), QByteArray());

    setOptions({&RepositoryOptions::createDump});
    {
        FastImportRepository repository(rule(QStringLiteral("dump/me")), options);
        commitFiles(repository, QStringLiteral("master"), 1, {{QStringLiteral("a"), "a"}});
    }
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("dump"))));
    EXPECT_TRUE(read(QStringLiteral("dump_me.fi")).startsWith("blob\nmark :18446744073709551614\ndata 1\na\ncommit refs/heads/master\n"))
        << read(QStringLiteral("dump_me.fi")).toStdString();
}

TEST_F(FastImportProcessTest, DefaultBranchComesFromGitConfiguration)
{
    {
        auto repository = makeRepository(QStringLiteral("plain"), {QStringLiteral("stable")});
        EXPECT_EQ(repository->defaultBranchName(), QStringLiteral("master"));
        EXPECT_TRUE(repository->hasBranch(QStringLiteral("master")));
        EXPECT_TRUE(repository->hasBranch(QStringLiteral("stable")));
        EXPECT_FALSE(repository->hasBranch(QStringLiteral("main")));
    }
    ASSERT_EQ(TestSupport::shell(QStringLiteral("git config --global init.defaultBranch main")).exitCode, 0);
    {
        auto repository = makeRepository(QStringLiteral("configured"));
        EXPECT_EQ(repository->defaultBranchName(), QStringLiteral("main"));
        EXPECT_TRUE(repository->hasBranch(QStringLiteral("main")));
        EXPECT_FALSE(repository->hasBranch(QStringLiteral("master")));
        MessageCapture capture;
        // Revision 3 on the default branch starts it without the "doesn't exist" warning.
        commitFiles(*repository, QStringLiteral("main"), 3, {{QStringLiteral("f"), "f"}});
        for (const QString &message : capture.texts())
            EXPECT_FALSE(message.contains(QStringLiteral("doesn't exist at revision")));
    }
    EXPECT_EQ(git(QStringLiteral("configured"), QStringLiteral("rev-parse --verify -q refs/heads/main")).size(), 40);
}

TEST_F(FastImportProcessTest, DryRunSendsTheStreamWithoutBlobsToTheLogFile)
{
    setOptions({&RepositoryOptions::dryRun});
    {
        FastImportRepository repository(rule(QStringLiteral("dry")), options);
        std::unique_ptr<Repository::Transaction> transaction(
            repository.beginTransaction(QStringLiteral("master"), QStringLiteral("/trunk/"), 1).takeValue());
        ASSERT_TRUE(transaction->openFile(QStringLiteral("file"), 0100644, 3).ok());
        transaction->setCommitter("A <a@b>");
        transaction->setCommitTime(5);
        transaction->setMessage("m");
        EXPECT_TRUE(transaction->writeCommit().ok());
    }
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("dry"))));
    EXPECT_EQ(read(QStringLiteral("log-dry")),
              QByteArray("commit refs/heads/master\nmark :1\ncommitter A <a@b> 5 +0000\n"
                         "data 2\nm\n\nM 100644 :18446744073709551614 file\n\n"
                         "progress SVN r1 branch master = :1\n\ncheckpoint\n"));
}

TEST_F(FastImportProcessTest, TimeoutOptionMessages)
{
    const QList<QPair<int, QString>> cases = {
        {RepositoryOptions().fastImportTimeoutSeconds,
         QStringLiteral("Waiting 30 seconds for fast-import to finish.")},
        {0, QStringLiteral("Waiting forever for fast-import to finish.")},
        {7, QStringLiteral("Waiting 7 seconds for fast-import to finish.")},
    };
    for (const auto &testCase : cases) {
        setOptions({&RepositoryOptions::dryRun});
        options.fastImportTimeoutSeconds = testCase.first;
        MessageCapture capture;
        {
            FastImportRepository repository(rule(QStringLiteral("t")), options);
            repository.ensureImportRunning();
            EXPECT_TRUE(repository.stop().ok());
        }
        EXPECT_TRUE(capture.containsText(testCase.second)) << testCase.second.toStdString();
    }
}

TEST_F(FastImportProcessTest, EvictedProcessIsRestartedWithBranchAnnouncements)
{
    setOptions({&RepositoryOptions::debugRules, &RepositoryOptions::addMetadataNotes});
    ActiveProcessList::setCapacity(1);
    auto a = makeRepository(QStringLiteral("a"));
    auto b = makeRepository(QStringLiteral("b"));

    commitFiles(*a, QStringLiteral("master"), 1, {{QStringLiteral("one"), "1"}});
    EXPECT_EQ(ActiveProcessList::size(), 1);
    commitFiles(*b, QStringLiteral("master"), 1, {{QStringLiteral("x"), "x"}});
    EXPECT_EQ(ActiveProcessList::size(), 1);
    // a's process was checkpointed and stopped; its marks are on disk.
    EXPECT_TRUE(read(QStringLiteral("a/marks-a")).startsWith(":1 "));
    commitFiles(*a, QStringLiteral("master"), 2, {{QStringLiteral("two"), "2"}});
    EXPECT_TRUE(a->stop().ok());
    EXPECT_TRUE(b->stop().ok());
    a.reset();
    b.reset();

    const QByteArray mirror = read(QStringLiteral("gitlog-a"));
    const QByteArray announcement = "checkpoint\n"
                                    "reset refs/heads/master\nfrom :1\n\n"
                                    "progress Branch refs/heads/master reloaded\n"
                                    "reset refs/notes/commits\nfrom :18446744073709551615\n"
                                    "commit refs/heads/master\nmark :2\n";
    EXPECT_TRUE(mirror.contains(announcement)) << mirror.toStdString();
    EXPECT_TRUE(read(QStringLiteral("log-a")).contains("progress Branch refs/heads/master reloaded"));

    EXPECT_EQ(git(QStringLiteral("a"), QStringLiteral("ls-tree -r --name-only master")),
              QStringLiteral("one\ntwo"));
    EXPECT_EQ(git(QStringLiteral("a"), QStringLiteral("rev-list --count master")), QStringLiteral("2"));
    EXPECT_EQ(git(QStringLiteral("a"), QStringLiteral("notes show master")),
              QStringLiteral("svn path=/trunk/; revision=2"));
    EXPECT_EQ(git(QStringLiteral("a"), QStringLiteral("notes show master~1")),
              QStringLiteral("svn path=/trunk/; revision=1"));
}

TEST_F(FastImportProcessTest, FailingFastImportMakesTheRunFail)
{
    {
        auto repository = makeRepository(QStringLiteral("broken"));
        commitFiles(*repository, QStringLiteral("master"), 1, {{QStringLiteral("a"), "a"}});
        // A ref name git refuses makes fast-import stop with an error.
        ASSERT_TRUE(repository->makeBranch(QStringLiteral("bad..name"), 2, QStringLiteral("master"), 1).ok());
        EXPECT_TRUE(repository->flushPendingUpdates().ok());
        EXPECT_TRUE(repository->importStatus().ok());
        MessageCapture capture;
        const Status finished = repository->stop();
        repository.reset();
        bool named = false;
        for (const QString &message : capture.texts())
            named = named || (message.startsWith(QStringLiteral("git-fast-import for repository \"broken\" exited with status 128")));
        EXPECT_TRUE(named) << capture.texts().join(QLatin1Char('\n')).toStdString();
        ASSERT_FALSE(finished.ok());
        EXPECT_EQ(finished.failure().message(),
                  QStringLiteral("git-fast-import for repository \"broken\" exited with status 128 ; "
                                 "commits may have been lost"));
    }
}

// A stand-in for git whose fast-import runs the shell text given.
QString FastImportProcessTest::standInGit(const QByteArray &fastImport)
{
    const QString bin = path(QStringLiteral("bin"));
    write(QStringLiteral("bin/git"),
          "#!/bin/bash\nif [ \"$1\" = fast-import ]; then " + fastImport + "; exit 0; fi\nexit 0\n");
    QFile::setPermissions(bin + QStringLiteral("/git"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return bin;
}

// A fast-import that is still busy (using CPU time) when the time-out comes
// is waited for; only one that makes no progress for a whole time-out is
// terminated.
TEST_F(FastImportProcessTest, FastImportIsTerminatedOnlyWhenItMakesNoProgress)
{
    const QByteArray savedPath = qgetenv("PATH");
    setOptions({});
    options.fastImportTimeoutSeconds = 1;

    // Busy in the shell itself, well beyond the time-out, then done.
    const QString busy = standInGit("cat >/dev/null; while [ $SECONDS -lt 4 ]; do :; done");
    qputenv("PATH", QFile::encodeName(busy) + ":" + savedPath);
    {
        auto repository = makeRepository(QStringLiteral("busy"));
        repository->ensureImportRunning();
        MessageCapture capture;
        EXPECT_TRUE(repository->stop().ok());
        repository.reset();
        EXPECT_TRUE(capture.containsText(QStringLiteral(
            "git-fast-import for repository \"busy\" is still working; waiting another 1 seconds")))
            << capture.texts().join(QLatin1Char('\n')).toStdString();
        EXPECT_FALSE(capture.containsText(QStringLiteral("was terminated")));
    }

    // Asleep: no progress, terminated after one time-out.
    const QString asleep = standInGit("exec sleep 60");
    qputenv("PATH", QFile::encodeName(asleep) + ":" + savedPath);
    {
        auto repository = makeRepository(QStringLiteral("slow"));
        repository->ensureImportRunning();
        MessageCapture capture;
        EXPECT_FALSE(repository->stop().ok());
        repository.reset();
        EXPECT_TRUE(capture.containsText(QStringLiteral(
            "git-fast-import for repository \"slow\" did not finish in time and was terminated; "
            "commits may have been lost (--fast-import-timeout 0 waits as long as it takes)")))
            << capture.texts().join(QLatin1Char('\n')).toStdString();
        EXPECT_FALSE(capture.containsText(QStringLiteral("is still working")));
    }
    qputenv("PATH", savedPath);
}

// A fast-import that dies mid-run fails the next commit, with fast-import's
// own last words; the repository does not start a new process on top of
// what the dead one lost.
TEST_F(FastImportProcessTest, FastImportThatDiedMidRunFailsTheCommit)
{
    auto repository = makeRepository(QStringLiteral("dies"));
    commitFiles(*repository, QStringLiteral("master"), 1, {{QStringLiteral("a"), "a"}});
    // A ref name git refuses makes fast-import stop with an error.
    ASSERT_TRUE(repository->makeBranch(QStringLiteral("bad..name"), 2, QStringLiteral("master"), 1).ok());
    EXPECT_TRUE(repository->flushPendingUpdates().ok());

    MessageCapture capture;
    Status result;
    // fast-import takes its input at its own pace: commit until it is found dead.
    for (int attempt = 0; attempt < 100 && result.ok(); ++attempt) {
        QThread::msleep(50);
        std::unique_ptr<Repository::Transaction> transaction(repository->beginTransaction(
            QStringLiteral("master"), QStringLiteral("/trunk/"), 2 + attempt).takeValue());
        transaction->setMessage("m");
        result = transaction->writeCommit();
    }
    EXPECT_FALSE(result.ok());
    EXPECT_FALSE(repository->importStatus().ok());
    const QString messages = capture.texts().join(QLatin1Char('\n'));
    EXPECT_TRUE(messages.contains(
        QStringLiteral("git-fast-import for repository \"dies\" exited with status 128 ; commits may have been lost")))
        << messages.toStdString();
    // The cause, not the statistics that follow it in the log.
    EXPECT_TRUE(messages.contains(QStringLiteral("Errors that git-fast-import wrote to \"log-dies\" :\nfatal: ")))
        << messages.toStdString();
    EXPECT_TRUE(messages.contains(QStringLiteral("bad..name"))) << messages.toStdString();
    EXPECT_FALSE(messages.contains(QStringLiteral("pack_report"))) << messages.toStdString();

    // Reported once; nothing more is sent.
    std::unique_ptr<Repository::Transaction> transaction(
        repository->beginTransaction(QStringLiteral("master"), QStringLiteral("/trunk/"), 200).takeValue());
    EXPECT_FALSE(transaction->openFile(QStringLiteral("x"), 0100644, 1).ok());
    EXPECT_FALSE(transaction->writeCommit().ok());
    transaction.reset();
    repository.reset();
    EXPECT_EQ(capture.texts().filter(QStringLiteral("exited with status 128")).size(), 1);
}

} // namespace
