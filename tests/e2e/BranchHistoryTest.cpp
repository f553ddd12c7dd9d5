#include "E2eBench.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

const QByteArray projectRules = R"(
create repository proj
end repository
match /trunk/
  repository proj
  branch master
end match
match /branches/([^/]+)/
  repository proj
  branch \1
end match
)";

QByteArray parentsOf(E2eBench &bench, const QString &commitish)
{
    return bench.git("proj", {"log", "-1", "--format=%P", commitish}).trimmed();
}

} // namespace

TEST(EndToEndBranches, BranchesCopiesDeletionsAndReplacements)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "branches", "put", "@A\n", "trunk/a",
                            "mkdir", "trunk/sub", "put", "@S\n", "trunk/sub/s"}), 1);
    ASSERT_EQ(bench.commit({"cp", "1", "trunk", "branches/b1"}), 2);
    ASSERT_EQ(bench.commit({"put", "@A2\n", "trunk/a", "put", "@X\n", "branches/b1/x"}), 3);
    ASSERT_EQ(bench.commit({"rm", "branches/b1", "cp", "2", "branches/b1", "branches/b1"}), 4);
    ASSERT_EQ(bench.commit({"cp", "3", "trunk/sub", "branches/part"}), 5);
    ASSERT_EQ(bench.commit({"cp", "5", "trunk/a", "trunk/b"}), 6);
    ASSERT_EQ(bench.commit({"rm", "branches/b1"}), 7);
    ASSERT_EQ(bench.commit({"rm", "trunk/a", "put", "@replaced\n", "trunk/a"}), 8);

    const QString rules = bench.writeRules("proj.rules", projectRules);
    const auto result = bench.convert({"--rules", rules, "--identity-domain", "example.com"});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
    EXPECT_TRUE(result.standardOutput.contains("Exporting revision 2 . done\n"));
    EXPECT_TRUE(result.standardOutput.contains("Exporting revision 8 ."));

    const QByteArray masterAt1 = bench.revParse("proj", "master~3");
    const QByteArray masterAt3 = bench.revParse("proj", "master~2");
    ASSERT_FALSE(masterAt1.isEmpty());
    EXPECT_EQ(bench.git("proj", {"log", "--format=%s", "master"}),
              QByteArray("change\nchange\nchange\nchange\n"));
    EXPECT_EQ(bench.tree("proj", "master"),
              QStringList({"a 100644", "b 100644", "sub/s 100644"}));
    EXPECT_EQ(bench.fileAt("proj", "master", "a"), QByteArray("replaced\n"));
    EXPECT_EQ(bench.fileAt("proj", "master", "b"), QByteArray("A2\n"));

    // The re-seated branch was saved first and then dropped at revision 7.
    EXPECT_TRUE(bench.revParse("proj", "b1").isEmpty());
    const QByteArray b1BeforeReseat = bench.revParse("proj", "refs/backups/r4/heads/b1");
    ASSERT_FALSE(b1BeforeReseat.isEmpty());
    EXPECT_EQ(bench.fileAt("proj", b1BeforeReseat, "x"), QByteArray("X\n"));
    EXPECT_EQ(parentsOf(bench, b1BeforeReseat), masterAt1);
    // After the re-seat the branch pointed at master's first commit again.
    EXPECT_EQ(bench.revParse("proj", "refs/tags/backups/b1@7"), masterAt1);

    // A subdirectory copied onto a branch root: its content, with master as
    // merge parent.
    EXPECT_EQ(bench.tree("proj", "part"), QStringList({"s 100644"}));
    EXPECT_EQ(parentsOf(bench, "part"), masterAt3);
}

TEST(EndToEndBranches, TwoRulesFilesAndForwardingRepositories)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "put", "@core\n", "trunk/core.c",
                            "mkdir", "plugin", "put", "@plug\n", "plugin/p.c",
                            "mkdir", "plugin/deep", "put", "@deep\n", "plugin/deep/d.c"}), 1);
    ASSERT_EQ(bench.commit({"rm", "plugin/deep"}), 2);
    const QString first = bench.writeRules("first.rules", R"(
create repository main
end repository
create repository plugins
  repository main
  prefix extra/plugins/
end repository
match /trunk/
  repository main
  branch master
end match
match /plugin/
  repository plugins
  branch master
end match
)");
    const QString second = bench.writeRules("second.rules", R"(
create repository mirror
end repository
match /trunk/
  repository mirror
  branch master
end match
match /plugin/
end match
)");
    const auto result = bench.convert({"--rules", first + ',' + second});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
    EXPECT_EQ(bench.tree("main", "master"),
              QStringList({"core.c 100644", "extra/plugins/p.c 100644"}));
    EXPECT_EQ(bench.tree("main", "master~1"),
              QStringList({"core.c 100644", "extra/plugins/deep/d.c 100644",
                           "extra/plugins/p.c 100644"}));
    EXPECT_EQ(bench.tree("mirror", "master"), QStringList({"core.c 100644"}));
    EXPECT_FALSE(QFileInfo::exists(bench.outputDirectory() + "/plugins"));
}

TEST(EndToEndBranches, ResumeAfterMaxRev)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "branches", "put", "@1\n", "trunk/f"}), 1);
    ASSERT_EQ(bench.commit({"put", "@2\n", "trunk/f"}), 2);
    ASSERT_EQ(bench.commit({"cp", "2", "trunk", "branches/rel"}), 3);
    ASSERT_EQ(bench.commit({"put", "@4\n", "trunk/f", "put", "@r\n", "branches/rel/r"}), 4);
    const QString rules = bench.writeRules("proj.rules", projectRules);

    auto first = bench.convert({"--rules", rules, "--max-rev", "2"});
    ASSERT_EQ(first.exitCode, 0) << first.standardError.constData();
    EXPECT_FALSE(first.standardOutput.contains("Exporting revision 3"));
    EXPECT_EQ(bench.git("proj", {"rev-list", "--count", "master"}).trimmed(), QByteArray("2"));
    // Large files are streamed by fast-import, not held whole in memory. A
    // repository made by an older version, without the bound, gets it too.
    EXPECT_EQ(bench.git("proj", {"config", "core.bigFileThreshold"}), QByteArray("64m\n"));
    bench.git("proj", {"config", "--unset", "core.bigFileThreshold"});

    auto second = bench.convert({"--rules", rules});
    ASSERT_EQ(second.exitCode, 0) << second.standardError.constData();
    EXPECT_FALSE(second.standardOutput.contains("Exporting revision 2 "));
    EXPECT_TRUE(second.standardOutput.contains("Exporting revision 4 "));
    EXPECT_EQ(bench.git("proj", {"rev-list", "--count", "master"}).trimmed(), QByteArray("3"));
    EXPECT_EQ(bench.fileAt("proj", "master", "f"), QByteArray("4\n"));
    EXPECT_EQ(bench.tree("proj", "rel"), QStringList({"f 100644", "r 100644"}));
    EXPECT_EQ(parentsOf(bench, "rel"), bench.revParse("proj", "master~1"));

    EXPECT_EQ(bench.git("proj", {"config", "core.bigFileThreshold"}), QByteArray("64m\n"));

    // A bound someone chose is kept.
    bench.git("proj", {"config", "core.bigFileThreshold", "1g"});
    const QStringList refsAfterSecond = bench.refs("proj");
    auto third = bench.convert({"--rules", rules});
    ASSERT_EQ(third.exitCode, 0) << third.standardError.constData();
    EXPECT_FALSE(third.standardOutput.contains("Exporting revision"));
    EXPECT_EQ(bench.refs("proj"), refsAfterSecond);
    EXPECT_EQ(bench.git("proj", {"config", "core.bigFileThreshold"}), QByteArray("1g\n"));
}

// Repository "a" with branch "bmaster" and repository "ab" with branch
// "master", touched by one revision: each gets its own commit.
TEST(EndToEndBranches, RepositoryAndBranchNamesThatJoinAlikeStayApart)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "one", "mkdir", "two"}), 1);
    ASSERT_EQ(bench.commit({"put", "@1\n", "one/x", "put", "@2\n", "two/y"}), 2);
    const QString rules = bench.writeRules("joined.rules", R"(
create repository a
end repository
create repository ab
end repository
match /one/
  repository a
  branch bmaster
end match
match /two/
  repository ab
  branch master
end match
)");
    const auto result = bench.convert({"--rules", rules});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
    EXPECT_EQ(bench.tree("a", "bmaster"), QStringList({"x 100644"}));
    EXPECT_EQ(bench.tree("ab", "master"), QStringList({"y 100644"}));
    EXPECT_EQ(bench.refs("a").size(), 1);
    for (const QString repository : {"a", "ab"}) {
        EXPECT_TRUE(bench.fsckClean(repository)) << repository.toStdString();
    }
}

// Revisions count from 1: a resume point or a last revision below that means
// none, and the whole history is converted.
TEST(EndToEndBranches, RevisionBoundsBelowOneMeanNoBound)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "put", "@1\n", "trunk/f"}), 1);
    ASSERT_EQ(bench.commit({"put", "@2\n", "trunk/f"}), 2);
    const QString rules = bench.writeRules("proj.rules", projectRules);

    const auto result = bench.convert({"--rules", rules, "--resume-from=-5", "--max-rev=-3"});
    ASSERT_FALSE(result.crashed);
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
    EXPECT_TRUE(result.standardOutput.contains("Exporting revision 1 "));
    EXPECT_TRUE(result.standardOutput.contains("Exporting revision 2 "));
    EXPECT_EQ(bench.git("proj", {"rev-list", "--count", "master"}).trimmed(), QByteArray("2"));
    EXPECT_EQ(bench.fileAt("proj", "master", "f"), QByteArray("2\n"));
}

TEST(EndToEndBranches, BranchesAndTagsCopiedFromTreesWithoutFiles)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "branches", "mkdir", "tags",
                            "mkdir", "trunk/sub"}), 1);
    ASSERT_EQ(bench.commit({"cp", "1", "trunk", "branches/dev"}), 2);
    ASSERT_EQ(bench.commit({"put", "@a\n", "trunk/a", "put", "@d\n", "branches/dev/d"}), 3);
    // trunk has files now, but not at revision 1.
    ASSERT_EQ(bench.commit({"cp", "1", "trunk", "branches/early", "cp", "1", "trunk", "tags/t0",
                            "cp", "3", "trunk", "tags/t3"}), 4);
    ASSERT_EQ(bench.commit({"put", "@e\n", "branches/early/e"}), 5);
    const QString rules = bench.writeRules("proj.rules", projectRules + R"(
match /tags/([^/]+)/
  repository proj
  branch refs/tags/\1
  annotated true
end match
)");

    // Split after the first empty branch, and again after the second.
    for (const char *maxRevision : {"2", "4"}) {
        const auto part = bench.convert({"--rules", rules, "--max-rev", maxRevision});
        ASSERT_EQ(part.exitCode, 0) << part.standardError.constData();
    }
    const auto rest = bench.convert({"--rules", rules});
    ASSERT_EQ(rest.exitCode, 0) << rest.standardError.constData();

    // Root commits holding only what was added on the branch.
    EXPECT_EQ(bench.tree("proj", "dev"), QStringList({"d 100644"}));
    EXPECT_EQ(parentsOf(bench, "dev"), QByteArray());
    EXPECT_EQ(bench.tree("proj", "early"), QStringList({"e 100644"}));
    EXPECT_EQ(parentsOf(bench, "early"), QByteArray());
    EXPECT_EQ(bench.tree("proj", "master"), QStringList({"a 100644"}));
    // A tag of a tree without files has nothing to point to; one with files is made.
    EXPECT_TRUE(bench.revParse("proj", "refs/tags/t0").isEmpty());
    EXPECT_EQ(bench.revParse("proj", "t3^{commit}"), bench.revParse("proj", "master"));
    EXPECT_TRUE(bench.fsckClean("proj"));
}

TEST(EndToEndBranches, CopyFromABranchWithFilesGitNeverHadStillFails)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "branches", "mkdir", "trunk/sub",
                            "put", "@a\n", "trunk/sub/a"}), 1);
    ASSERT_EQ(bench.commit({"cp", "1", "trunk", "branches/b"}), 2);
    // trunk's file goes to another repository: proj has nothing to make b from.
    const QString rules = bench.writeRules("proj.rules", R"(
create repository proj
end repository
create repository elsewhere
end repository
match /trunk/sub/
  repository elsewhere
  branch master
end match
match /trunk/
  repository proj
  branch master
end match
match /branches/([^/]+)/
  repository proj
  branch \1
end match
)");
    const auto result = bench.convert({"--rules", rules});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.standardError.contains(
        "\"b\" in repository \"proj\" is branching from branch \"master\" but the latter "
        "doesn't exist. Can't continue."))
        << result.standardError.constData();
}

TEST(EndToEndBranches, RefusedBranchNamesEndTheRunAndKeepEarlierRefs)
{
    for (const char *directory : {"my fix", "rel-1"}) {
        E2eBench bench;
        ASSERT_TRUE(bench.isValid());
        ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "branches", "put", "@a\n", "trunk/a"}),
                  1);
        ASSERT_EQ(bench.commit({"cp", "1", "trunk", "branches/ok"}), 2);
        ASSERT_EQ(bench.commit({"put", "@b\n", "branches/ok/b"}), 3);
        ASSERT_EQ(bench.commit({"cp", "3", "trunk", QStringLiteral("branches/") + directory}), 4);
        // A substitution that leaves a backslash: rel-1 becomes rel\/1.
        const QString rules = bench.writeRules(
                "proj.rules", QByteArray(projectRules).replace("  branch \\1\n",
                                                               "  branch \\1\n"
                                                               "  substitute branch s/-/\\//\n"));
        const auto result = bench.convert({"--rules", rules});
        EXPECT_EQ(result.exitCode, 1);
        const QByteArray refused = QByteArray(directory) == "my fix" ? "my fix" : "rel\\\\/1";
        EXPECT_TRUE(result.standardError.contains(
            "Branch name \"" + refused + "\" for \"/branches/" + directory
            + "/\" from rule \"" + rules.toUtf8() + ":8 /branches/([^/]+)/\" is not a valid "
            "git ref name: add a \"substitute branch\" line to the rule to change it"))
            << result.standardError.constData();
        EXPECT_EQ(bench.git("proj", {"for-each-ref", "--format=%(refname)"}),
                  QByteArray("refs/heads/master\nrefs/heads/ok\n"));
        EXPECT_EQ(bench.tree("proj", "ok"), QStringList({"a 100644", "b 100644"}));
        EXPECT_TRUE(bench.fsckClean("proj"));
    }
}

// A pattern that matches a file whole leaves it no path inside the branch;
// through a forwarding repository's prefix it gets one.
TEST(EndToEndBranches, FileAsBranchRootEndsTheRunAndKeepsEarlierRefs)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "put", "@x\n", "trunk/x", "put", "@b\n", "trunk/b"}), 1);
    ASSERT_EQ(bench.commit({"put", "@a\n", "trunk/a"}), 2);
    const QString rules = bench.writeRules("proj.rules", R"(
create repository proj
end repository
create repository copies
  repository proj
  prefix copy-of-b
end repository
match /trunk/a
  repository proj
  branch single
end match
match /trunk/b
  repository copies
  branch master
end match
match /trunk/
  repository proj
  branch master
end match
)");
    const auto result = bench.convert({"--rules", rules});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.standardError.contains(
        "File \"/trunk/a\" matches rule \"" + rules.toUtf8() + ":8 /trunk/a\" as a whole, but a file "
        "cannot be the root of a branch: end the match pattern at a directory with \"/\", or give "
        "the rule a \"prefix\"")) << result.standardError.constData();
    EXPECT_EQ(bench.git("proj", {"for-each-ref", "--format=%(refname)"}), QByteArray("refs/heads/master\n"));
    EXPECT_EQ(bench.tree("proj", "master"), QStringList({"copy-of-b 100644", "x 100644"}));
    EXPECT_TRUE(bench.fsckClean("proj"));
}

TEST(EndToEndBranches, RulesAndPrefixesWithStraySlashesGiveCleanPaths)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "proj", "mkdir", "proj/trunk", "put", "@a\n",
                            "proj/trunk/a.txt", "mkdir", "proj/trunk/d", "put", "@e\n",
                            "proj/trunk/d/e.txt", "mkdir", "lib", "put", "@l\n", "lib/l.txt",
                            "mkdir", "other", "put", "@o\n", "other/o.txt"}), 1);
    ASSERT_EQ(bench.commit({"rm", "proj/trunk/d/e.txt", "put", "@m\n", "lib/m.txt"}), 2);
    const QString rules = bench.writeRules("proj.rules", R"(
create repository proj
end repository
create repository lib
  repository proj
  prefix /sub/
end repository
create repository other
  repository proj
  prefix sub//x/
end repository
match /proj/trunk
  repository proj
  branch master
end match
match /lib/
  repository lib
  branch master
end match
match /other/
  repository other
  branch master
end match
)");
    const auto result = bench.convert({"--rules", rules});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
    EXPECT_EQ(bench.tree("proj", "master"),
              QStringList({"a.txt 100644", "sub/l.txt 100644", "sub/m.txt 100644",
                           "sub/x/o.txt 100644"}));
    // Added at revision 1, deleted at revision 2, at its place in the tree.
    EXPECT_EQ(bench.git("proj", {"log", "--format=%s", "master", "--", "d/e.txt"}),
              QByteArray("change\nchange\n"));
}

TEST(EndToEndBranches, CopyFromAnEmptyBranchLeavesNoRecordThatRefusesOthers)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "branches", "put", "@a\n", "trunk/a",
                            "mkdir", "branches/foo"}), 1);
    ASSERT_EQ(bench.commit({"cp", "1", "branches/foo", "trunk/foo-copy"}), 2);
    ASSERT_EQ(bench.commit({"mkdir", "branches/foo/bar", "put", "@x\n", "branches/foo/bar/x"}),
              3);
    const QString rules = bench.writeRules("proj.rules", R"(
create repository proj
end repository
match /trunk/
  repository proj
  branch master
end match
match /branches/foo/([^/]+)/
  repository proj
  branch foo/\1
end match
match /branches/([^/]+)/
  repository proj
  branch \1
end match
)");
    const auto result = bench.convert({"--rules", rules});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
    EXPECT_EQ(bench.tree("proj", "foo/bar"), QStringList({"x 100644"}));
}

// Revisions that touch several branches of two repositories: the order of
// the commits inside a revision, and so every mark, must not depend on hash
// order, which changes from one process to the next.
TEST(E2eDeterminism, TwoRunsWriteTheSameStreams)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "branches", "mkdir", "other"}), 1);
    ASSERT_EQ(bench.commit({"put", "@a", "trunk/a", "cp", "1", "trunk", "branches/b1", "put",
                            "@x", "other/x"}),
              2);
    ASSERT_EQ(bench.commit({"put", "@b", "trunk/b", "put", "@c", "branches/b1/c", "put", "@y",
                            "other/y", "cp", "2", "trunk", "branches/b2"}),
              3);
    ASSERT_EQ(bench.commit({"put", "@d", "branches/b2/d", "put", "@e", "branches/b1/e", "put",
                            "@g", "trunk/g", "put", "@z", "other/z"}),
              4);
    const QString rules = bench.writeRules("two.rules", QByteArray(projectRules) + R"(
create repository other
end repository
match /other/
  repository other
  branch master
end match
)");

    QList<QByteArray> dumps;
    for (int run = 0; run < 2; ++run) {
        QDir(bench.outputDirectory()).removeRecursively();
        QDir().mkpath(bench.outputDirectory());
        const auto result = bench.convert({"--create-dump", "--rules", rules});
        ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
        const QByteArray dump =
                TestSupport::readFile(bench.outputDirectory() + "/proj.fi")
                + TestSupport::readFile(bench.outputDirectory() + "/other.fi");
        ASSERT_TRUE(dump.contains("commit refs/heads/b2"));
        dumps.append(dump);
    }
    EXPECT_EQ(dumps[0], dumps[1]);
}

// The tags of a revision are on disk before its refs can be: a tag journal
// that cannot be written fails the revision instead of risking the tag.
TEST(EndToEndBranches, UnwritableTagJournalFailsTheRevision)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "tags", "put", "@a", "trunk/a"}), 1);
    ASSERT_EQ(bench.commit({"cp", "1", "trunk", "tags/v1"}), 2);
    const QString rules = bench.writeRules("proj.rules", QByteArray(projectRules) + R"(
match /tags/([^/]+)/
  repository proj
  branch refs/tags/\1
  annotated true
end match
)");
    ASSERT_EQ(bench.convert({"--rules", rules, "--max-rev", "1"}).exitCode, 0);
    // A directory where the journal file would go.
    ASSERT_TRUE(QDir().mkpath(bench.outputDirectory() + "/proj/annotatedTagChanges-proj"));

    const auto result = bench.convert({"--rules", rules});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.standardError.contains(
            "Cannot write the annotated tag journal \"proj/annotatedTagChanges-proj\" of "
            "repository \"proj\" : a killed run would lose the tags of revision 2"))
            << result.standardError.constData();
    EXPECT_FALSE(result.standardOutput.contains("Exporting revision 2  done"));
    EXPECT_TRUE(bench.revParse("proj", "refs/tags/v1").isEmpty());
    EXPECT_FALSE(bench.revParse("proj", "master").isEmpty());
}
