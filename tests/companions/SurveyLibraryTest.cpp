// The survey's parts without its program: the history survey and its
// report, starter rules, the identity skeleton and the rules check, each
// over a small real repository.

#include "E2eBench.h"
#include "OutputCapture.h"

#include "rules/RulesFileSet.h"
#include "survey/HistorySurvey.h"
#include "survey/IdentitySkeleton.h"
#include "survey/RulesCheck.h"
#include "survey/StarterRules.h"
#include "survey/SurveyReport.h"
#include "svn/ChangedPathsReader.h"
#include "svn/SvnSource.h"

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <memory>

namespace {

std::unique_ptr<ChangedPathsReader> openReader(const E2eBench &bench)
{
    EXPECT_TRUE(SvnSource::initializeSvnLibraries().ok());
    Result<ChangedPathsReader *> opened = ChangedPathsReader::open(bench.repositoryPath());
    EXPECT_TRUE(opened.ok()) << (opened ? "" : qPrintable(opened.failure().message()));
    return std::unique_ptr<ChangedPathsReader>(opened ? opened.value() : nullptr);
}

HistorySurvey surveyOf(const E2eBench &bench)
{
    HistorySurvey history;
    if (const auto reader = openReader(bench)) {
        const Status read = history.run(*reader);
        EXPECT_TRUE(read.ok()) << qPrintable(read.failure().message());
    }
    return history;
}

// Checks rules text against the bench's history; the JSON report.
QJsonObject checkRules(E2eBench &bench, const QByteArray &rulesText, bool *problems)
{
    TestSupport::MessageCapture tracesOfLoadingAndDispatch;
    RulesCheck check;
    RulesFileSet rules(bench.writeRules(QStringLiteral("check.rules"), rulesText), &check);
    EXPECT_TRUE(rules.load().ok());
    const auto reader = openReader(bench);
    if (!reader)
        return QJsonObject();
    const Status checked = check.run(*reader, rules);
    EXPECT_TRUE(checked.ok()) << qPrintable(checked.failure().message());
    *problems = check.hasProblems();
    return check.jsonReport();
}

QStringList strings(const QJsonArray &array, const QString &key = QString())
{
    QStringList texts;
    for (const QJsonValue &value : array)
        texts.append(key.isEmpty() ? value.toString() : value.toObject().value(key).toString());
    return texts;
}

// A branch and a tag whose names git refuses; a tag made from the branch,
// which is deleted then.
void makeSingleProject(E2eBench &bench)
{
    ASSERT_GT(bench.commit({"mkdir", "trunk", "mkdir", "branches", "mkdir", "tags", "put",
                            "@one", "trunk/a.txt"}, "start", "alice"), 0);
    ASSERT_GT(bench.commit({"cp", "1", "trunk", "branches/my fix"}, "branch", "bob"), 0);
    ASSERT_GT(bench.commit({"put", "@two", "branches/my fix/b.txt"}, "fix", "bob"), 0);
    ASSERT_GT(bench.commit({"cp", "2", "trunk", "tags/release 1.0"}, "tag", "carol"), 0);
    ASSERT_GT(bench.commit({"cp", "3", "branches/my fix", "tags/v2"}, "tag", "alice"), 0);
    ASSERT_GT(bench.commit({"rm", "branches/my fix"}, "done", "carol"), 0);
}

} // namespace

TEST(SurveyReportTest, ShowsLayoutCandidatesAuthorsAndNamesGitRefuses)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    makeSingleProject(bench);

    const HistorySurvey history = surveyOf(bench);
    const QString text = SurveyReport::text(history);
    EXPECT_TRUE(text.startsWith("Revisions: 1 to 6\n\n"
                                "Layout:\n"
                                "  (top level): branches, tags, trunk\n\n"
                                "Branch and tag candidates: 4\n"
                                "  branch /branches/my fix: made r2 from /trunk@1, last changed "
                                "r6, deleted r6\n"
                                "  tag    /tags/release 1.0: made r4 from /trunk@2, last changed r4\n"
                                "  tag    /tags/v2: made r5 from /branches/my fix@3, last changed r5\n"
                                "  trunk  /trunk: made r1, last changed r1\n\n"
                                "Authors: 3\n"
                                "  alice: 2 revisions, r1 to r5\n"
                                "  bob: 2 revisions, r2 to r3\n"
                                "  carol: 2 revisions, r4 to r6\n\n"
                                "To decide:\n\n"
                                "Names git refuses as ref names: 2\n"
                                "  /branches/my fix (my fix)\n"
                                "  /tags/release 1.0 (refs/tags/release 1.0)\n"))
            << qPrintable(text);
    EXPECT_TRUE(text.endsWith("Largest files:\n"
                              "  3 bytes /trunk/a.txt@1\n"
                              "  3 bytes /branches/my fix/b.txt@3\n"))
            << qPrintable(text);
    const QJsonObject json = SurveyReport::json(history);
    EXPECT_EQ(strings(json.value("refusedNames").toArray(), "refName"),
              QStringList({"my fix", "refs/tags/release 1.0"}));
    const QJsonObject tag = json.value("candidates").toArray().at(2).toObject();
    EXPECT_EQ(tag.value("source").toString(), "/branches/my fix");
    EXPECT_EQ(tag.value("sourceRevision").toInt(), 3);

    // Starter rules repair the refused names in their own rules.
    const QString rules = StarterRules::write(history, "project", "main");
    EXPECT_TRUE(rules.contains("match /trunk/\n  repository project\n  branch main\nend match\n"
                               "\nmatch /branches/([^/]+)/\n  repository project\n"
                               "  branch \\1\n  substitute branch s/ /_/\nend match\n"
                               "\nmatch /tags/([^/]+)/\n  repository project\n"
                               "  branch refs/tags/\\1\n  substitute branch s/ /_/\n"
                               "  annotated true\nend match\n"))
            << qPrintable(rules);
    EXPECT_TRUE(rules.endsWith("match /\nend match\n"));
}

TEST(RulesCheckTest, FindsUncoveredPathsRefusedNamesAndUnusedRules)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    makeSingleProject(bench);
    bool problems = false;
    const QJsonObject check = checkRules(bench,
                                         "create repository r\nend repository\n"
                                         "match /trunk/\n  repository r\n  branch master\n"
                                         "end match\n"
                                         "match /branches/([^/]+)/\n  repository r\n"
                                         "  branch \\1\nend match\n"
                                         "match /nowhere/\nend match\n",
                                         &problems);
    EXPECT_TRUE(problems);
    QStringList uncovered;
    for (const QJsonValue &group : check.value("uncovered").toArray())
        uncovered += strings(group.toObject().value("paths").toArray());
    EXPECT_EQ(uncovered, QStringList({"/tags/release 1.0/", "/tags/v2/"}));
    const QJsonArray refused = check.value("refusedNames").toArray();
    ASSERT_EQ(refused.size(), 1);
    EXPECT_EQ(refused.at(0).toObject().value("name").toString(), "my fix");
    EXPECT_TRUE(refused.at(0).toObject().value("rule").toString().endsWith(
            "check.rules:7 /branches/([^/]+)/"));
    EXPECT_EQ(check.value("unusedRules").toArray().size(), 1);
}

// /trunk and /branches/main on one ref while both live; main beside main/1.0.
TEST(RulesCheckTest, FindsRefsThatTwoPathsWriteAndRefsGitCannotHoldSideBySide)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_GT(bench.commit({"mkdir", "trunk", "mkdir", "branches", "put", "@one", "trunk/a",
                            "mkdir", "branches/releases"}), 0);
    ASSERT_GT(bench.commit({"cp", "1", "trunk", "branches/releases/1.0", "cp", "1", "trunk",
                            "branches/main"}), 0);
    ASSERT_GT(bench.commit({"put", "@two", "branches/main/a", "put", "@three", "trunk/a"}), 0);
    bool problems = false;
    const QJsonObject check = checkRules(bench,
                                         "create repository r\nend repository\n"
                                         "match /trunk/\n  repository r\n  branch main\n"
                                         "end match\n"
                                         "match /branches/releases/([^/]+)/\n"
                                         "  repository r\n  branch main/\\1\nend match\n"
                                         "match /branches/([^/]+)/\n  repository r\n"
                                         "  branch \\1\nend match\n"
                                         "match /\nend match\n",
                                         &problems);
    EXPECT_TRUE(problems);
    const QJsonArray refs = check.value("sharedRefs").toArray();
    ASSERT_EQ(refs.size(), 1);
    EXPECT_EQ(refs.at(0).toObject().value("branch").toString(), "main");
    EXPECT_EQ(strings(refs.at(0).toObject().value("paths").toArray(), "path"),
              QStringList({"/branches/main/", "/trunk/"}));
    EXPECT_EQ(strings(check.value("clashingRefs").toArray()),
              QStringList({"r: refs/heads/main and refs/heads/main/1.0"}));
    EXPECT_EQ(check.value("unusedRules").toArray(), QJsonArray());
    EXPECT_FALSE(check.value("exportsNothing").toBool());
}

// Rules that leave everything out: the check lists what the last rule drops.
TEST(RulesCheckTest, TellsWhenTheRulesExportNothing)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_GT(bench.commit({"put", "@one", "read me.txt", "mkdir", "src dir", "put", "@two",
                            "src dir/a b.c"}), 0);
    ASSERT_GT(bench.commit({"cp", "1", "src dir", "src copy", "put", "@three", "read me.txt"}), 0);
    bool problems = false;
    const QJsonObject check = checkRules(
            bench, "create repository r\nend repository\nmatch /\nend match\n", &problems);
    EXPECT_TRUE(problems);
    EXPECT_TRUE(check.value("exportsNothing").toBool());
    EXPECT_EQ(strings(check.value("leftOut").toArray(), "directory"),
              QStringList({"/", "/src copy", "/src dir"}));
}

TEST(IdentitySkeletonTest, MapsEveryAuthorOnceAndTellsOfRevisionsWithoutOne)
{
    QMap<QByteArray, HistorySurvey::Author> authors;
    authors.insert("", {2, 3, 7});
    authors.insert("Jane Doe <jane@example.org>", {1, 2, 2});
    authors.insert("alice", {4, 1, 9});
    authors.insert("Bob Smith", {1, 5, 5});
    authors.insert("two\nlines", {1, 6, 6});
    authors.insert("<odd>", {1, 8, 8});
    EXPECT_EQ(IdentitySkeleton::write(authors, "example.org"),
              "# 2 revisions have no author (r3 to r7): they get the identity nobody "
              "<nobody@localhost>\n"
              "<odd> = _odd_ <_odd_@example.org>\n"
              "Bob Smith = Bob Smith <Bob.Smith@example.org>\n"
              "Jane Doe <jane@example.org> = Jane Doe <jane@example.org>\n"
              "alice = alice <alice@example.org>\n");
    authors.insert("", {1, 3, 3});
    EXPECT_TRUE(IdentitySkeleton::write(authors, "example.org")
                        .startsWith("# r3 has no author: it gets the identity nobody "
                                    "<nobody@localhost>\n"));
}
