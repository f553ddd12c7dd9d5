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

QStringList fileSetup()
{
    return {"mkdir", "trunk",
            "put", "@#!/bin/sh\n", "trunk/run", "propset", "svn:executable", "*", "trunk/run",
            "put", "@link target/file", "trunk/link", "propset", "svn:special", "*", "trunk/link",
            "put", "@abc", "trunk/odd", "propset", "svn:special", "*", "trunk/odd",
            "put", "@", "trunk/empty"};
}

} // namespace

TEST(SvnFileContents, ModesLinksAndFraming)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({});
    ASSERT_EQ(bench.commit(fileSetup()), 1);
    // Larger than the write bound of the device, and not a multiple of it.
    QByteArray big;
    for (int i = 0; big.size() < 100000; ++i)
        big += QByteArray::number(i) + ' ';
    ASSERT_EQ(bench.commit({"put", "@" + QString::fromLatin1(big), "trunk/big"}), 2);

    QStringList log;
    RecordingRepository proj("proj", &log);
    MessageCapture capture;
    ASSERT_EQ(bench.convert({bench.rules(trunkRules)}, {&proj}, 1, 2), 0);

    const auto first = proj.transactionsOf(1);
    ASSERT_EQ(first.size(), 1);
    EXPECT_EQ(first[0]->events,
              QStringList({"file empty 100644 0", "file link 120000 11", "file odd 100644 3",
                           "file run 100755 10"}));
    EXPECT_EQ(first[0]->fileData("empty"), QByteArray("\n"));
    EXPECT_EQ(first[0]->fileData("link"), QByteArray("target/file\n"));
    EXPECT_EQ(first[0]->fileData("odd"), QByteArray("abc\n"));
    EXPECT_EQ(first[0]->fileData("run"), QByteArray("#!/bin/sh\n\n"));
    EXPECT_EQ(capture.ofLevel('W'),
              QStringList({"file /trunk/odd is svn:special but not a symlink"}));

    const auto second = proj.transactionsOf(2);
    ASSERT_EQ(second.size(), 1);
    EXPECT_EQ(second[0]->events, QStringList({QStringLiteral("file big 100644 %1").arg(big.size())}));
    EXPECT_TRUE(second[0]->fileData("big") == big + '\n');
}

TEST(SvnFileContents, DryRunAnnouncesFilesWithoutContent)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({"--dry-run"});
    ASSERT_EQ(bench.commit(fileSetup()), 1);
    QStringList log;
    RecordingRepository proj("proj", &log);
    MessageCapture capture;
    ASSERT_EQ(bench.convert({bench.rules(trunkRules)}, {&proj}, 1, 1), 0);
    const auto records = proj.transactionsOf(1);
    ASSERT_EQ(records.size(), 1);
    // The link keeps its full length and the regular mode: it is not read.
    EXPECT_EQ(records[0]->events,
              QStringList({"file empty 100644 0", "file link 100644 16", "file odd 100644 3",
                           "file run 100755 10"}));
    for (const auto &file : records[0]->files)
        EXPECT_TRUE(file.second->data().isEmpty()) << file.first.toStdString();
    EXPECT_TRUE(capture.ofLevel('W').isEmpty());
}

TEST(SvnFileContents, TreeDumpStaysInTheStartingRepository)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({"--debug-rules", "--svn-ignore"});
    ASSERT_EQ(bench.commit({"mkdir", "orig", "put", "@b", "orig/b", "put", "@a", "orig/a",
                            "mkdir", "orig/sub", "put", "@s", "orig/sub/s",
                            "mkdir", "orig/skip", "put", "@k", "orig/skip/k",
                            "mkdir", "orig/plain", "put", "@p", "orig/plain/p",
                            "propset", "svn:ignore", "*.o\n", "orig/plain"}), 1);
    ASSERT_EQ(bench.commit({"cp", "1", "orig", "trunk"}), 2);
    const QList<MatchRule> rules = bench.rules(R"(
match /orig/
end match
match /trunk/sub/
  repository other
  branch master
end match
match /trunk/skip/
end match
match /trunk/
  repository proj
  branch master
end match
)");
    QStringList log;
    RecordingRepository proj("proj", &log);
    RecordingRepository other("other", &log);
    MessageCapture capture;
    QString output;
    ASSERT_EQ(bench.convert({rules}, {&proj, &other}, 1, 2, &output), 0);
    EXPECT_EQ(output, "Exporting revision 1  done\nExporting revision 2 .+++ done\n");
    const auto records = proj.transactionsOf(2);
    ASSERT_EQ(records.size(), 1);
    // Each directory's .gitignore comes before its entries, entries in name order.
    EXPECT_EQ(records[0]->events,
              QStringList({"remove ", "file a 100644 1", "file b 100644 1",
                           "file plain/.gitignore 100644 5", "file plain/p 100644 1"}));
    EXPECT_EQ(records[0]->fileData("plain/.gitignore"), QByteArray("/*.o\n\n"));
    EXPECT_TRUE(capture.contains("D: recursiveDumpDir: \"/trunk/skip/\" skip entry for "
                                 "different/ignored repository"));
    EXPECT_TRUE(capture.contains("D: recursiveDumpDir: \"/trunk/sub/\" skip entry for "
                                 "different/ignored repository"));
    EXPECT_TRUE(other.transactions.empty());
}
