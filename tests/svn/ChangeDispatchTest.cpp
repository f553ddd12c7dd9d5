#include "RecordingRepository.h"
#include "SvnTestBench.h"

#include <gtest/gtest.h>

namespace {

QStringList ruleDebugLines(const MessageCapture &capture)
{
    QStringList lines;
    for (const QString &message : capture.ofLevel('D')) {
        if (message.startsWith("rev "))
            lines.append(message);
    }
    return lines;
}

QString exporting(int revision, const QString &path, const MatchRule &rule)
{
    return QStringLiteral("rev %1 %2 matched rule: \"%3\"    exporting.")
            .arg(revision).arg(path, rule.summary());
}

} // namespace

TEST(SvnChangeDispatch, PathsAreVisitedInByteOrderAndDirectoriesClassified)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({"--debug-rules"});
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "trunk-old", "put", "@a", "trunk/a",
                            "put", "@B", "trunk/B", "put", "@x", "trunk-old/x"}), 1);
    ASSERT_EQ(bench.commit({"mkdir", "trunk/empty"}), 2);
    ASSERT_EQ(bench.commit({"mkdir", "ignored", "put", "@i", "ignored/i"}), 3);

    const QList<MatchRule> rules = bench.rules(R"(
match /trunk/
  repository proj
  branch master
end match
match /trunk-old/
  repository proj
  branch old
end match
match /ignored/
end match
)");
    ASSERT_EQ(rules.size(), 3);
    QStringList log;
    RecordingRepository proj("proj", &log);
    MessageCapture capture;
    QString output;
    ASSERT_EQ(bench.convert({rules}, {&proj}, 1, 3, &output), 0);

    // "/trunk-old" sorts between "/trunk" and "/trunk/a"; upper case first.
    EXPECT_EQ(ruleDebugLines(capture),
              QStringList({exporting(1, "/trunk-old/x", rules[1]),
                           exporting(1, "/trunk/B", rules[0]),
                           exporting(1, "/trunk/a", rules[0])}));
    // A directory added without history, and ignored paths, leave nothing to do.
    EXPECT_EQ(output, "Exporting revision 1 ... done\n"
                      "Exporting revision 2  nothing to do\n"
                      "Exporting revision 3  nothing to do\n");
}

TEST(SvnChangeDispatch, EmptyDirsSendsNewDirectoriesThroughTheRules)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({"--empty-dirs", "--debug-rules"});
    ASSERT_EQ(bench.commit({"mkdir", "project", "mkdir", "project/branches", "mkdir",
                            "project/docs"}), 1);
    const QList<MatchRule> rules = bench.rules(R"(
match /project/
  repository proj
  branch master
end match
)");
    QStringList log;
    RecordingRepository proj("proj", &log);
    MessageCapture capture;
    QString output;
    ASSERT_EQ(bench.convert({rules}, {&proj}, 1, 1, &output), 0);
    // /project and /project/docs reach the rules, /project/branches does not.
    EXPECT_EQ(ruleDebugLines(capture),
              QStringList({exporting(1, "/project/", rules[0]),
                           exporting(1, "/project/docs/", rules[0])}));
    ASSERT_EQ(proj.transactions.size(), 1u);
    EXPECT_EQ(proj.transactions[0]->events, QStringList({"file docs/.gitignore 100644 0"}));
}

TEST(SvnChangeDispatch, UnmatchedPaths)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({});
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "other", "put", "@o", "other/o",
                            "mkdir", "other/dir", "put", "@p", "other/dir/p"}), 1);
    ASSERT_EQ(bench.commit({"rm", "other/o"}), 2);
    ASSERT_EQ(bench.commit({"rm", "other/dir"}), 3);
    const QList<MatchRule> rules = bench.rules(R"(
match /trunk/
  repository proj
  branch master
end match
match trunk/
  repository proj
  branch never
end match
)");
    QStringList log;
    RecordingRepository proj("proj", &log);

    {
        MessageCapture capture;
        QString output;
        EXPECT_EQ(bench.convert({rules}, {&proj}, 1, 1, &output), 1);
        EXPECT_EQ(output, "Exporting revision 1 ");
        EXPECT_EQ(capture.ofLevel('C'),
                  QStringList({"\"/other/dir/p\" did not match any rules; cannot continue"}));
    }
    {
        MessageCapture capture;
        QString output;
        EXPECT_EQ(bench.convert({rules}, {&proj}, 2, 3, &output), 0);
        EXPECT_EQ(output, "Exporting revision 2  nothing to do\n"
                          "Exporting revision 3  nothing to do\n");
        EXPECT_TRUE(capture.contains("D: \"/other/o\" is being deleted but I don't know "
                                     "anything about it; ignoring"));
        // A deleted directory is looked into; its unmatched files are skipped.
        EXPECT_TRUE(capture.contains("D: \"/other/dir/\" deleted, auto-recursing"));
        EXPECT_TRUE(capture.ofLevel('C').isEmpty());
    }
    {
        // Without any rules file, nothing can handle a deleted directory.
        MessageCapture capture;
        EXPECT_EQ(bench.convert({}, {&proj}, 3, 3), 0);
        EXPECT_TRUE(capture.contains("D: \"/other/dir/\" was a directory; ignoring"));
    }
    EXPECT_TRUE(proj.transactions.empty());
}

TEST(SvnChangeDispatch, RecursionAndCopiesWithHistory)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({});
    ASSERT_EQ(bench.commit({"mkdir", "project", "mkdir", "project/trunk", "put", "@a",
                            "project/trunk/a", "put", "@r", "project/readme"}), 1);
    ASSERT_EQ(bench.commit({"cp", "1", "project", "recursed"}), 2);
    ASSERT_EQ(bench.commit({"cp", "1", "project", "copied", "put", "@n", "copied/new"}), 3);

    const QList<MatchRule> rules = bench.rules(R"(
match /recursed/$
  action recurse
end match
match /project/trunk/
  repository proj
  branch master
end match
match /recursed/trunk/
  repository proj
  branch recursed
end match
match /copied/trunk/
  repository proj
  branch copied
end match
match /copied/new
  repository proj
  branch extra
  prefix new
end match
match /project/readme
end match
)");
    QStringList log;
    RecordingRepository proj("proj", &log);
    MessageCapture capture;
    ASSERT_EQ(bench.convert({rules}, {&proj}, 1, 3), 0) << capture.all().join(QLatin1Char('\n')).toStdString();

    EXPECT_EQ(log.filter("makeBranch"),
              QStringList({"proj: makeBranch recursed r2 from master@1",
                           "proj: makeBranch copied r3 from master@1"}));
    EXPECT_TRUE(capture.contains("D: \"/copied/\" is a copy-with-history, auto-recursing"));
    // The added entry is left to its own turn in the change list.
    EXPECT_TRUE(capture.contains(
            "D: \"/copied/new\" rev 3 is in the change-list, deferring to that one"));
    // The copied readme matches no rule of the copy: skipped silently.
    EXPECT_TRUE(capture.ofLevel('C').isEmpty());
    const auto revision3 = proj.transactionsOf(3);
    ASSERT_EQ(revision3.size(), 1);
    EXPECT_EQ(revision3[0]->branch, "extra");
    EXPECT_EQ(revision3[0]->events, QStringList({"file new 100644 1"}));
}

TEST(SvnChangeDispatch, EveryRulesFileIsConsultedAndRevisionRangesRespected)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({});
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "put", "@1", "trunk/a"}), 1);
    ASSERT_EQ(bench.commit({"put", "@2", "trunk/a"}), 2);
    const QList<MatchRule> first = bench.rules(R"(
match /trunk/
  repository first
  branch old
  max revision 1
end match
match /trunk/
  repository first
  branch master
end match
)");
    const QList<MatchRule> second = bench.rules(R"(
match /trunk/
  repository second
  branch master
  min revision 2
end match
match /trunk/
end match
)");
    QStringList log;
    RecordingRepository firstRepository("first", &log);
    RecordingRepository secondRepository("second", &log);
    ASSERT_EQ(bench.convert({first, second}, {&firstRepository, &secondRepository}, 1, 2), 0);
    EXPECT_EQ(log.filter("beginTransaction"),
              QStringList({"first: beginTransaction old /trunk/ r1",
                           "first: beginTransaction master /trunk/ r2",
                           "second: beginTransaction master /trunk/ r2"}));
}
