#include "E2eBench.h"

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

    auto second = bench.convert({"--rules", rules});
    ASSERT_EQ(second.exitCode, 0) << second.standardError.constData();
    EXPECT_FALSE(second.standardOutput.contains("Exporting revision 2 "));
    EXPECT_TRUE(second.standardOutput.contains("Exporting revision 4 "));
    EXPECT_EQ(bench.git("proj", {"rev-list", "--count", "master"}).trimmed(), QByteArray("3"));
    EXPECT_EQ(bench.fileAt("proj", "master", "f"), QByteArray("4\n"));
    EXPECT_EQ(bench.tree("proj", "rel"), QStringList({"f 100644", "r 100644"}));
    EXPECT_EQ(parentsOf(bench, "rel"), bench.revParse("proj", "master~1"));

    const QStringList refsAfterSecond = bench.refs("proj");
    auto third = bench.convert({"--rules", rules});
    ASSERT_EQ(third.exitCode, 0) << third.standardError.constData();
    EXPECT_FALSE(third.standardOutput.contains("Exporting revision"));
    EXPECT_EQ(bench.refs("proj"), refsAfterSecond);
}
