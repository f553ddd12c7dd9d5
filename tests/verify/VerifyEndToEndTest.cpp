// tallowmere-verify on real conversions: equal ones pass with a count of
// every recorded state, and each fault put into git is named.

#include "E2eBench.h"

#include <QDir>
#include <QFile>

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
  annotated true
end match

match /
end match
)";

TestSupport::CommandResult verify(E2eBench &bench, const QString &rules,
                                  const QStringList &options = {})
{
    return TestSupport::run(QStringLiteral(TALLOWMERE_VERIFY_BINARY),
                            QStringList{QStringLiteral("--rules"), rules} + options
                                    + QStringList{bench.repositoryPath()},
                            bench.outputDirectory());
}

// The distinct (revision, branch) pairs of the branch lines of a repository's
// log; the lines that mark a finished revision name no branch.
int recordedStates(E2eBench &bench, const QString &repository)
{
    const auto result = TestSupport::shell(
            QStringLiteral("grep '^progress SVN r[0-9]* branch ' log-%1 | sed 's/ = .*//' "
                           "| sort -u | wc -l")
                    .arg(repository),
            bench.outputDirectory());
    return result.standardOutput.trimmed().toInt();
}

// The mark the last log line of repository records for branch at revision.
int recordedMark(E2eBench &bench, const QString &repository, int revision, const QString &branch)
{
    const auto result = TestSupport::shell(
            QStringLiteral("sed -n 's/^progress SVN r%1 branch %2 = :\\([0-9]*\\).*/\\1/p' log-%3 "
                           "| tail -n 1")
                    .arg(revision)
                    .arg(branch, repository),
            bench.outputDirectory());
    return result.standardOutput.trimmed().toInt();
}

// Replaces the commit that mark :MARK of repository names (in git and in its
// marks file) by one whose tree got the index edit.
void rewriteRecordedCommit(E2eBench &bench, int mark, const QString &indexEdit,
                           const QString &repository = QStringLiteral("proj"))
{
    const QString script = QStringLiteral(
            "set -e; export GIT_DIR=%3 GIT_INDEX_FILE=$PWD/fault.index\n"
            "old=$(sed -n 's/^:%1 //p' %3/marks-%3)\n"
            "git read-tree $old\n%2\n"
            "new=$(git commit-tree -p $old -m fault $(git write-tree) </dev/null)\n"
            "sed -i \"s/^:%1 .*/:%1 $new/\" %3/marks-%3\nrm -f $GIT_INDEX_FILE\n")
                                   .arg(mark)
                                   .arg(indexEdit, repository);
    const auto result = TestSupport::shell(script, bench.outputDirectory());
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
}

void expectDifference(E2eBench &bench, const QString &rules, const QString &line,
                      const QStringList &options = {})
{
    const auto result = verify(bench, rules, options);
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
              QStringLiteral("checked %1 branch states in 1 repository (2 branches, 1 tag), "
                             "r1\u2013r4 of 4, trees, history and metadata: "
                             "all equal\n")
                      .arg(recordedStates(bench, QStringLiteral("proj")))
                      .toUtf8());
    const auto upToR3 = verify(bench, rules, {QStringLiteral("--max-rev"), QStringLiteral("3")});
    EXPECT_EQ(upToR3.exitCode, 0) << upToR3.standardOutput.constData();
    EXPECT_TRUE(upToR3.standardOutput.endsWith("r1\u2013r3 of 4, trees, history and metadata: all equal\n"));

    // The same tree in git under another history: mark 2 (master at r3)
    // re-parented, cut to a root commit, given a made-up merge parent, put
    // after a commit nobody recorded; a look-alike with the right parent
    // shows by its metadata.
    const std::pair<const char *, const char *> histories[] = {
            {"-p refs/heads/dev", "parents"},
            {"", "parents"},
            {"-p $old^ -p refs/heads/dev", "parents"},
            {"-p $(git --git-dir=proj commit-tree -p $old^ -m secret $old^{tree})",
             "unrecorded commit"},
            {"-p $old^", "message"},
    };
    for (const auto &[parents, kind] : histories) {
        TestSupport::shell(QStringLiteral("cp proj/marks-proj kept && old=$(sed -n 's/^:2 //p' kept) "
                                          "&& new=$(git --git-dir=proj commit-tree %1 $old^{tree} -m "
                                          "fault) && sed -i \"s/^:2 .*/:2 $new/\" proj/marks-proj")
                                   .arg(QLatin1String(parents)),
                           bench.outputDirectory());
        expectDifference(bench, rules, QStringLiteral(R"(r3 proj master "": %1)").arg(kind));
        TestSupport::shell(QStringLiteral("mv kept proj/marks-proj"), bench.outputDirectory());
    }

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
    // The commit master had before mark 2 was rewritten is recorded no more.
    expectDifference(bench, rules, R"(r4 proj dev "refs/heads/dev": unrecorded commit)");
    expectDifference(bench, rules, R"(r4 proj dev "b.txt": missing)");
    TestSupport::shell(QStringLiteral("git --git-dir=proj update-ref refs/tags/v1 v1^{commit}"),
                       bench.outputDirectory());
    expectDifference(bench, rules,
                     R"(r4 proj refs/tags/v1 "refs/tags/v1": tag (a plain ref, the rule makes)");
    TestSupport::shell(QStringLiteral("git --git-dir=proj tag -f -a -m moved v1 refs/heads/dev~1"),
                       bench.outputDirectory());
    expectDifference(bench, rules, R"(r4 proj refs/tags/v1 "refs/tags/v1": tag)");

    // With --empty-dirs: trunk empty at r1, a branch made empty (keeps its placeholder), one
    // emptied by removals, a copy of the empty trunk, a tag made empty (no annotated tag).
    ASSERT_EQ(bench.commit({"mkdir", "trunk/empty", "mkdir", "trunk/ign", "propset", "svn:ignore",
                            "*.o", "trunk/ign", "mkdir", "branches/bare", "cp", "1", "trunk",
                            "branches/void", "mkdir", "tags/made"}), 5);
    ASSERT_EQ(bench.commit({"put", "@f", "branches/bare/f.txt", "rm", "branches/dev/a.txt", "rm",
                            "branches/dev/run.sh", "rm", "branches/dev/b.txt", "put", "@x",
                            "trunk/empty/x.txt"}), 6);
    ASSERT_EQ(bench.commit({"rm", "trunk/empty/x.txt"}), 7);
    ASSERT_TRUE(QDir(bench.outputDirectory()).removeRecursively()
                && QDir().mkpath(bench.outputDirectory()));
    const QStringList placeholders{"--empty-dirs", "--svn-ignore"};
    ASSERT_EQ(bench.convert(QStringList{"--rules", rules} + placeholders).exitCode, 0);
    EXPECT_EQ(bench.tree("proj", "bare"), QStringList({".gitignore 100644", "f.txt 100644"}));
    const auto placed = verify(bench, rules, placeholders);
    EXPECT_TRUE(placed.exitCode == 0 && placed.standardOutput.endsWith(": all equal\n"))
            << placed.standardOutput.constData();

    // A branch deleted after the revision compared up to was alive there.
    ASSERT_EQ(bench.commit({"rm", "branches/bare"}), 8);
    ASSERT_EQ(bench.convert(QStringList{"--rules", rules} + placeholders).exitCode, 0);
    const auto beforeDeletion =
            verify(bench, rules, placeholders + QStringList{QStringLiteral("--max-rev"), "7"});
    EXPECT_TRUE(beforeDeletion.exitCode == 0
                && beforeDeletion.standardOutput.endsWith("r1\u2013r7 of 8, trees, history and "
                                                          "metadata: all equal\n"))
            << beforeDeletion.standardOutput.constData();
}

// Two repositories, a forwarding one with a prefix, a rule prefix with a
// back-reference and a recurse rule that a directory copy goes through; with
// --empty-dirs, the directories made empty at r1 get placeholders.
TEST(VerifyEndToEnd, RecursePrefixesAndTwoRepositoriesEqualThenFaultNamed)
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
    // The copy of /projects/alpha matches only the recurse rule: its trunk
    // reaches the main repository through it.
    ASSERT_EQ(bench.commit({"cp", "3", "projects/alpha", "projects/gamma", "put", "@s",
                            "projects/alpha/stable/s.txt"}),
              4);
    ASSERT_EQ(bench.commit({"put", "@o2", "other/o.txt", "put", "@a2",
                            "projects/alpha/stable/a.txt"}),
              5);
    // A branch deleted and made again at its path from an older source, then
    // changed deep down: nothing of what it was before may show through.
    ASSERT_EQ(bench.commit({"rm", "projects/alpha/stable"}), 6);
    ASSERT_EQ(bench.commit({"cp", "2", "projects/alpha/trunk", "projects/alpha/stable", "mkdir",
                            "projects/alpha/stable/sub", "put", "@d",
                            "projects/alpha/stable/sub/d.txt"}),
              7);
    ASSERT_EQ(bench.commit({"put", "@d2", "projects/alpha/stable/sub/d.txt"}), 8);
    const QString rules = bench.writeRules(QStringLiteral("layout.rules"), R"(create repository main
end repository
create repository side
end repository
create repository shared
  repository main
  prefix shared/
end repository

match /projects/([^/]+)/trunk/
  repository main
  branch master
  prefix \1/
end match

match /projects/alpha/stable/
  repository side
  branch stable
end match

match /projects/
  action recurse
end match

match /other/
  repository shared
  branch master
end match
)");
    const QStringList emptyDirs{QStringLiteral("--empty-dirs")};
    ASSERT_EQ(bench.convert(QStringList{QStringLiteral("--rules"), rules} + emptyDirs).exitCode, 0);
    const int mainStates = recordedStates(bench, QStringLiteral("main"));
    const int sideStates = recordedStates(bench, QStringLiteral("side"));
    ASSERT_GE(mainStates, 4); // r2 to r5, r4 by the copy through the recurse rule
    ASSERT_GE(sideStates, 3); // r3 to r5
    const auto gammaFile = TestSupport::shell(QStringLiteral("git --git-dir=main cat-file -p "
                                                             "master:gamma/a.txt"),
                                              bench.outputDirectory());
    ASSERT_EQ(gammaFile.standardOutput, QByteArray("a"));

    // A resumed run records the revisions it did again once more.
    TestSupport::shell(QStringLiteral("grep -E '^progress SVN r[78] ' log-side >>log-side"),
                       bench.outputDirectory());
    const auto result = verify(bench, rules, emptyDirs);
    EXPECT_EQ(result.exitCode, 0) << result.standardOutput.constData()
                                   << result.standardError.constData();
    EXPECT_EQ(result.standardOutput,
              QStringLiteral("checked %1 branch states in 2 repositories (2 branches, 0 tags), "
                             "r1\u2013r8 of 8, trees, history and metadata: "
                             "all equal\n")
                      .arg(mainStates + sideStates)
                      .toUtf8());

    rewriteRecordedCommit(bench, recordedMark(bench, QStringLiteral("side"), 4,
                                              QStringLiteral("stable")),
                          "printf '100644 %s\\ts.txt\\n' $(echo changed | git hash-object -w "
                          "--stdin) | git update-index --index-info",
                          QStringLiteral("side"));
    expectDifference(bench, rules, R"(r4 side stable "s.txt": content)", emptyDirs);
    // The branch made again holding what it held before it was deleted.
    rewriteRecordedCommit(bench, recordedMark(bench, QStringLiteral("side"), 7,
                                              QStringLiteral("stable")),
                          "printf '100644 %s\\ta.txt\\n100644 %s\\ts.txt\\n' $(printf a2 | "
                          "git hash-object -w --stdin) $(printf s | git hash-object -w --stdin) "
                          "| git update-index --index-info",
                          QStringLiteral("side"));
    expectDifference(bench, rules, R"(r7 side stable "s.txt": extra)", emptyDirs);
    // The branch deleted at r6 was saved under a backup ref.
    TestSupport::shell(QStringLiteral("git --git-dir=side update-ref -d refs/tags/backups/stable@6"),
                       bench.outputDirectory());
    expectDifference(bench, rules, R"(r6 side stable "refs/tags/backups/stable@6": backup (missing in git))", emptyDirs);
}

// With --svn-mergeinfo the parents are checked too: a conversion made
// without the option has the merges of copies and lacks those of mergeinfo,
// each named with its revision, branch and the parents expected and found;
// the conversion made with the option is equal.
TEST(VerifyEndToEnd, MergeParentsFromMergeinfoChecked)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("svn")));
    const auto made = bench.makeHistory(QStringLiteral("make-merge-history"));
    ASSERT_EQ(made.exitCode, 0) << made.standardError.constData();
    const QString rules = bench.writeRules(QStringLiteral("proj.rules"), standardRules);
    const auto verifyParents = [&] {
        return TestSupport::run(QStringLiteral(TALLOWMERE_VERIFY_BINARY),
                                {QStringLiteral("--rules"), rules, QStringLiteral("--svn-mergeinfo"),
                                 bench.repositoryPath()},
                                bench.outputDirectory());
    };

    ASSERT_EQ(bench.convert({"--rules", rules}).exitCode, 0);
    const auto without = verifyParents();
    EXPECT_EQ(without.exitCode, 1) << without.standardOutput.constData();
    QStringList revisions;
    for (const QByteArray &line : without.standardOutput.split('\n')) {
        if (line.contains("\"\": parents (expected "))
            revisions.append(QString::fromUtf8(line.left(line.indexOf(" \"\""))));
    }
    EXPECT_EQ(revisions, QStringList({"r8 proj b1", "r9 proj master", "r14 proj master",
                                      "r20 proj master", "r23 proj master", "r25 proj b2"}))
            << without.standardOutput.constData();
    const QByteArray r9 = bench.git("proj", {"log", "--format=%P", "--grep=^r9 ", "master"});
    EXPECT_TRUE(without.standardOutput.contains(
            "r9 proj master \"\": parents (expected " + r9.left(40) + ", found "
            + r9.trimmed() + ")"))
            << without.standardOutput.constData();

    ASSERT_TRUE(QDir(bench.outputDirectory()).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(bench.outputDirectory()));
    ASSERT_EQ(bench.convert({"--rules", rules, "--svn-mergeinfo"}).exitCode, 0);
    const auto with = verifyParents();
    EXPECT_EQ(with.exitCode, 0) << with.standardOutput.constData();
    EXPECT_TRUE(with.standardOutput.endsWith(": all equal\n")) << with.standardOutput.constData();

    // The early and the late part of the history are checked side by side:
    // a revision either cannot read stops the check, named.
    for (const int revision : {8, 23}) {
        const QString revprops =
                bench.repositoryPath() + QStringLiteral("/db/revprops/0/%1").arg(revision);
        TestSupport::shell(QStringLiteral("cp %1 kept && echo broken > %1").arg(revprops),
                           bench.outputDirectory());
        const auto broken = verifyParents();
        EXPECT_EQ(broken.exitCode, 2);
        EXPECT_TRUE(broken.standardError.endsWith(
                QStringLiteral("tallowmere-verify: cannot read the properties of revision %1: "
                               "svn: Failed to parse revprops for r%1.\n")
                        .arg(revision)
                        .toUtf8()))
                << broken.standardError.constData();
        TestSupport::shell(QStringLiteral("mv kept %1").arg(revprops), bench.outputDirectory());
    }
}

// --svn-attributes on a history of real svn commits, converted in two runs:
// at every revision a fresh clone checks out the bytes svn export writes,
// with git's defaults and with core.eol=crlf, and marks exactly the binary
// files; a .gitattributes of the user's own is kept while it is there; each
// warning comes once; verify finds all equal.
TEST(VerifyEndToEnd, AttributesGiveCheckoutsTheLineEndsOfSvnExport)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("svn")));
    const QString support = TestSupport::sourceDirectory() + QStringLiteral("/tests/support/");
    const auto made = bench.makeHistory(QStringLiteral("make-attribute-history"));
    ASSERT_EQ(made.exitCode, 0) << made.standardError.constData();

    const QString rules = bench.writeRules(QStringLiteral("attributes.rules"), standardRules);
    const QString filter = bench.writeRules(QStringLiteral("filter"),
                                            "#!/bin/sh\nexec sed '1s/^/filtered: /'\n");
    QFile::setPermissions(filter, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QStringList metadata{"--add-metadata", "--add-metadata-notes", "--identity-domain",
                               "example.org", "--msg-filter", filter};
    const QStringList options = QStringList{"--rules", rules, "--svn-attributes"} + metadata;
    const auto first = bench.convert(options + QStringList{"--max-rev", "6"});
    ASSERT_EQ(first.exitCode, 0) << first.standardError.constData();
    const auto second = bench.convert(options);
    ASSERT_EQ(second.exitCode, 0) << second.standardError.constData();
    EXPECT_EQ(first.standardError.count("WARN: svn:eol-style CR of \"/trunk/cr.txt\""), 1);
    EXPECT_EQ(second.standardError.count("WARN: Subversion holds a .gitattributes in "
                                         "\"/branches/b1/sub dir\""),
              1);
    EXPECT_EQ(bench.fileAt(QStringLiteral("proj"), QStringLiteral("b1~2"),
                           QStringLiteral("sub dir/.gitattributes"))
                      .left(7),
              QByteArray("# mine\n"));
    EXPECT_EQ(bench.fileAt(QStringLiteral("proj"), QStringLiteral("master"),
                           QStringLiteral("sub dir/.gitattributes")),
              QByteArray());

    QDir().mkpath(bench.path(QStringLiteral("compare")));
    const auto compared = TestSupport::shell(
            support + QStringLiteral("compare-checkouts %1 %2 %3 '%4' '%5'")
                              .arg(bench.repositoryPath(),
                                   bench.outputDirectory() + QStringLiteral("/proj"),
                                   bench.path(QStringLiteral("compare")),
                                   QStringLiteral("master=/trunk b1=/branches/b1 b2=/branches/b2"),
                                   QStringLiteral("2 3 4 5 6 7 8 9 10")),
            QString(), 600);
    EXPECT_EQ(compared.exitCode, 0) << compared.standardOutput.constData()
                                    << compared.standardError.constData();

    const auto verified = verify(bench, rules, QStringList{"--svn-attributes"} + metadata);
    EXPECT_EQ(verified.exitCode, 0) << verified.standardOutput.constData();
    EXPECT_TRUE(verified.standardOutput.contains(": all equal"));
    // Told another domain and no filter, it finds every commit's author and message wrong.
    const auto otherDomain = verify(bench, rules, QStringList{"--svn-attributes"}
                                                          + metadata.mid(0, 3) + QStringList{"x.org"});
    EXPECT_EQ(otherDomain.exitCode, 1);
    EXPECT_TRUE(otherDomain.standardOutput.contains(R"(r2 proj master "": author (author: git has)"));
    EXPECT_TRUE(otherDomain.standardOutput.contains(R"(r2 proj master "": message)"));
}
