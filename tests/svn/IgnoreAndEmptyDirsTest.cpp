#include "RecordingRepository.h"
#include "SvnTestBench.h"

#include <gtest/gtest.h>

namespace {

const QByteArray trunkRules = R"(
match /trunk/
  repository proj
  branch master
end match
)";

QStringList eventsOf(const RecordingRepository &repository, int revision)
{
    const auto records = repository.transactionsOf(revision);
    if (records.size() != 1)
        return {QStringLiteral("<%1 transactions>").arg(records.size())};
    return records.first()->events;
}

} // namespace

TEST(SvnIgnoreTranslation, IgnorePropertiesBecomeGitignoreTexts)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({"--svn-ignore"});
    ASSERT_EQ(bench.commit({"mkdir", "trunk",
                            "mkdir", "trunk/d", "propset", "svn:ignore",
                            "core\nbuild/out\n\n  tmp\n", "trunk/d",
                            "mkdir", "trunk/e", "propset", "svn:ignore", "a/b\nc\\d\n", "trunk/e",
                            "mkdir", "trunk/g", "propset", "svn:global-ignores", "tmp\n", "trunk/g",
                            "mkdir", "trunk/h", "propset", "svn:ignore", "**.o\n", "trunk/h",
                            "propset", "svn:global-ignores", "*.tmp**\n", "trunk/h",
                            "mkdir", "trunk/j", "propset", "svn:ignore", "x", "trunk/j",
                            "propset", "svn:global-ignores", "y\n", "trunk/j",
                            "mkdir", "trunk/k", "propset", "svn:ignore", "core\ntmp\n",
                            "trunk/k"}), 1);
    ASSERT_EQ(bench.commit({"propset", "svn:ignore", "only/slashes\n", "trunk/k"}), 2);

    QStringList log;
    RecordingRepository proj("proj", &log);
    ASSERT_EQ(bench.convert({bench.rules(trunkRules)}, {&proj}, 1, 2), 0);
    EXPECT_EQ(eventsOf(proj, 1),
              QStringList({"file d/.gitignore 100644 11", "remove e/.gitignore",
                           "file g/.gitignore 100644 4", "file h/.gitignore 100644 12",
                           "file j/.gitignore 100644 5", "file k/.gitignore 100644 11"}));
    const auto record = proj.transactionsOf(1).first();
    EXPECT_EQ(record->fileData("d/.gitignore"), QByteArray("/core\n/tmp\n\n"));
    EXPECT_EQ(record->fileData("g/.gitignore"), QByteArray("tmp\n\n"));
    EXPECT_EQ(record->fileData("h/.gitignore"), QByteArray("/*.o\n*.tmp*\n\n"));
    // Without a line break of its own, the last anchored pattern is kept
    // apart from the global ones.
    EXPECT_EQ(record->fileData("j/.gitignore"), QByteArray("/x\ny\n\n"));
    EXPECT_EQ(record->fileData("k/.gitignore"), QByteArray("/core\n/tmp\n\n"));
    // Nothing left to translate: the .gitignore goes.
    EXPECT_EQ(eventsOf(proj, 2), QStringList({"remove k/.gitignore"}));
}

TEST(SvnIgnoreTranslation, PlaceholdersComeAndGoWithEmptyDirs)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({"--empty-dirs", "--svn-ignore"});
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "trunk/docs", "put", "@a",
                            "trunk/docs/a", "put", "@t", "trunk/top"}), 1);
    ASSERT_EQ(bench.commit({"rm", "trunk/docs/a"}), 2);
    ASSERT_EQ(bench.commit({"put", "@b", "trunk/docs/b"}), 3);
    ASSERT_EQ(bench.commit({"mkdir", "trunk/emptydir"}), 4);
    ASSERT_EQ(bench.commit({"mkdir", "trunk/ig", "propset", "svn:ignore", "x\n", "trunk/ig"}), 5);
    ASSERT_EQ(bench.commit({"put", "@f", "trunk/ig/f"}), 6);
    ASSERT_EQ(bench.commit({"rm", "trunk/ig/f"}), 7);
    ASSERT_EQ(bench.commit({"mkdir", "trunk/new", "put", "@n", "trunk/new/f"}), 8);
    ASSERT_EQ(bench.commit({"rm", "trunk/top"}), 9);

    const QByteArray rules = trunkRules + R"(
match /tags/
  repository proj
  branch tags
  annotated true
end match
)";
    QStringList log;
    RecordingRepository proj("proj", &log);
    ASSERT_EQ(bench.convert({bench.rules(rules)}, {&proj}, 1, 9), 0);
    EXPECT_EQ(eventsOf(proj, 1), QStringList({"file docs/a 100644 1", "file top 100644 1"}));
    EXPECT_EQ(eventsOf(proj, 2),
              QStringList({"remove docs/a", "file docs/.gitignore 100644 0"}));
    EXPECT_EQ(proj.transactionsOf(2).first()->fileData("docs/.gitignore"), QByteArray("\n"));
    EXPECT_EQ(eventsOf(proj, 3), QStringList({"file docs/b 100644 1", "remove docs/.gitignore"}));
    EXPECT_EQ(eventsOf(proj, 4), QStringList({"file emptydir/.gitignore 100644 0"}));
    // A directory with ignore rules keeps its .gitignore and gets no placeholder.
    EXPECT_EQ(eventsOf(proj, 5), QStringList({"file ig/.gitignore 100644 3"}));
    EXPECT_EQ(eventsOf(proj, 6), QStringList({"file ig/f 100644 1"}));
    EXPECT_EQ(eventsOf(proj, 7), QStringList({"remove ig/f"}));
    // A directory that did not exist before has no placeholder to remove.
    EXPECT_EQ(eventsOf(proj, 8), QStringList({"file new/f 100644 1"}));
    EXPECT_EQ(eventsOf(proj, 9), QStringList({"remove top"}));
}

TEST(SvnIgnoreTranslation, PlaceholderOfAnEmptyTaggedDirectoryRecordsNoTag)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({"--empty-dirs", "--dry-run"});
    ASSERT_EQ(bench.commit({"mkdir", "release", "mkdir", "release/empty", "put", "@x",
                            "release/x"}), 1);
    QStringList log;
    RecordingRepository proj("proj", &log);
    ASSERT_EQ(bench.convert({bench.rules(R"(
match /release/
  repository proj
  branch master
  annotated true
end match
)")}, {&proj}, 1, 1), 0);
    EXPECT_EQ(eventsOf(proj, 1),
              QStringList({"file empty/.gitignore 100644 0", "file x 100644 1"}));
    // Dry run: announced, but not a byte written.
    for (const auto &file : proj.transactionsOf(1).first()->files)
        EXPECT_TRUE(file.second->data().isEmpty());
    // /release/ and /release/x record the tag, the placeholder does not.
    EXPECT_EQ(log.filter("recordAnnotatedTag").size(), 2);
}

TEST(SvnIgnoreTranslation, PropcheckWarnsOncePerUnknownProperty)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({"--svn-ignore", "--propcheck"});
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "trunk/p",
                            "propset", "svn:ignore", "x\n", "trunk/p",
                            "propset", "svn:mergeinfo", "/branches/b:1", "trunk/p",
                            "propset", "custom:thing", "value", "trunk/p",
                            "propset", "another:thing", "other", "trunk/p"}), 1);
    QStringList log;
    RecordingRepository proj("proj", &log);
    MessageCapture capture;
    ASSERT_EQ(bench.convert({bench.rules(trunkRules)}, {&proj}, 1, 1), 0);
    // By name, whatever order Subversion lists them in.
    EXPECT_EQ(capture.ofLevel('W'),
              QStringList({"WARN: Unknown svn-property another:thing set to other for /trunk/p",
                           "WARN: Unknown svn-property custom:thing set to value for /trunk/p"}));
}
