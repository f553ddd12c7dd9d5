// tallowmere-survey end to end: starter rules that convert without a stop
// and pass the rules check, a check that fails on incomplete rules, the
// identity skeleton, the merge and line-end counts of svn-made histories.

#include "E2eBench.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

TestSupport::CommandResult survey(const QStringList &arguments)
{
    const auto result = TestSupport::run(QStringLiteral(TALLOWMERE_SURVEY_BINARY), arguments);
    EXPECT_FALSE(result.crashed) << result.standardError.constData();
    return result;
}

bool parsesAsJson(const QByteArray &text)
{
    return TestSupport::run(QStringLiteral("python3"),
                            {QStringLiteral("-m"), QStringLiteral("json.tool")}, QString(), text)
                   .exitCode
            == 0;
}

QStringList svnlook(const E2eBench &bench, const QStringList &arguments)
{
    const auto result = TestSupport::run(QStringLiteral("svnlook"),
                                         QStringList{arguments.first(), bench.repositoryPath()}
                                                 + arguments.mid(1));
    EXPECT_EQ(result.exitCode, 0) << result.standardError.constData();
    return QString::fromUtf8(result.standardOutput).split('\n', Qt::SkipEmptyParts);
}

// The files of a git ref equal those of a Subversion directory at the
// youngest revision, by name and content.
void expectSameTree(E2eBench &bench, const QString &repository, const QString &ref,
                    const QString &svnDirectory)
{
    QStringList svnFiles;
    for (const QString &line : svnlook(bench, {"tree", "--full-paths", svnDirectory})) {
        if (!line.endsWith('/'))
            svnFiles.append(line.mid(svnDirectory.size()));
    }
    svnFiles.sort();
    QStringList gitFiles;
    for (const QString &line : bench.tree(repository, ref))
        gitFiles.append(line.section(' ', 0, -2));
    gitFiles.sort();
    ASSERT_EQ(gitFiles, svnFiles) << repository.toStdString() << " " << ref.toStdString();
    for (const QString &file : svnFiles) {
        const QByteArray svnContent = TestSupport::run(
                QStringLiteral("svnlook"), {QStringLiteral("cat"), bench.repositoryPath(),
                                            svnDirectory + file}).standardOutput;
        EXPECT_EQ(bench.fileAt(repository, ref, file), svnContent) << file.toStdString();
    }
}

bool haveTools()
{
    return TestSupport::requireTool(QStringLiteral("svnmucc"))
            && TestSupport::requireTool(QStringLiteral("svnlook"))
            && TestSupport::requireTool(QStringLiteral("git"))
            && TestSupport::requireTool(QStringLiteral("python3"));
}

} // namespace

TEST(SurveyTest, StarterRulesConvertASingleProjectAndTheCheckFindsEveryProblem)
{
    if (!haveTools())
        return;
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_GT(bench.commit({"mkdir", "trunk", "mkdir", "branches", "mkdir", "tags", "put",
                            "@one", "trunk/a.txt"}, "start", "alice"), 0);
    ASSERT_GT(bench.commit({"cp", "1", "trunk", "branches/my fix"}, "branch", "bob"), 0);
    ASSERT_GT(bench.commit({"put", "@two", "branches/my fix/b.txt"}, "fix", "bob"), 0);
    ASSERT_GT(bench.commit({"cp", "2", "trunk", "tags/release 1.0"}, "tag", "carol"), 0);
    ASSERT_GT(bench.commit({"cp", "3", "branches/my fix", "tags/v2"}, "tag", "alice"), 0);
    ASSERT_GT(bench.commit({"put", "@three", "trunk/a.txt"}, "more", "alice"), 0);

    const QString rules = bench.path("starter.rules");
    const QString identities = bench.path("authors.txt");
    auto result = survey({"--write-rules", rules, "--write-identities", identities,
                          "--identity-domain", "example.org", "--json",
                          bench.repositoryPath()});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
    EXPECT_TRUE(parsesAsJson(result.standardOutput));

    // The starter rules convert the whole history; every branch equals Subversion.
    result = bench.convert({"--rules", rules, "--identity-map", identities});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
    const QString repository = QDir(bench.repositoryPath()).dirName();
    expectSameTree(bench, repository, "master", "/trunk/");
    expectSameTree(bench, repository, "my_fix", "/branches/my fix/");
    expectSameTree(bench, repository, "refs/tags/release_1.0", "/tags/release 1.0/");
    expectSameTree(bench, repository, "refs/tags/v2", "/tags/v2/");

    // With complete rules the check passes.
    result = survey({"--check-rules", rules, bench.repositoryPath()});
    EXPECT_EQ(result.exitCode, 0) << result.standardOutput.constData();

    // Rules without the tags: every tag directory is listed; the refused
    // branch name comes with its rule.
    const QString partial = bench.writeRules("partial.rules",
                                             "create repository r\nend repository\n"
                                             "match /trunk/\n  repository r\n  branch master\n"
                                             "end match\n"
                                             "match /branches/([^/]+)/\n  repository r\n"
                                             "  branch \\1\nend match\n"
                                             "match /nowhere/\nend match\n");
    result = survey({"--check-rules", partial, bench.repositoryPath()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.standardOutput.contains("\"my fix\" from rule")) << result.standardOutput.constData();
}

TEST(SurveyTest, StarterRulesConvertAMultiProjectLayout)
{
    if (!haveTools())
        return;
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_GT(bench.commit({"mkdir", "projA", "mkdir", "projA/trunk", "mkdir", "projA/tags",
                            "mkdir", "projB", "mkdir", "projB/trunk", "mkdir", "projB/branches",
                            "put", "@a", "projA/trunk/a.txt", "put", "@b", "projB/trunk/b.txt",
                            "put", "@top", "README"}), 0);
    ASSERT_GT(bench.commit({"cp", "1", "projA/trunk", "projA/tags/v 1"}), 0);
    ASSERT_GT(bench.commit({"cp", "1", "projB/trunk", "projB/branches/b1"}), 0);
    ASSERT_GT(bench.commit({"put", "@b2", "projB/branches/b1/b.txt", "put", "@top2", "README"}),
              0);

    const QString rules = bench.path("starter.rules");
    auto result = survey({"--write-rules", rules, bench.repositoryPath()});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
    EXPECT_TRUE(result.standardOutput.contains("/projA: tags, trunk"))
            << result.standardOutput.constData();
    result = survey({"--check-rules", rules, bench.repositoryPath()});
    EXPECT_EQ(result.exitCode, 0) << result.standardOutput.constData();

    result = bench.convert({"--rules", rules});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
    expectSameTree(bench, "projA", "master", "/projA/trunk/");
    expectSameTree(bench, "projA", "refs/tags/v_1", "/projA/tags/v 1/");
    expectSameTree(bench, "projB", "master", "/projB/trunk/");
    expectSameTree(bench, "projB", "b1", "/projB/branches/b1/");
}

TEST(SurveyTest, StarterRulesConvertAHistoryWithoutLayoutAndKeepWholeIdentities)
{
    if (!haveTools())
        return;
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_GT(bench.commit({"put", "@one", "read me.txt", "mkdir", "src dir", "put", "@two",
                            "src dir/a b.c"}), 0);
    ASSERT_GT(bench.commit({"cp", "1", "src dir", "src copy", "put", "@three", "read me.txt"},
                           "copy", "Jane Doe <jane@example.org>"), 0);
    const int anonymous = bench.commit({"put", "@four", "src copy/x"});
    ASSERT_GT(anonymous, 0);
    ASSERT_EQ(TestSupport::run(QStringLiteral("svnadmin"),
                               {"delrevprop", bench.repositoryPath(), "-r",
                                QString::number(anonymous), "svn:author"}).exitCode, 0);

    const QString rules = bench.path("starter.rules");
    const QString identities = bench.path("authors.txt");
    auto result = survey({"--write-rules", rules, "--write-identities", identities,
                          "--identity-domain", "example.org", bench.repositoryPath()});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
    EXPECT_TRUE(result.standardOutput.contains(
            "no trunk, branches or tags directory: the starter rules convert the whole "
            "repository into one branch")) << result.standardOutput.constData();
    EXPECT_EQ(TestSupport::readFile(identities),
              "# r3 has no author: it gets the identity nobody <nobody@localhost>\n"
              "Jane Doe <jane@example.org> = Jane Doe <jane@example.org>\n"
              "alice = alice <alice@example.org>\n");
    result = survey({"--check-rules", rules, bench.repositoryPath()});
    EXPECT_EQ(result.exitCode, 0) << result.standardOutput.constData();

    result = bench.convert({"--rules", rules, "--identity-map", identities});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
    const QString repository = QDir(bench.repositoryPath()).dirName();
    expectSameTree(bench, repository, "master", "/");
    EXPECT_EQ(bench.git(repository, {"log", "-1", "--skip=1", "--format=%an <%ae>"}),
              "Jane Doe <jane@example.org>\n");
}

TEST(SurveyTest, StarterRulesGiveEveryBranchItsOwnRef)
{
    if (!haveTools())
        return;
    // Trunk goes to the default branch git is configured with.
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    const QByteArray savedConfig = qgetenv("GIT_CONFIG_GLOBAL");
    const QString config = bench.path("gitconfig");
    TestSupport::writeFile(config, "[init]\n\tdefaultBranch = main\n");
    qputenv("GIT_CONFIG_GLOBAL", QFile::encodeName(config));
    struct Restore
    {
        QByteArray value;
        ~Restore()
        {
            if (value.isNull())
                qunsetenv("GIT_CONFIG_GLOBAL");
            else
                qputenv("GIT_CONFIG_GLOBAL", value);
        }
    } restore{savedConfig};

    ASSERT_GT(bench.commit({"mkdir", "trunk", "mkdir", "branches", "mkdir", "tags", "put", "@one",
                            "trunk/a", "mkdir", "branches/releases"}), 0);
    ASSERT_GT(bench.commit({"cp", "1", "trunk", "branches/releases/1.0"}), 0);
    ASSERT_GT(bench.commit({"put", "@two", "trunk/a", "cp", "2", "trunk", "branches/releases/2.0",
                            "cp", "2", "trunk", "branches/main"}), 0);
    ASSERT_GT(bench.commit({"put", "@three", "branches/main/a", "put", "@b",
                            "branches/releases/1.0/b", "cp", "3", "trunk", "elsewhere"}), 0);
    ASSERT_GT(bench.commit({"mkdir", "proj", "mkdir", "proj/trunk", "put", "@p", "proj/trunk/p",
                            "put", "@e", "elsewhere/e"}), 0);
    ASSERT_GT(bench.commit({"cp", "5", "proj", "proj copy", "cp", "4", "branches/releases/1.0",
                            "tags/rel-1.0"}), 0);
    ASSERT_GT(bench.commit({"put", "@q", "proj copy/trunk/q", "put", "@four", "trunk/a"}), 0);

    const QString rules = bench.path("starter.rules");
    auto result = survey({"--write-rules", rules, "--json", bench.repositoryPath()});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
    // The copy of the project directory made its trunk.
    QJsonArray copiedTrunkMade;
    for (const QJsonValue &value :
         QJsonDocument::fromJson(result.standardOutput).object().value("candidates").toArray()) {
        const QJsonObject candidate = value.toObject();
        if (candidate.value("path").toString() == "/proj copy/trunk")
            copiedTrunkMade = candidate.value("createdRevisions").toArray();
    }
    EXPECT_EQ(copiedTrunkMade, QJsonArray({6}));
    result = survey({"--check-rules", rules, bench.repositoryPath()});
    EXPECT_EQ(result.exitCode, 0) << result.standardOutput.constData();

    result = bench.convert({"--rules", rules});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();
    const QString repository = QDir(bench.repositoryPath()).dirName();
    QStringList refNames;
    for (const QString &line : bench.refs(repository))
        refNames.append(line.section(' ', 0, 0));
    EXPECT_EQ(refNames,
              QStringList({"refs/heads/branches-main", "refs/heads/elsewhere", "refs/heads/main",
                           "refs/heads/releases/1.0", "refs/heads/releases/2.0",
                           "refs/tags/rel-1.0"}));
    expectSameTree(bench, repository, "main", "/trunk/");
    expectSameTree(bench, repository, "branches-main", "/branches/main/");
    expectSameTree(bench, repository, "releases/1.0", "/branches/releases/1.0/");
    expectSameTree(bench, repository, "releases/2.0", "/branches/releases/2.0/");
    expectSameTree(bench, repository, "elsewhere", "/elsewhere/");
    expectSameTree(bench, repository, "refs/tags/rel-1.0", "/tags/rel-1.0/");
    expectSameTree(bench, "proj", "main", "/proj/trunk/");
    expectSameTree(bench, "proj_copy", "main", "/proj copy/trunk/");
}

// The merges of real "svn merge" runs, counted as --svn-mergeinfo would
// convert them, in the text and in the JSON report.
TEST(SurveyTest, CountsWhatSvnMergeinfoWouldMakeOfTheMerges)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("svn")));
    const auto made = bench.makeHistory(QStringLiteral("make-merge-history"));
    ASSERT_EQ(made.exitCode, 0) << made.standardError.constData();

    const auto text = survey({bench.repositoryPath()});
    ASSERT_EQ(text.exitCode, 0) << text.standardError.constData();
    EXPECT_TRUE(text.standardOutput.contains(
            "  With --svn-mergeinfo: 6 would become git merges; 3 partial (cherry-picks) and 4 "
            "of subdirectories would stay plain commits:\n"
            "    /branches/b1 from /branches/b2: 0 merges, 1 partial, 1 subtree\n"
            "    /branches/b1 from /trunk: 2 merges, 0 partial, 1 subtree\n"
            "    /branches/b2 from /trunk: 1 merges, 0 partial, 0 subtree\n"
            "    /trunk from /branches/b1: 2 merges, 1 partial, 1 subtree\n"
            "    /trunk from /branches/b2: 1 merges, 1 partial, 1 subtree\n"
            "  Recommended: convert with --svn-mergeinfo"))
            << text.standardOutput.constData();

    const auto json = survey({QStringLiteral("--json"), bench.repositoryPath()});
    const QJsonArray merges =
            QJsonDocument::fromJson(json.standardOutput).object().value("mergeinfoMerges").toArray();
    ASSERT_EQ(merges.size(), 5);
    EXPECT_EQ(merges.at(3).toObject(),
              QJsonObject({{"target", "/trunk"}, {"source", "/branches/b1"}, {"merges", 2},
                           {"partial", 1}, {"subtree", 1}}));
}

// Files counted by line-end style and binary mime type, with the advice to
// carry them over, and the properties nothing carries over.
TEST(SurveyTest, CountsLineEndStylesAndBinaryFiles)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_TRUE(TestSupport::requireTool(QStringLiteral("svn")));
    const auto made = bench.makeHistory(QStringLiteral("make-attribute-history"));
    ASSERT_EQ(made.exitCode, 0) << made.standardError.constData();

    const auto text = survey({bench.repositoryPath()});
    ASSERT_EQ(text.exitCode, 0) << text.standardError.constData();
    EXPECT_TRUE(text.standardOutput.contains(
            "Line ends and binary files (files that carried the property):\n"
            "  svn:eol-style CR: 1 (git cannot express it: these files get no attribute line)\n"
            "  svn:eol-style CRLF: 6\n"
            "  svn:eol-style LF: 1\n"
            "  svn:eol-style native: 2\n"
            "  binary svn:mime-type: 2\n"
            "  Recommended: convert with --svn-attributes"))
            << text.standardOutput.constData();
    EXPECT_TRUE(text.standardOutput.contains("  svn:keywords (not converted): 1\n"
                                             "  svn:needs-lock (not converted): 1\n"));
}
