#include "RulesTestSupport.h"

#include "driver/RuleStatistics.h"
#include "rules/RulesFile.h"
#include "rules/RulesFileSet.h"

#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using TestSupport::MessageCapture;

namespace {

class RulesLoader : public testing::Test
{
protected:
    void SetUp() override { useStatistics(false); }

    void useStatistics(bool enabled) { statistics = std::make_unique<RuleStatistics>(enabled); }

    std::unique_ptr<RulesFile> load(const QString &name)
    {
        auto file = std::make_unique<RulesFile>(name, statistics.get());
        const Status loaded = file->load();
        EXPECT_TRUE(loaded.ok()) << loaded.failure().message().toStdString();
        return file;
    }

    QStringList summaries(const QList<MatchRule> &rules)
    {
        QStringList result;
        for (const MatchRule &rule : rules)
            result.append(rule.summary());
        return result;
    }

    RulesTest::RulesDirectory directory;
    std::unique_ptr<RuleStatistics> statistics;
};

} // namespace

TEST_F(RulesLoader, CommentsBlankLinesAndLineEndings)
{
    directory.write("only.rules", "# nothing but comments\n\n   \n\t# indented comment\n");
    auto empty = load("only.rules");
    EXPECT_TRUE(empty->repositoryRules().isEmpty());
    EXPECT_TRUE(empty->matchRules().isEmpty());
    EXPECT_EQ(empty->fileName(), "only.rules");

    directory.write("crlf.rules", "match /trunk/ # main line\r\n  repository proj\r\n\tbranch master\r\nend match\r\n");
    auto crlf = load("crlf.rules");
    ASSERT_EQ(crlf->matchRules().size(), 1);
    const MatchRule &rule = crlf->matchRules().first();
    EXPECT_EQ(rule.pattern.pattern(), "/trunk/");
    EXPECT_EQ(rule.repository, "proj");
    EXPECT_EQ(rule.branch, "master");
    EXPECT_EQ(rule.summary(), "crlf.rules:1 /trunk/");

    // A byte order mark is not part of the first line.
    directory.write("bom.rules", "\xEF\xBB\xBFmatch /bom/\nend match\n");
    auto bom = load("bom.rules");
    ASSERT_EQ(bom->matchRules().size(), 1);
    EXPECT_EQ(bom->matchRules().first().pattern.pattern(), "/bom/");
}

// As with --rules <(generate-rules): the writer may not have written yet.
TEST_F(RulesLoader, RulesFromAPipe)
{
    ASSERT_EQ(mkfifo("pipe.rules", 0600), 0);
    const pid_t writer = fork();
    if (writer == 0) {
        QFile pipe(QStringLiteral("pipe.rules"));
        pipe.open(QIODevice::WriteOnly);
        sleep(1);
        pipe.write("match /piped/\nend match\n");
        pipe.close();
        _exit(0);
    }
    auto piped = load("pipe.rules");
    waitpid(writer, nullptr, 0);
    ASSERT_EQ(piped->matchRules().size(), 1);
    EXPECT_EQ(piped->matchRules().first().pattern.pattern(), "/piped/");
}

TEST_F(RulesLoader, RepositoryBlocks)
{
    directory.write("repos.rules",
                    "create repository proj\n"
                    "  description The main   project\n"
                    "  branch master\n"
                    "  branch stable\n"
                    "  prefix /src\n"
                    "end repository\n"
                    "\n"
                    "create repository fwd\n"
                    "  repository proj\n"
                    "  prefix /sub/dir\n"
                    "end repository\n"
                    "Create Repository kde/Shout\n"
                    "end repository\n");
    auto file = load("repos.rules");
    const QList<RepositoryRule> &rules = file->repositoryRules();
    ASSERT_EQ(rules.size(), 3);

    EXPECT_EQ(rules[0].name, "proj");
    EXPECT_EQ(rules[0].rulesFile, "repos.rules");
    EXPECT_EQ(rules[0].lineNumber, 1);
    EXPECT_EQ(rules[0].description, "The main   project");
    ASSERT_EQ(rules[0].branches.size(), 2);
    EXPECT_EQ(rules[0].branches[0].name, "master");
    EXPECT_EQ(rules[0].branches[1].name, "stable");
    // A repository block keeps its prefix as written.
    EXPECT_EQ(rules[0].prefix, "/src");
    EXPECT_TRUE(rules[0].targetName.isEmpty());

    EXPECT_EQ(rules[1].name, "fwd");
    EXPECT_EQ(rules[1].lineNumber, 8);
    EXPECT_EQ(rules[1].targetName, "proj");
    EXPECT_EQ(rules[1].prefix, "/sub/dir");
    EXPECT_TRUE(rules[1].description.isEmpty());
    EXPECT_TRUE(rules[1].branches.isEmpty());

    EXPECT_EQ(rules[2].name, "kde/Shout");
    EXPECT_EQ(rules[2].lineNumber, 12);
}

TEST_F(RulesLoader, MatchBlockFields)
{
    directory.write("match.rules",
                    "match /trunk/\n"                 // 1
                    "  repository proj\n"
                    "  branch master\n"
                    "  prefix /src\n"
                    "  min revision 5\n"              // 5
                    "  max revision 10\n"
                    "  annotated true\n"
                    "  substitute repository s/p/q/\n"
                    "  substitute repository s/q/r/\n"
                    "  substitute branch s,-,_,\n"   // 10
                    "  action ignore\n"
                    "end match\n"
                    "match /tags/([^/]+)/\n"          // 13
                    "  prefix //src\n"
                    "  MIN revision 7\n"              // 15
                    "  action recurse\n"
                    "  annotated TRUE\n"
                    "end match\n"
                    "match /ignored/\n"               // 19
                    "end match\n"                     // 20
                    "match /exported/\n"              // 21
                    "  action export\n"
                    "end match\n"
                    "match /big/\n"                   // 24
                    "  min revision 2147483647\n"
                    "  Max revision 3\n"
                    "end match\n");
    auto file = load("match.rules");
    const QList<MatchRule> &rules = file->matchRules();
    ASSERT_EQ(rules.size(), 5);

    const MatchRule &trunk = rules[0];
    EXPECT_EQ(trunk.lineNumber, 1);
    EXPECT_EQ(trunk.rulesFile, "match.rules");
    EXPECT_EQ(trunk.repository, "proj");
    EXPECT_EQ(trunk.branch, "master");
    EXPECT_EQ(trunk.prefix, "src");
    EXPECT_EQ(trunk.minRevision, 5);
    EXPECT_EQ(trunk.maxRevision, 10);
    EXPECT_TRUE(trunk.annotated);
    // A repository line exports whatever the action line said.
    EXPECT_EQ(trunk.action, RuleAction::Export);
    ASSERT_EQ(trunk.repositorySubstitutions.size(), 2);
    EXPECT_EQ(trunk.repositorySubstitutions[0].apply("pp"), "qq");
    EXPECT_EQ(trunk.repositorySubstitutions[1].regexp.pattern(), "q");
    ASSERT_EQ(trunk.branchSubstitutions.size(), 1);
    EXPECT_EQ(trunk.branchSubstitutions[0].apply("rel-1-2"), "rel_1_2");
    EXPECT_EQ(trunk.pattern.patternSyntax(), QRegExp::RegExp2);
    EXPECT_EQ(trunk.pattern.caseSensitivity(), Qt::CaseSensitive);

    const MatchRule &tags = rules[1];
    EXPECT_EQ(tags.lineNumber, 13);
    EXPECT_EQ(tags.pattern.pattern(), "/tags/([^/]+)/");
    EXPECT_EQ(tags.prefix, "/src");
    // Only the exact word "min" sets the lower bound.
    EXPECT_EQ(tags.minRevision, -1);
    EXPECT_EQ(tags.maxRevision, 7);
    EXPECT_EQ(tags.action, RuleAction::Recurse);
    EXPECT_FALSE(tags.annotated);

    const MatchRule &ignored = rules[2];
    EXPECT_EQ(ignored.action, RuleAction::Ignore);
    EXPECT_EQ(ignored.minRevision, -1);
    EXPECT_EQ(ignored.maxRevision, -1);
    EXPECT_FALSE(ignored.annotated);
    EXPECT_TRUE(ignored.repository.isEmpty());
    EXPECT_TRUE(ignored.branch.isEmpty());
    EXPECT_TRUE(ignored.prefix.isEmpty());
    EXPECT_TRUE(ignored.repositorySubstitutions.isEmpty());

    EXPECT_EQ(rules[3].action, RuleAction::Export);
    EXPECT_TRUE(rules[3].repository.isEmpty());

    // The largest revision number is still a bound (beyond it the line is malformed).
    EXPECT_EQ(rules[4].minRevision, 2147483647);
    EXPECT_EQ(rules[4].maxRevision, 3);
}

TEST_F(RulesLoader, KeywordsIgnoreCaseButPatternsDoNot)
{
    directory.write("case.rules",
                    "MATCH /Trunk/\n"
                    "  REPOSITORY proj\n"
                    "  Branch Main\n"
                    "  PREFIX /x\n"
                    "  Substitute Branch s/M/m/\n"
                    "  ACTION ignore\n"
                    "end match\n"
                    "Declare Name=value\n");
    auto file = load("case.rules");
    ASSERT_EQ(file->matchRules().size(), 1);
    const MatchRule &rule = file->matchRules().first();
    EXPECT_EQ(rule.repository, "proj");
    EXPECT_EQ(rule.branch, "Main");
    EXPECT_EQ(rule.prefix, "x");
    EXPECT_EQ(rule.branchSubstitutions.first().apply("Main"), "main");
    EXPECT_FALSE(rule.pattern.exactMatch("/trunk/"));
    EXPECT_TRUE(rule.pattern.exactMatch("/Trunk/"));
    EXPECT_EQ(file->variables().value("Name"), "value");
}

TEST_F(RulesLoader, ExtraBlanksAfterAKeywordDoNotBecomePartOfTheText)
{
    // Rules are often aligned with several blanks after the keyword.
    directory.write("blanks.rules",
                    "create repository   proj\n"
                    "  description   text\n"
                    "  prefix   /src\n"
                    "end repository\n"
                    "match   /trunk/\n"
                    "  repository   proj\n"
                    "  prefix  /src\n"
                    "  action   export\n"
                    "end match\n");
    auto file = load("blanks.rules");
    ASSERT_EQ(file->repositoryRules().size(), 1);
    EXPECT_EQ(file->repositoryRules()[0].name, "proj");
    EXPECT_EQ(file->repositoryRules()[0].description, "text");
    EXPECT_EQ(file->repositoryRules()[0].prefix, "/src");
    ASSERT_EQ(file->matchRules().size(), 1);
    EXPECT_EQ(file->matchRules()[0].pattern.pattern(), "/trunk/");
    EXPECT_EQ(file->matchRules()[0].repository, "proj");
    EXPECT_EQ(file->matchRules()[0].prefix, "src");
}

TEST_F(RulesLoader, VariablesWithDefaultsAndRedeclaration)
{
    directory.write("vars.rules",
                    "declare NUM=1\n"
                    "declare B=${NUM}x\n"
                    "declare spaced   =   value\n"
                    "match /r${NUM}/${B}/${W|dflt}/${E|}/${NUM}/${P|a|b}\n"
                    "  repository ${spaced}\n"
                    "  declare NUM=2\n"
                    "  branch b${NUM}\n"
                    "end match\n"
                    "declare num=lower\n"
                    "match /${num}/${NUM}/\n"
                    "end match\n");
    auto file = load("vars.rules");
    ASSERT_EQ(file->matchRules().size(), 2);
    EXPECT_EQ(file->matchRules()[0].pattern.pattern(), "/r1/1x/dflt//1/a|b");
    EXPECT_EQ(file->matchRules()[0].repository, "value");
    // A declaration inside a block leaves it open and takes effect at once.
    EXPECT_EQ(file->matchRules()[0].branch, "b2");
    EXPECT_EQ(file->matchRules()[1].pattern.pattern(), "/lower/2/");

    QMap<QString, QString> expected;
    expected.insert("NUM", "2");
    expected.insert("B", "1x");
    expected.insert("spaced", "value");
    expected.insert("num", "lower");
    EXPECT_EQ(file->variables(), expected);
}

TEST_F(RulesLoader, IncludesAreRelativeToTheIncludingFile)
{
    directory.write("conf/main.rules",
                    "declare REPO=proj\n"               // 1
                    "create repository proj\n"
                    "end repository\n"
                    "match /first/\n"                   // 4
                    "  include common.rules\n"
                    "  repository ${REPO}\n"
                    "end match\n"
                    "include sub/nested.rules\n"        // 8
                    "match /last/${INNER}/\n"           // 9
                    "end match\n");
    directory.write("conf/common.rules", "# shared\nmatch /common/\nend match\n");
    directory.write("conf/sub/nested.rules",
                    "declare INNER=deep\n"
                    "include leaf.rules\n"
                    "create repository nested\n"
                    "end repository\n");
    directory.write("conf/sub/leaf.rules", "match /leaf/\nend match\n");

    MessageCapture messages;
    auto file = load("conf/main.rules");
    EXPECT_EQ(summaries(file->matchRules()),
              QStringList({"conf/common.rules:2 /common/", "conf/main.rules:4 /first/", "conf/sub/leaf.rules:1 /leaf/",
                           "conf/main.rules:9 /last/deep/"}));
    // The block around the include goes on after it.
    EXPECT_EQ(file->matchRules()[1].repository, "proj");
    ASSERT_EQ(file->repositoryRules().size(), 2);
    EXPECT_EQ(file->repositoryRules()[1].name, "nested");
    EXPECT_EQ(file->repositoryRules()[1].rulesFile, "conf/sub/nested.rules");
    EXPECT_EQ(file->repositoryRules()[1].lineNumber, 3);
    EXPECT_EQ(messages.all(), QStringList({"D: Loading rules from \"conf/main.rules\"",
                                           "D: Loading rules from \"conf/common.rules\"",
                                           "D: Loading rules from \"conf/sub/nested.rules\"",
                                           "D: Loading rules from \"conf/sub/leaf.rules\""}));
}

TEST_F(RulesLoader, IncludeNamesAreTakenLiterallyAndMayRepeat)
{
    // A top-level name without a directory includes names as written; the
    // include line is not subject to variable replacement.
    directory.write("top.rules",
                    "declare X=unused\n"
                    "include inc/x.rules\n"
                    "include ${X}.rules\n"
                    "include inc/x.rules\n");
    directory.write("inc/x.rules", "match /x/\nend match\n");
    directory.write("${X}.rules", "match /literal/\nend match\n");
    auto file = load("top.rules");
    EXPECT_EQ(summaries(file->matchRules()),
              QStringList({"inc/x.rules:1 /x/", "${X}.rules:1 /literal/", "inc/x.rules:1 /x/"}));
}

TEST_F(RulesLoader, OpenBlocksAreDroppedSilently)
{
    directory.write("drop.rules",
                    "match /dropped/\n"
                    "match /kept/\n"
                    "end match\n"
                    "create repository gone\n"
                    "match /after-repository/\n"
                    "end match\n"
                    "match /unfinished/\n"
                    "create repository r\n"
                    "end repository\n"
                    "create repository restarted\n"
                    "create repository second\n"
                    "end repository\n"
                    "match /at-end-of-file/\n");
    MessageCapture messages;
    auto file = load("drop.rules");
    EXPECT_EQ(summaries(file->matchRules()), QStringList({"drop.rules:2 /kept/", "drop.rules:5 /after-repository/"}));
    ASSERT_EQ(file->repositoryRules().size(), 2);
    EXPECT_EQ(file->repositoryRules()[0].name, "r");
    EXPECT_EQ(file->repositoryRules()[1].name, "second");
    EXPECT_TRUE(messages.warnings().isEmpty());
}

TEST_F(RulesLoader, RuleSetKeepsOneMatchListPerNamedFile)
{
    directory.write("a.rules", "create repository a1\nend repository\nmatch /a/\nend match\n");
    directory.write("b.rules", "create repository b1\nend repository\ncreate repository b2\nend repository\n"
                               "match /b/\nend match\nmatch /b2/\nend match\n");
    directory.write("c.rules", "# empty\n");
    MessageCapture messages;
    RulesFileSet set("a.rules,b.rules,c.rules");
    ASSERT_TRUE(set.load().ok());

    QStringList repositoryNames;
    for (const RepositoryRule &rule : set.repositoryRules())
        repositoryNames.append(rule.name);
    EXPECT_EQ(repositoryNames, QStringList({"a1", "b1", "b2"}));

    const QList<QList<MatchRule>> lists = set.matchRuleLists();
    ASSERT_EQ(lists.size(), 3);
    EXPECT_EQ(summaries(lists[0]), QStringList({"a.rules:3 /a/"}));
    EXPECT_EQ(summaries(lists[1]), QStringList({"b.rules:5 /b/", "b.rules:7 /b2/"}));
    EXPECT_TRUE(lists[2].isEmpty());

    EXPECT_EQ(messages.all(), QStringList({"D: Loading rules from: \"a.rules\"", "D: Loading rules from \"a.rules\"",
                                           "D: Loading rules from: \"b.rules\"", "D: Loading rules from \"b.rules\"",
                                           "D: Loading rules from: \"c.rules\"", "D: Loading rules from \"c.rules\""}));
}

TEST_F(RulesLoader, CompletedMatchBlocksAreRegisteredWithTheStatistics)
{
    useStatistics(true);
    directory.write("main.rules", "match /main/\nend match\ninclude inc.rules\ninclude inc.rules\nmatch /open/\n");
    directory.write("inc.rules", "match /one/\nend match\nmatch /two/\nend match\n");

    MessageCapture messages;
    load("main.rules");
    EXPECT_EQ(messages.warnings(), QStringList({"WARN: Rule \"inc.rules:1 /one/\" was added multiple times.",
                                                "WARN: Rule \"inc.rules:3 /two/\" was added multiple times."}));

    const QByteArray report = TestSupport::captureStdout([this] { statistics->printReport(); });
    EXPECT_EQ(report.toStdString(), "\nRule stats\n"
                                    "inc.rules:1 /one/ was matched 0 times\n"
                                    "inc.rules:3 /two/ was matched 0 times\n"
                                    "main.rules:1 /main/ was matched 0 times\n");
}

TEST_F(RulesLoader, DisabledStatisticsSeeNoRegistration)
{
    directory.write("main.rules", "match /main/\nend match\ninclude inc.rules\ninclude inc.rules\n");
    directory.write("inc.rules", "match /one/\nend match\n");
    MessageCapture messages;
    load("main.rules");
    EXPECT_TRUE(messages.warnings().isEmpty());
    const QByteArray report = TestSupport::captureStdout([this] { statistics->printReport(); });
    EXPECT_TRUE(report.isEmpty());
}

TEST(RulesLoaderWithoutCounter, LoadsWithoutAnyCounter)
{
    RulesTest::RulesDirectory directory;
    directory.write("main.rules", "match /main/\nend match\n");
    RulesFile file("main.rules");
    ASSERT_TRUE(file.load().ok());
    EXPECT_EQ(file.matchRules().size(), 1);
}
