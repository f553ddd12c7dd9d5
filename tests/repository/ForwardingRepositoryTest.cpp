#include "RepositoryTestSupport.h"

#include "repository/ForwardingRepository.h"

#include <QDir>
#include <QHash>

namespace {

class ForwardingRepositoryTest : public RepositoryTest
{
};

RepositoryRule forwardingRule(const QString &name, const QString &target, const QString &prefix,
                              int line = 7)
{
    RepositoryRule result;
    result.rulesFile = QStringLiteral("project.rules");
    result.lineNumber = line;
    result.name = name;
    result.targetName = target;
    result.prefix = prefix;
    return result;
}

TEST_F(ForwardingRepositoryTest, FactoryRejectsUnknownTargetAndAnswersForTheTarget)
{
    QHash<QString, Repository *> repositories;
    {
        MessageCapture capture;
        const Result<std::unique_ptr<Repository>> missing =
            repositoryFromRule(forwardingRule(QStringLiteral("b"), QStringLiteral("a"),
                                              QStringLiteral("lib/"), 12),
                               repositories, options);
        ASSERT_FALSE(missing.ok());
        EXPECT_EQ(missing.failure().message(),
                  QStringLiteral("no repository with name \"a\" found at \"project.rules:12\""));
        EXPECT_TRUE(capture.texts().filter(QStringLiteral("no repository")).isEmpty());
    }
    EXPECT_FALSE(QDir(QStringLiteral("b")).exists());

    std::unique_ptr<Repository> a(repositoryFromRule(rule(QStringLiteral("a")), repositories, options).takeValue());
    ASSERT_TRUE(a);
    EXPECT_NE(dynamic_cast<FastImportRepository *>(a.get()), nullptr);
    EXPECT_FALSE(a->usesPrefix());
    EXPECT_EQ(a->targetRepository(), a.get());
    repositories.insert(QStringLiteral("a"), a.get());

    std::unique_ptr<Repository> plain(repositoryFromRule(
        forwardingRule(QStringLiteral("plain"), QStringLiteral("a"), QString()), repositories, options).takeValue());
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->usesPrefix());
    repositories.insert(QStringLiteral("plain"), plain.get());

    std::unique_ptr<Repository> b(repositoryFromRule(
        forwardingRule(QStringLiteral("b"), QStringLiteral("plain"), QStringLiteral("lib/")),
        repositories, options).takeValue());
    ASSERT_TRUE(b);
    EXPECT_EQ(b->name(), QStringLiteral("b"));
    EXPECT_EQ(b->targetRepository(), a.get());
    EXPECT_TRUE(b->usesPrefix());
    EXPECT_FALSE(QDir(QStringLiteral("b")).exists());

    int cutoff = 42;
    EXPECT_EQ(b->prepareResume(cutoff).value(), 1);
    EXPECT_EQ(cutoff, 42);
}

TEST_F(ForwardingRepositoryTest, ChainOfPrefixesWritesIntoTheLastRepository)
{
    QHash<QString, Repository *> repositories;
    std::unique_ptr<Repository> r3(repositoryFromRule(rule(QStringLiteral("r3")), repositories, options).takeValue());
    repositories.insert(QStringLiteral("r3"), r3.get());
    std::unique_ptr<Repository> r2(repositoryFromRule(
        forwardingRule(QStringLiteral("r2"), QStringLiteral("r3"), QStringLiteral("y/")),
        repositories, options).takeValue());
    repositories.insert(QStringLiteral("r2"), r2.get());
    std::unique_ptr<Repository> r1(repositoryFromRule(
        forwardingRule(QStringLiteral("r1"), QStringLiteral("r2"), QStringLiteral("x/")),
        repositories, options).takeValue());
    repositories.insert(QStringLiteral("r1"), r1.get());
    std::unique_ptr<Repository> glued(repositoryFromRule(
        forwardingRule(QStringLiteral("glued"), QStringLiteral("r3"), QStringLiteral("sub")),
        repositories, options).takeValue());

    commitFiles(*r1, QStringLiteral("master"), 1, {{QStringLiteral("p"), "p1"},
                                                  {QStringLiteral("q"), "q1"}});
    commitFiles(*glued, QStringLiteral("master"), 2, {{QStringLiteral("file"), "f"}});
    commitFiles(*r1, QStringLiteral("master"), 3, {}, {QStringLiteral("q")});

    // Branch operations are not prefixed.
    ASSERT_TRUE(r1->makeBranch(QStringLiteral("side"), 4, QStringLiteral("master"), 3).ok());
    EXPECT_TRUE(r1->flushPendingUpdates().ok());

    // Deleting the forwarding objects leaves the target usable.
    glued.reset();
    r1.reset();
    r2.reset();
    commitFiles(*r3, QStringLiteral("master"), 5, {{QStringLiteral("top"), "t"}});
    r3.reset();

    EXPECT_EQ(git(QStringLiteral("r3"), QStringLiteral("ls-tree -r --name-only master")),
              QStringLiteral("subfile\ntop\ny/x/p"));
    EXPECT_EQ(git(QStringLiteral("r3"), QStringLiteral("ls-tree -r --name-only master~1")),
              QStringLiteral("subfile\ny/x/p"));
    EXPECT_EQ(git(QStringLiteral("r3"), QStringLiteral("ls-tree -r --name-only master~3")),
              QStringLiteral("y/x/p\ny/x/q"));
    EXPECT_EQ(git(QStringLiteral("r3"), QStringLiteral("rev-parse side")),
              git(QStringLiteral("r3"), QStringLiteral("rev-parse master~1")));
    EXPECT_EQ(git(QStringLiteral("r3"), QStringLiteral("cat-file -p master:y/x/p")),
              QStringLiteral("p1"));
}

TEST_F(ForwardingRepositoryTest, DeletingAForwardingTransactionEndsTheInnerOneOnce)
{
    setOptions({&RepositoryOptions::createDump});
    QHash<QString, Repository *> repositories;
    std::unique_ptr<Repository> a(repositoryFromRule(rule(QStringLiteral("a")), repositories, options).takeValue());
    repositories.insert(QStringLiteral("a"), a.get());
    std::unique_ptr<Repository> b(repositoryFromRule(
        forwardingRule(QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("lib/")),
        repositories, options).takeValue());

    {
        std::unique_ptr<Repository::Transaction> first(
            b->beginTransaction(QStringLiteral("master"), QStringLiteral("/b/"), 1).takeValue());
        first->openFile(QStringLiteral("one"), 0100644, 0).value()->write("\n");
    }
    // No transaction is open any more, so blob marks start again at the top.
    std::unique_ptr<Repository::Transaction> second(
        a->beginTransaction(QStringLiteral("master"), QStringLiteral("/a/"), 1).takeValue());
    second->openFile(QStringLiteral("two"), 0100644, 0).value()->write("\n");
    second.reset();
    b.reset();
    a.reset();

    EXPECT_EQ(read(QStringLiteral("a.fi")),
              QByteArray("blob\nmark :18446744073709551614\ndata 0\n\n"
                         "blob\nmark :18446744073709551614\ndata 0\n\n"
                         "checkpoint\n"));
}

} // namespace
