#include "svn/MergeInfo.h"

#include <gtest/gtest.h>

namespace {

QByteArray text(const MergeInfo::Sources &sources)
{
    QByteArray result;
    for (auto it = sources.cbegin(); it != sources.cend(); ++it)
        result += it.key() + ':' + it.value().toText() + ' ';
    return result.trimmed();
}

} // namespace

TEST(MergeInfoTest, RangesMeltSubtractAndAnswer)
{
    RevisionRanges ranges;
    ranges.add(9, 9);
    ranges.add(4, 3);
    ranges.add(1, 2);
    ranges.add(12, 15);
    ranges.add(10, 11);
    EXPECT_EQ(ranges.toText(), "1-4,9-15");
    EXPECT_EQ(ranges.last(), 15);
    EXPECT_TRUE(ranges.contains(1));
    EXPECT_TRUE(ranges.contains(4));
    EXPECT_FALSE(ranges.contains(5));
    EXPECT_FALSE(ranges.contains(0));
    EXPECT_FALSE(ranges.contains(16));

    RevisionRanges holes;
    holes.add(2, 2);
    holes.add(9, 10);
    holes.add(13, 20);
    EXPECT_EQ(ranges.minus(holes).toText(), "1,3-4,11-12");
    EXPECT_TRUE(holes.minus(holes).isEmpty());
    EXPECT_EQ(RevisionRanges().last(), 0);
}

// Both properties read into one value; non-inheritable and unreadable
// entries count for nothing.
TEST(MergeInfoTest, ReadsBothPropertiesAndLeavesOutWhatDoesNotCount)
{
    const MergeInfo info = MergeInfo::fromProperties(
            "/trunk:3-5,8\n/branches/a:7*\n/branches/b:2,4*,6-7\n"
            "/odd:path:12\nnonsense\n/bad:1-x\n/zero:0\n/branches/c/:9",
            "/branches/legacy:1-4,6  /trunk:10 broken");
    EXPECT_EQ(text(info.sources()),
              "/branches/b:2,6-7 /branches/c:9 /branches/legacy:1-4,6 /odd:path:12 "
              "/trunk:3-5,8,10");
    EXPECT_TRUE(MergeInfo::fromMergeinfo("").isEmpty());
    EXPECT_TRUE(MergeInfo::fromMergeinfo("/branches/a:1-9*").isEmpty());
}

// Only revisions that were not merged before count: a reverse merge, a
// range that stays, or a range that was merged into this directory alone
// before and is now merged into the whole tree.
TEST(MergeInfoTest, GrowthIsWhatTheNewValueAddsPerSource)
{
    const MergeInfo older = MergeInfo::fromMergeinfo(
            "/trunk:3-5\n/branches/a:10-12\n/branches/b:7*\n/branches/gone:4");
    const MergeInfo newer = MergeInfo::fromMergeinfo(
            "/trunk:3-9,11\n/branches/a:10-11\n/branches/b:7\n/branches/new:20-21*,22");
    EXPECT_EQ(text(newer.growthSince(older)), "/branches/b:7 /branches/new:22 /trunk:6-9,11");
    EXPECT_TRUE(older.growthSince(older).isEmpty());
    EXPECT_EQ(text(newer.growthSince(MergeInfo())), text(newer.sources()));
}
