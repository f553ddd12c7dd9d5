// tallowmere-verify on real conversions: equal ones pass with a count of
// every recorded state, and each fault put into git is named.

#include "E2eBench.h"

#include <gtest/gtest.h>

namespace {

const QByteArray standardRules = R"(create repository proj
end repository

match /trunk/
  repository proj
  branch master
end match

match /branches/([^/]+)/
  repository proj
  branch \1
end match

match /tags/([^/]+)/
  repository proj
  branch refs/tags/\1
end match
)";

TestSupport::CommandResult verify(E2eBench &bench, const QString &rules)
{
    return TestSupport::run(QStringLiteral(TALLOWMERE_VERIFY_BINARY),
                            {QStringLiteral("--rules"), rules, bench.repositoryPath()},
                            bench.outputDirectory());
}

// The distinct (revision, branch) pairs of the log lines of a repository.
int recordedStates(E2eBench &bench, const QString &repository)
{
    const auto result = TestSupport::shell(
            QStringLiteral("grep '^progress SVN r' log-%1 | sed 's/ = .*//' | sort -u | wc -l")
                    .arg(repository),
            bench.outputDirectory());
    return result.standardOutput.trimmed().toInt();
}

// Replaces the commit that mark :MARK names (in git and in the marks file)
// by one whose tree got the index edit.
void rewriteRecordedCommit(E2eBench &bench, int mark, const QString &indexEdit)
{
    const QString script = QStringLiteral(
            "set -e; export GIT_DIR=proj GIT_INDEX_FILE=$PWD/fault.index\n"
            "old=$(sed -n 's/^:%1 //p' proj/marks-proj)\n"
            "git read-tree $old\n%2\n"
            "new=$(git commit-tree -p $old -m fault $(git write-tree) </dev/null)\n"
            "sed -i \"s/^:%1 .*/:%1 $new/\" proj/marks-proj\nrm -f $GIT_INDEX_FILE\n")
                                   .arg(mark)
                                   .arg(indexEdit);
    const auto result = TestSupport::shell(script, bench.outputDirectory());
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
}

void expectDifference(E2eBench &bench, const QString &rules, const QString &line)
{
    const auto result = verify(bench, rules);
    EXPECT_EQ(result.exitCode, 1) << result.standardOutput.constData();
    EXPECT_TRUE(result.standardOutput.contains(line.toUtf8()))
            << "wanted: " << line.toStdString() << "\ngot: " << result.standardOutput.constData();
}

} // namespace

TEST(VerifyEndToEnd, StandardLayoutEqualThenEachFaultNamed)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "branches", "mkdir", "tags"}), 1);
    ASSERT_EQ(bench.commit({"put", "@one", "trunk/a.txt", "put", "@#!/bin/sh", "trunk/run.sh",
                            "propset", "svn:executable", "*", "trunk/run.sh"}),
              2);
    ASSERT_EQ(bench.commit({"cp", "2", "trunk", "branches/dev", "put", "@two", "trunk/a.txt"}), 3);
    ASSERT_EQ(bench.commit({"cp", "3", "trunk", "tags/v1", "put", "@three", "branches/dev/b.txt"}),
              4);
    const QString rules = bench.writeRules(QStringLiteral("standard.rules"), standardRules);
    ASSERT_EQ(bench.convert({QStringLiteral("--rules"), rules}).exitCode, 0);

    const auto equal = verify(bench, rules);
    EXPECT_EQ(equal.exitCode, 0) << equal.standardOutput.constData();
    EXPECT_EQ(equal.standardOutput,
              QStringLiteral("checked %1 branch states in 1 repository (2 branches, 1 tags): "
                             "all equal\n")
                      .arg(recordedStates(bench, QStringLiteral("proj")))
                      .toUtf8());

    // Mark 2 is master at r3 (mark 1 is master at r2).
    rewriteRecordedCommit(bench, 2,
                          "printf '100644 %s\\ta.txt\\n' $(echo changed | git hash-object -w "
                          "--stdin) | git update-index --index-info");
    expectDifference(bench, rules, R"(r3 proj master "a.txt": content)");
    rewriteRecordedCommit(bench, 2,
                          "printf '100644 %s\\trun.sh\\n' $(git rev-parse $old:run.sh) | "
                          "git update-index --index-info");
    expectDifference(bench, rules, R"(r3 proj master "run.sh": mode (Subversion 100755, git 100644))");
    rewriteRecordedCommit(bench, 2,
                          "printf '0 %040d\\trun.sh\\n' 0 | git update-index --index-info");
    expectDifference(bench, rules, R"(r3 proj master "run.sh": missing)");

    TestSupport::shell(QStringLiteral("git --git-dir=proj update-ref refs/heads/dev refs/heads/master"),
                       bench.outputDirectory());
    expectDifference(bench, rules, R"(r4 proj dev "refs/heads/dev": ref)");
    expectDifference(bench, rules, R"(r4 proj dev "b.txt": missing)");
    TestSupport::shell(QStringLiteral("git --git-dir=proj tag -f -a -m moved v1 refs/heads/dev~1"),
                       bench.outputDirectory());
    expectDifference(bench, rules, R"(r4 proj refs/tags/v1 "refs/tags/v1": tag)");
}

TEST(VerifyEndToEnd, RecursePrefixesAndTwoRepositoriesEqual)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "projects", "mkdir", "projects/alpha", "mkdir",
                            "projects/alpha/trunk", "mkdir", "projects/beta", "mkdir",
                            "projects/beta/trunk", "mkdir", "other"}),
              1);
    ASSERT_EQ(bench.commit({"put", "@a", "projects/alpha/trunk/a.txt", "put", "@b",
                            "projects/beta/trunk/b.txt", "put", "@o", "other/o.txt"}),
              2);
    ASSERT_EQ(bench.commit({"cp", "2", "projects/alpha/trunk", "projects/alpha/stable", "put",
                            "@b2", "projects/beta/trunk/b.txt"}),
              3);
    const QString rules = bench.writeRules(QStringLiteral("layout.rules"), R"(create repository main
end repository
create repository side
end repository
create repository shared
  repository main
  prefix shared/
end repository

match /projects/
  action recurse
end match

match /projects/([^/]+)/trunk/
  repository main
  branch master
  prefix \1/
end match

match /projects/alpha/stable/
  repository side
  branch stable
end match

match /other/
  repository shared
  branch master
end match
)");
    ASSERT_EQ(bench.convert({QStringLiteral("--rules"), rules}).exitCode, 0);
    const auto result = verify(bench, rules);
    EXPECT_EQ(result.exitCode, 0) << result.standardOutput.constData()
                                   << result.standardError.constData();
    const int states = recordedStates(bench, QStringLiteral("main"))
            + recordedStates(bench, QStringLiteral("side"));
    EXPECT_TRUE(result.standardOutput.startsWith(
            QStringLiteral("checked %1 branch states in ").arg(states).toUtf8()))
            << result.standardOutput.constData();
}
