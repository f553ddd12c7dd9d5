// The verifier's parts without its program: the report of differences, the
// decision that a state is missing, the bounded cache and the git entries
// of Subversion files.

#include "E2eBench.h"
#include "OutputCapture.h"

#include "svn/ScopedPool.h"
#include "svn/SvnRepository.h"
#include "verify/BoundedCache.h"
#include "verify/CoverageCheck.h"
#include "verify/ExpectedTree.h"
#include "verify/FileEntryReader.h"
#include "verify/FixedCache.h"
#include "verify/VerifyReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

struct Weighed
{
    int value = 0;
    qint64 weight() const { return 1; }
};

} // namespace

TEST(VerifyLibrary, ReportNamesEachDifferenceInTextAndJson)
{
    VerifyReport report;
    report.setRepositories(1);
    report.setRange(3, 4);
    report.countState(QStringLiteral("proj"), QStringLiteral("master"));
    report.countState(QStringLiteral("proj"), QStringLiteral("refs/tags/v1"));
    const QList<Difference> found{
            {3, "proj", "master", "run.sh", "mode", "Subversion 100755, git 100644"},
            {2, "proj", "refs/tags/v1", "", "missing state", ""}};

    EXPECT_EQ(TestSupport::captureStdout([&] { report.print(found, false); }),
              "r3 proj master \"run.sh\": mode (Subversion 100755, git 100644)\n"
              "r2 proj refs/tags/v1 \"\": missing state\n"
              "checked 2 branch states in 1 repository (1 branch, 1 tag), r1\u2013r3 of 4, "
              "trees, history and metadata: 2 differences\n");
    EXPECT_TRUE(TestSupport::captureStdout([&] { report.print({}, false); })
                        .endsWith(": all equal\n"));
    const QJsonObject json =
            QJsonDocument::fromJson(TestSupport::captureStdout([&] { report.print(found, true); }))
                    .object();
    EXPECT_EQ(json.value("equal"), false);
    EXPECT_EQ(json.value("states"), 2);
    EXPECT_EQ(json.value("lastRevision"), 3);
    const QJsonObject first = json.value("differences").toArray().at(0).toObject();
    EXPECT_EQ(first, (QJsonObject{{"revision", 3}, {"repository", "proj"}, {"branch", "master"},
                                  {"path", "run.sh"}, {"kind", "mode"},
                                  {"detail", "Subversion 100755, git 100644"}}));
}

// A log that stops early or lacks a line leaves a change of Subversion unrecorded.
TEST(VerifyLibrary, ChangeWithoutRecordedStateIsMissing)
{
    CoverageCheck coverage(QSet<int>{2, 3, 4});
    QList<Difference> found;
    coverage.treeAt(2, "proj", "master", "tree-a");
    coverage.stateAt(2, "proj", "master");
    coverage.treeAt(3, "proj", "master", "tree-a"); // unchanged: nothing awaited
    coverage.treeAt(3, "proj", "dev", "tree-b");
    coverage.treeAt(4, "proj", "dev", QByteArray()); // emptied: git holds nothing either
    coverage.treeAt(5, "proj", "master", "tree-c"); // not meant to be converted
    coverage.passed(6, &found);
    ASSERT_EQ(found.size(), 2);
    EXPECT_EQ(found.at(0).text(), "r3 proj dev \"\": missing state (Subversion changes the "
                                  "branch, the log records nothing)");
    EXPECT_EQ(found.at(1).text().left(30), "r4 proj dev \"\": missing state ");

    // A later stretch of the walk starts from the trees before it: how they
    // came to be is the earlier stretch's to check.
    CoverageCheck later({}, 3);
    QList<Difference> laterFound;
    later.treeAt(2, "proj", "master", "tree-a");
    later.treeAt(3, "proj", "master", "tree-a");
    later.treeAt(3, "proj", "dev", "tree-b");
    later.passed(4, &laterFound);
    ASSERT_EQ(laterFound.size(), 1);
    EXPECT_EQ(laterFound.at(0).text().left(30), "r3 proj dev \"\": missing state ");
}

TEST(VerifyLibrary, CacheForgetsWhatTwoGenerationsDidNotUse)
{
    BoundedCache<int, Weighed> cache(2);
    cache.insert(1, {10});
    cache.insert(2, {20});
    cache.insert(3, {30}); // 1 and 2 grow older
    ASSERT_NE(cache.find(1), nullptr); // 1 is recent again
    cache.insert(4, {40}); // 2, older and unused, is forgotten
    EXPECT_EQ(cache.find(2), nullptr);
    for (int key : {1, 3, 4}) {
        const Weighed *found = cache.find(key);
        ASSERT_NE(found, nullptr) << key;
        EXPECT_EQ(found->value, key * 10);
    }
    EXPECT_EQ(cache.take(3)->value, 30);
    EXPECT_EQ(cache.find(3), nullptr);
}

// One set of four places: a fifth key takes the place used longest ago,
// and a key put again keeps its place.
TEST(VerifyLibrary, FixedCacheForgetsWhatASetUsedLongestAgo)
{
    FixedCache<int, int> cache(2);
    for (int key = 1; key <= 4; ++key)
        cache.insert(key, key * 10);
    ASSERT_NE(cache.find(1), nullptr); // 2 is now the one used longest ago
    cache.insert(3, 33);
    cache.insert(5, 50);
    EXPECT_EQ(cache.find(2), nullptr);
    for (const auto &[key, value] : {std::pair{1, 10}, {3, 33}, {4, 40}, {5, 50}}) {
        const int *found = cache.find(key);
        ASSERT_NE(found, nullptr) << key;
        EXPECT_EQ(*found, value);
    }
    cache.clear();
    EXPECT_EQ(cache.find(1), nullptr);
}

// Modes and blobs as the converter writes them: an svn:special file that is
// not a link stays a file with its whole contents; an unreadable path is a
// failure that carries Subversion's message.
TEST(VerifyLibrary, FileEntriesAreWhatTheConverterWrites)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"put", "@run", "tool", "propset", "svn:executable", "*", "tool",
                            "put", "@link target", "link", "propset", "svn:special", "*", "link",
                            "put", "@odd", "odd", "propset", "svn:special", "*", "odd"}),
              1);
    SvnRepository svn;
    ASSERT_TRUE(svn.open(bench.repositoryPath()).ok());
    ScopedPool pool(svn.pool());
    svn_fs_root_t *root = nullptr;
    ASSERT_EQ(svn_fs_revision_root(&root, svn.fs(), 1, pool), nullptr);
    FileEntryReader reader;
    const auto entryOf = [&](const QByteArray &path) {
        TreeEntry entry;
        EXPECT_TRUE(reader.read(root, path, QByteArray(), &entry, pool).ok()) << path.constData();
        return QString::number(entry.mode, 8) + ' ' + entry.blobId.toHex();
    };
    const auto expected = [](const char *mode, const QByteArray &contents) {
        return QString::fromLatin1(mode) + ' ' + ExpectedTree::blobIdOf(contents).toHex();
    };
    EXPECT_EQ(entryOf("/tool"), expected("100755", "run"));
    EXPECT_EQ(entryOf("/link"), expected("120000", "target"));
    EXPECT_EQ(entryOf("/odd"), expected("100644", "odd"));

    TreeEntry none;
    const Status missing = reader.read(root, "/gone", QByteArray(), &none, pool);
    ASSERT_FALSE(missing.ok());
    EXPECT_TRUE(missing.failure().cause().startsWith("svn: E160013"))
            << missing.failure().cause().constData();
}
