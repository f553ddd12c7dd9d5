#include "RecordingRepository.h"
#include "SvnTestBench.h"
#include "svn/RevisionQueries.h"
#include "svn/SvnSource.h"

#include <gtest/gtest.h>

namespace {

const QByteArray trunkRules = R"(
match /trunk/
  repository proj
  branch master
end match
match /branches/([^/]+)/
  repository proj
  branch \1
end match
)";

} // namespace

TEST(SvnRevisionConversion, ParsesSubversionDatesAsUtcSeconds)
{
    EXPECT_EQ(RevisionQueries::parseSvnDate("2009-02-13T23:31:30.000000Z"), 1234567890u);
    // Fractions are dropped, not rounded.
    EXPECT_EQ(RevisionQueries::parseSvnDate("2009-02-13T23:31:30.999999Z"), 1234567890u);
    EXPECT_EQ(RevisionQueries::parseSvnDate("1970-01-01T00:00:00.000000Z"), 0u);
    EXPECT_EQ(RevisionQueries::parseSvnDate("2004-05-01T12:34:56.123456Z"), 1083414896u);
    // A date that cannot be read does not wrap round into the far future.
    EXPECT_EQ(RevisionQueries::parseSvnDate("garbage"), 0u);
}

TEST(SvnRevisionConversion, IdentitiesDatesAndMessagesReachTheCommits)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({});
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "put", "@one\n", "trunk/a"}, "first"), 1);
    bench.setRevisionProperty(1, "svn:date", "2009-02-13T23:31:30.000000Z");
    ASSERT_EQ(bench.commit({"put", "@two\n", "trunk/a"}), 2);
    bench.deleteRevisionProperty(2, "svn:author");
    bench.deleteRevisionProperty(2, "svn:log");
    bench.deleteRevisionProperty(2, "svn:date");
    ASSERT_EQ(bench.commit({"put", "@three\n", "trunk/a"}, "mapped", "bob"), 3);
    ASSERT_EQ(bench.commit({"put", "@four\n", "trunk/a"}, "hostile"), 4);
    bench.setRevisionProperty(4, "svn:author", "ev\nil <x>\n");
    ASSERT_EQ(bench.commit({"put", "@five\n", "trunk/a"}, "only brackets"), 5);
    bench.setRevisionProperty(5, "svn:author", "<>");
    ASSERT_EQ(bench.commit({"put", "@six\n", "trunk/a"}, "mapped with a break", "carol"), 6);
    ASSERT_EQ(bench.commit({"put", "@seven\n", "trunk/a"}, "empty author"), 7);
    bench.setRevisionProperty(7, "svn:author", "");
    ASSERT_EQ(bench.commit({"put", "@eight\n", "trunk/a"}, "mapped to nothing", "dave"), 8);
    ASSERT_EQ(bench.commit({"put", "@nine\n", "trunk/a"}, "mapped with a line feed", "erin"), 9);

    QStringList log;
    RecordingRepository proj("proj", &log);
    const IdentityMap identities{{"bob", "Bob Builder <bob@builder.org>"},
                                 {"carol", "Carol\rRed <carol@red.org>"},
                                 {"dave", ""},
                                 {"erin", "Erin\ncommitter x <e@x.org>"}};
    ASSERT_EQ(bench.convert({bench.rules(trunkRules)}, {&proj}, 1, 9, nullptr, identities), 0);

    auto commitOf = [&proj](int revision) {
        const auto records = proj.transactionsOf(revision);
        EXPECT_EQ(records.size(), 1) << "revision " << revision;
        return records.isEmpty() ? RecordingRepository::TransactionRecord() : *records.first();
    };
    EXPECT_EQ(commitOf(1).committer, QByteArray("alice <alice@example.com>"));
    EXPECT_EQ(commitOf(1).commitTime, 1234567890u);
    EXPECT_EQ(commitOf(1).message, QByteArray("first"));
    EXPECT_TRUE(commitOf(1).committed);
    EXPECT_TRUE(commitOf(1).deleted);

    EXPECT_EQ(commitOf(2).committer, QByteArray("nobody <nobody@localhost>"));
    EXPECT_EQ(commitOf(2).commitTime, 0u);
    EXPECT_EQ(commitOf(2).message, QByteArray());

    EXPECT_EQ(commitOf(3).committer, QByteArray("Bob Builder <bob@builder.org>"));
    EXPECT_EQ(commitOf(4).committer, QByteArray("ev il x <ev il x@example.com>"));
    EXPECT_EQ(commitOf(5).committer, QByteArray("nobody <nobody@localhost>"));
    EXPECT_EQ(commitOf(6).committer, QByteArray("Carol Red <carol@red.org>"));
    EXPECT_EQ(commitOf(7).committer, QByteArray("nobody <nobody@localhost>"));
    // An empty mapping counts as none: the identity is built from the name.
    EXPECT_EQ(commitOf(8).committer, QByteArray("dave <dave@example.com>"));
    EXPECT_EQ(commitOf(9).committer, QByteArray("Erin committer x <e@x.org>"));
}

TEST(SvnRevisionConversion, ProgressLineAndCommitStep)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({});
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "branches"}), 1);
    ASSERT_EQ(bench.commit({"put", "@a\n", "trunk/a", "mkdir", "branches/b",
                            "put", "@b\n", "branches/b/b"}), 2);

    QStringList log;
    RecordingRepository proj("proj", &log);
    RecordingRepository idle("idle", &log);
    QString output;
    ASSERT_EQ(bench.convert({bench.rules(trunkRules)}, {&proj, &idle}, 1, 2, &output), 0);
    EXPECT_EQ(output, "Exporting revision 1  nothing to do\nExporting revision 2 .. done\n");

    // Every repository is flushed, touched or not, before any commit.
    ASSERT_EQ(log.size(), 6) << log.join('\n').toStdString();
    EXPECT_EQ(log.mid(0, 2), QStringList({"proj: beginTransaction b /branches/b/ r2",
                                          "proj: beginTransaction master /trunk/ r2"}));
    QStringList flushes = log.mid(2, 2);
    flushes.sort();
    EXPECT_EQ(flushes, QStringList({"idle: flushPendingUpdates", "proj: flushPendingUpdates"}));
    QStringList commits = log.mid(4, 2);
    commits.sort();
    EXPECT_EQ(commits, QStringList({"proj: writeCommit b", "proj: writeCommit master"}));
}

TEST(SvnRevisionConversion, AFailedCommitStopsTheRevision)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    setOptions({});
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "branches", "mkdir", "branches/b",
                            "put", "@a\n", "trunk/a", "put", "@b\n", "branches/b/b"}), 1);
    QStringList log;
    RecordingRepository proj("proj", &log);
    proj.writeCommitFailure = QStringLiteral("the commit was refused");
    MessageCapture capture;
    QString output;
    EXPECT_EQ(bench.convert({bench.rules(trunkRules)}, {&proj}, 1, 1, &output), 1);
    EXPECT_EQ(capture.ofLevel('C'), QStringList({QStringLiteral("the commit was refused")}));
    EXPECT_EQ(output, "Exporting revision 1 ..");
    EXPECT_EQ(log.filter("writeCommit").size(), 1) << log.join('\n').toStdString();
    for (const auto &record : proj.transactions)
        EXPECT_TRUE(record->deleted);
}

TEST(SvnRevisionConversion, RepositoryPathWithTrailingOrDoubledSlashes)
{
    SvnTestBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "trunk"}), 1);
    ASSERT_EQ(bench.commit({"mkdir", "branches"}), 2);
    const QString doubled = bench.repositoryPath().replace("/repo", "//./repo");
    for (const QString &path : {bench.repositoryPath(), bench.repositoryPath() + "///", doubled}) {
        Result<std::unique_ptr<SvnSource>> opened = SvnSource::open(path);
        ASSERT_TRUE(opened.ok()) << path.toStdString();
        EXPECT_EQ(opened.value()->latestRevision(), 2);
    }
}

TEST(SvnRevisionConversion, UnopenableRepositoryIsAFailure)
{
    ASSERT_TRUE(SvnSource::initializeSvnLibraries().ok());
    Result<std::unique_ptr<SvnSource>> opened = SvnSource::open("/nonexistent/repository/");
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.failure().message(), "Failed to open repository");
    // The library's error, which names the path, is kept for the report.
    EXPECT_EQ(opened.failure().cause().toStdString(),
              "svn: E000002: Can't open file '/nonexistent/repository/format': "
              "No such file or directory\n");
}
