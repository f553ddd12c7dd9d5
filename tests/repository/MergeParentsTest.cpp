#include "repository/MergeParents.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Commit n made in revisions[n - 1] with parents[n - 1].
class SmallGraph : public CommitGraph
{
public:
    SmallGraph(std::vector<int> revisions, std::vector<QList<quint64>> parents)
        : m_revisions(std::move(revisions)), m_parents(std::move(parents))
    {
    }
    QList<quint64> parents(quint64 commit) const override { return m_parents.at(commit - 1); }
    int revision(quint64 commit) const override { return m_revisions.at(commit - 1); }

private:
    std::vector<int> m_revisions;
    std::vector<QList<quint64>> m_parents;
};

RevisionRanges ranges(std::initializer_list<QPair<int, int>> list)
{
    RevisionRanges result;
    for (const auto &[first, last] : list)
        result.add(first, last);
    return result;
}

// trunk: 1 (r2), 3 (r5), 6 (r8, merges b at 5); b made from 1 at r3:
// 2 (r4), 4 (r6), 5 (r7); c made from 5 at r9: 7 (r10).
const SmallGraph graph({2, 4, 5, 6, 7, 8, 10},
                       {{}, {1}, {1}, {2}, {4}, {3, 5}, {5}});

} // namespace

TEST(MergeParentsTest, FullPartialOrReachedAlongTheSourceBranch)
{
    using MergeParents::Outcome;
    EXPECT_EQ(MergeParents::judge(graph, 3, 5, ranges({{3, 7}}), 3), Outcome::Parent);
    // A cherry-pick of r7 alone leaves r4 and r6 out.
    EXPECT_EQ(MergeParents::judge(graph, 3, 5, ranges({{7, 7}}), 3), Outcome::Partial);
    EXPECT_EQ(MergeParents::judge(graph, 3, 5, ranges({{4, 4}, {7, 7}}), 3), Outcome::Partial);
    EXPECT_EQ(MergeParents::judge(graph, 6, 5, ranges({{3, 7}}), 3), Outcome::AlreadyReached);
    // c's own commits count; those before its creation are b's.
    EXPECT_EQ(MergeParents::judge(graph, 3, 7, ranges({{10, 10}}), 9), Outcome::Parent);
    EXPECT_EQ(MergeParents::judge(graph, 3, 7, ranges({{10, 10}}), 0), Outcome::Partial);
    // Once merged, only what came since counts.
    EXPECT_EQ(MergeParents::judge(graph, 6, 7, ranges({{10, 10}}), 0), Outcome::Parent);
}

TEST(MergeParentsTest, ParentsThatOthersReachAreLeftOut)
{
    EXPECT_EQ(MergeParents::withoutRedundant(graph, 3, {5, 4, 5, 7}), QList<quint64>({7}));
    EXPECT_EQ(MergeParents::withoutRedundant(graph, 6, {5, 7}), QList<quint64>({7}));
    EXPECT_EQ(MergeParents::withoutRedundant(graph, 1, {3, 2}), QList<quint64>({3, 2}));
    EXPECT_TRUE(MergeParents::withoutRedundant(graph, 7, {2, 5}).isEmpty());
}
