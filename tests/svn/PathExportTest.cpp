#include "RecordingRepository.h"
#include "SvnTestBench.h"

#include <gtest/gtest.h>

namespace {

const QByteArray branchRules = R"(
match /vendor/
end match
match /lib/
  repository lib
  branch master
end match
match /trunk/
  repository proj
  branch master
end match
match /branches/([^/]+)/
  repository proj
  branch \1
  substitute branch s/-/_/
end match
match /tags/([^/]+)/
  repository proj
  branch refs/tags/\1
  annotated true
end match
)";

QStringList eventsOf(const RecordingRepository &repository, int revision, const QString &branch)
{
    for (RecordingRepository::TransactionRecord *record : repository.transactionsOf(revision)) {
        if (record->branch == branch)
            return record->events;
    }
    return {QStringLiteral("<no transaction>")};
}

} // namespace

TEST(SvnPathExport, CopyModesDeletionsAndReplacements)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({});
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "branches", "mkdir", "tags", "put", "@A",
                            "trunk/a", "mkdir", "trunk/sub", "put", "@S", "trunk/sub/s",
                            "mkdir", "vendor", "put", "@V", "vendor/v"}), 1);
    ASSERT_EQ(bench.commit({"cp", "1", "trunk", "branches/rel-1"}), 2);
    ASSERT_EQ(bench.commit({"put", "@A2", "trunk/a", "put", "@R", "branches/rel-1/r"}), 3);
    ASSERT_EQ(bench.commit({"rm", "branches/rel-1", "cp", "2", "branches/rel-1",
                            "branches/rel-1"}), 4);
    ASSERT_EQ(bench.commit({"cp", "3", "trunk/sub", "branches/part"}), 5);
    ASSERT_EQ(bench.commit({"cp", "5", "trunk/a", "trunk/b"}), 6);
    ASSERT_EQ(bench.commit({"cp", "6", "vendor", "trunk/v"}), 7);
    ASSERT_EQ(bench.commit({"rm", "branches/part", "rm", "trunk/b"}), 8);
    ASSERT_EQ(bench.commit({"rm", "trunk/a", "put", "@new a", "trunk/a"}), 9);
    ASSERT_EQ(bench.commit({"cp", "9", "trunk", "tags/v1"}, "tagging"), 10);
    ASSERT_EQ(bench.commit({"cp", "10", "trunk", "lib"}), 11);

    QStringList log;
    RecordingRepository proj("proj", &log);
    RecordingRepository lib("lib", &log);
    MessageCapture capture;
    QString output;
    ASSERT_EQ(bench.convert({bench.rules(branchRules)}, {&proj, &lib}, 1, 11, &output), 0)
            << capture.all().join('\n').toStdString();

    // A whole-branch copy makes the branch and writes no content.
    EXPECT_TRUE(proj.transactionsOf(2).isEmpty());
    EXPECT_TRUE(capture.contains("D: proj : branch rel_1 is branching from master"));
    // Copying a branch onto itself from an earlier revision re-seats it.
    EXPECT_TRUE(proj.transactionsOf(4).isEmpty());
    EXPECT_TRUE(capture.contains("D: /branches/rel-1/ rev 4 is reseating branch rel_1 to an "
                                 "earlier revision /branches/rel-1/ rev 2"));
    EXPECT_EQ(log.filter("makeBranch"),
              QStringList({"proj: makeBranch rel_1 r2 from master@1",
                           "proj: makeBranch rel_1 r4 from rel_1@2",
                           "proj: makeBranch refs/tags/v1 r10 from master@9"}));

    // A subdirectory copied onto a branch root: merge source and a full dump.
    EXPECT_TRUE(capture.contains(
            "D: /branches/part/ is a partial branch of repository proj branch master subdir sub/"));
    EXPECT_EQ(eventsOf(proj, 5, "part"),
              QStringList({"merge master@3", "remove ", "file s 100644 1"}));
    EXPECT_EQ(proj.transactionsOf(5).first()->fileData("s"), QByteArray("S\n"));

    // A copy inside one branch records no merge source.
    EXPECT_EQ(eventsOf(proj, 6, "master"), QStringList({"file b 100644 2"}));

    // A copy from a path that only an Ignore rule covers is a modification.
    EXPECT_TRUE(capture.contains(
            "W: WARN: SVN reports a \"copy from\" @ 7 from /vendor @ 6 but no matching rules "
            "found! Ignoring copy, treating as a modification"));
    EXPECT_EQ(eventsOf(proj, 7, "master"), QStringList({"remove v/", "file v/v 100644 1"}));

    // Deleting a branch root drops the branch; deleting a file removes it.
    EXPECT_TRUE(log.contains("proj: dropBranch part r8"));
    EXPECT_EQ(eventsOf(proj, 8, "master"), QStringList({"remove b"}));

    // A replaced file is removed and written again in the same commit.
    EXPECT_EQ(eventsOf(proj, 9, "master"), QStringList({"remove a", "file a 100644 5"}));

    // Annotated rules record the tag with the revision's author, date and log.
    const QStringList tags = log.filter("recordAnnotatedTag");
    ASSERT_EQ(tags.size(), 1);
    EXPECT_TRUE(tags[0].startsWith(
            "proj: recordAnnotatedTag refs/tags/v1 /tags/v1/ r10 alice <alice@example.com> "));
    EXPECT_TRUE(tags[0].endsWith(" tagging"));

    // A whole branch copied into another repository: warning, content, no merge.
    EXPECT_TRUE(capture.contains("W: WARN: /lib/ rev 11 is a cross-repository copy (from "
                                 "repository proj branch master path  rev 10 )"));
    EXPECT_EQ(eventsOf(lib, 11, "master"),
              QStringList({"remove ", "file a 100644 5", "file sub/s 100644 1",
                           "file v/v 100644 1"}));

    EXPECT_TRUE(output.contains("Exporting revision 2 . done\n"));
    EXPECT_TRUE(output.contains("Exporting revision 11 .+++ done\n"));
}

TEST(SvnPathExport, BranchCopiesWithSvnBranchesAndEmptyDirs)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({"--svn-branches", "--empty-dirs"});
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "branches", "put", "@A", "trunk/a",
                            "mkdir", "trunk/empty", "mkdir", "trunk/full", "put", "@F",
                            "trunk/full/f"}), 1);
    ASSERT_EQ(bench.commit({"cp", "1", "trunk", "branches/b"}), 2);
    QStringList log;
    RecordingRepository proj("proj", &log);
    RecordingRepository lib("lib", &log);
    ASSERT_EQ(bench.convert({bench.rules(branchRules)}, {&proj, &lib}, 1, 2), 0);
    EXPECT_TRUE(log.contains("proj: makeBranch b r2 from master@1"));
    // The placeholder walk of the source tree, then the true copy of the tree.
    EXPECT_EQ(eventsOf(proj, 2, "b"),
              QStringList({"file empty/.gitignore 100644 0", "remove ", "file a 100644 1",
                           "file full/f 100644 1", "file empty/.gitignore 100644 0"}));
}

TEST(SvnPathExport, FailuresAndPrefixedRepositories)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({});
    ASSERT_EQ(bench.commit({"mkdir", "lost", "put", "@x", "lost/x", "mkdir", "fwd", "put", "@y",
                            "fwd/y", "mkdir", "branches"}), 1);
    ASSERT_EQ(bench.commit({"rm", "lost/x", "rm", "fwd"}), 2);
    ASSERT_EQ(bench.commit({"cp", "1", "fwd", "branches/from-fwd"}), 3);
    const QList<MatchRule> rules = bench.rules(R"(
match /lost/
  repository nowhere
  branch master
end match
match /fwd/
  repository fwd
  branch master
end match
match /branches/([^/]+)/
  repository proj
  branch \1
end match
)");
    QStringList log;
    RecordingRepository fwd("fwd", &log);
    fwd.prefixInUse = true;
    RecordingRepository proj("proj", &log);
    fwd.target = &proj;
    proj.makeBranchFailure = QStringLiteral("no source for the branch");

    {
        MessageCapture capture;
        QString output;
        EXPECT_EQ(bench.convert({rules}, {&fwd, &proj}, 1, 1, &output), 1);
        EXPECT_EQ(output, "Exporting revision 1 .");
        EXPECT_EQ(capture.ofLevel('C'),
                  QStringList({QStringLiteral("Rule \"%1\" references unknown repository "
                                              "\"nowhere\"").arg(rules[0].summary())}));
    }
    {
        MessageCapture capture;
        QString output;
        EXPECT_EQ(bench.convert({rules}, {&fwd, &proj}, 2, 2, &output), 0);
        // A deletion under an unknown repository is looked into instead.
        EXPECT_TRUE(capture.contains("W: WARN: deleting unknown path \"/lost/x\" ; auto-recursing"));
        EXPECT_TRUE(capture.contains(
                "W: WARN: Trying to recurse using a non-directory path /lost/x , ignoring"));
        // A branch root of a prefixed repository is removed, not dropped.
        EXPECT_EQ(eventsOf(fwd, 2, "master"), QStringList({"remove "}));
        EXPECT_TRUE(log.filter("dropBranch").isEmpty());
    }
    {
        // makeBranch failing fails the revision, with the repository's message.
        MessageCapture capture;
        QString output;
        EXPECT_EQ(bench.convert({rules}, {&fwd, &proj}, 3, 3, &output), 3);
        EXPECT_EQ(output, "Exporting revision 3 .");
        EXPECT_EQ(capture.ofLevel('C'), QStringList({QStringLiteral("no source for the branch")}));
    }
}
