#include "RepositoryTestSupport.h"

#include "TestSupport.h"

#include "repository/MessageFilter.h"

#include <QFile>

namespace {

class MessageFilterTest : public RepositoryTest
{
protected:
    // Commits one message through the filter in dry-run and returns the commit's data block.
    QByteArray commitThrough(const std::optional<QString> &filter, const QByteArray &message,
                             bool addMetadata = false)
    {
        setOptions({&RepositoryOptions::dryRun, &RepositoryOptions::debugRules});
        options.messageFilter = filter;
        options.addMetadata = addMetadata;
        {
            FastImportRepository repository(rule(QStringLiteral("repo")), options);
            std::unique_ptr<Repository::Transaction> transaction(repository.beginTransaction(
                QStringLiteral("master"), QStringLiteral("/trunk/"), 3).takeValue());
            transaction->setCommitter("A <a@b>");
            transaction->setCommitTime(1);
            transaction->setMessage(message);
            EXPECT_TRUE(transaction->writeCommit().ok());
        }
        const QByteArray mirror = read(QStringLiteral("gitlog-repo"));
        const qsizetype start = mirror.indexOf("data ");
        const qsizetype end = mirror.indexOf("\nprogress SVN");
        return mirror.mid(start, end - start);
    }

    QString script(const QString &name, const QByteArray &body)
    {
        write(name, "#!/bin/sh\n" + body);
        QFile::setPermissions(path(name), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path(name);
    }
};

TEST_F(MessageFilterTest, FilterOutputBecomesTheMessage)
{
    EXPECT_EQ(commitThrough(std::nullopt, "fix"), QByteArray("data 4\nfix\n\n"));
    EXPECT_EQ(commitThrough(std::nullopt, ""), QByteArray("data 1\n\n\n"));
    EXPECT_EQ(commitThrough(std::nullopt, "fix\r\nmore"), QByteArray("data 10\nfix\r\nmore\n\n"));
    EXPECT_EQ(commitThrough(QStringLiteral("cat"), "fix\r\nmore"),
              QByteArray("data 10\nfix\r\nmore\n\n"));
    EXPECT_EQ(commitThrough(QStringLiteral("cat"), "fix", true),
              QByteArray("data 34\nfix\n\nsvn path=/trunk/; revision=3\n\n"));
    EXPECT_EQ(commitThrough(QStringLiteral("true"), "lost"),
              QByteArray("data 0\n\n"));
    const QString upper = script(QStringLiteral("upper"), "tr a-z A-Z\n");
    EXPECT_EQ(commitThrough(upper, "shout"),
              QByteArray("data 6\nSHOUT\n\n"));
    // A command with arguments goes through the shell, as in git.
    EXPECT_EQ(commitThrough(QStringLiteral("tr a-z A-Z | sed 's/$/!/'"), "shout"),
              QByteArray("data 7\nSHOUT!\n\n"));
}

// A filter that cannot be started is found without running it.
TEST_F(MessageFilterTest, FiltersThatCannotStartAreFoundBeforehand)
{
    const auto problem = [](const QString &command) {
        const Status status = MessageFilter::checkCanStart(command);
        return status.ok() ? QString() : status.failure().message();
    };
    write(QStringLiteral("plain"), "not a program\n");
    const QString upper = script(QStringLiteral("upper"), "tr a-z A-Z\n");
    for (const QString &startable : {QStringLiteral("cat"), upper, QStringLiteral("tr a-z A-Z"),
                                     QStringLiteral("LC_ALL=C sed -e 's/a/b/'"), upper + " x"})
        EXPECT_EQ(problem(startable), QString()) << startable.toStdString();
    EXPECT_EQ(problem("no-such-filter"),
              "Cannot start the message filter \"no-such-filter\": no such program in PATH");
    EXPECT_EQ(problem(path("plain")),
              "Cannot start the message filter \"" + path("plain") + "\": not an executable file");
    EXPECT_EQ(problem("no-such-filter a-z"),
              "Cannot start the message filter \"no-such-filter a-z\": no-such-filter: command not found");
    EXPECT_EQ(problem(path("missing") + " -x"), "Cannot start the message filter \"" + path("missing")
                                                    + " -x\": " + path("missing") + ": no such file");
    EXPECT_TRUE(problem("tr 'a-z").startsWith("Cannot start the message filter \"tr 'a-z\": /bin/sh: "));
}

// A failing filter gives a fatal failure instead of a message; through a
// commit it fails the commit and waits, with the repository, for the driver.
TEST_F(MessageFilterTest, FailingFiltersAreFatal)
{
    const auto failure = [](const std::optional<QString> &program, int timeoutMs = 30000) {
        MessageFilter filter(program);
        const Result<QByteArray> filtered = filter.filter("m\n", timeoutMs);
        EXPECT_FALSE(filtered.ok());
        EXPECT_TRUE(filtered.ok() || filtered.failure().isFatal());
        return filtered.ok() ? QString() : filtered.failure().message();
    };
    EXPECT_EQ(failure(QStringLiteral("false")), QStringLiteral("Filter false exited with status 1"));
    const QString killed = script(QStringLiteral("killed"), "cat >/dev/null\nkill -9 $$\n");
    EXPECT_EQ(failure(killed), QStringLiteral("Filter %1 was ended by signal 9").arg(killed));
    EXPECT_TRUE(failure(path(QStringLiteral("missing"))).startsWith(QStringLiteral("Failed to Start Filter 880 ")));
    // A filter stopped at its time-out would give a message cut short.
    const QString slow = script(QStringLiteral("slow"), "cat\nexec sleep 60\n");
    EXPECT_EQ(failure(slow, 1000), QStringLiteral("Filter %1 did not finish within 1 seconds").arg(slow));
    EXPECT_EQ(failure(QStringLiteral("cat; exit 3")), QStringLiteral("Filter cat; exit 3 exited with status 3"));

    setOptions({&RepositoryOptions::dryRun});
    options.messageFilter = QStringLiteral("false");
    FastImportRepository repository(rule(QStringLiteral("repo")), options);
    std::unique_ptr<Repository::Transaction> transaction(repository.beginTransaction(
        QStringLiteral("master"), QStringLiteral("/trunk/"), 3).takeValue());
    transaction->setMessage("m");
    const Status status = transaction->writeCommit();
    ASSERT_FALSE(status.ok());
    EXPECT_TRUE(status.failure().isFatal());
    EXPECT_EQ(status.failure().message(), QStringLiteral("Filter false exited with status 1"));
}

} // namespace
