#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// A set of Subversion revisions kept as ascending, disjoint, non-adjacent
// inclusive ranges, the way merge tracking writes them ("3-5,9").
class RevisionRanges
{
public:
    using Range = QPair<int, int>; // first and last revision, both included

    // Adds first..last; a range given backwards is turned round.
    void add(int first, int last);
    void unite(const RevisionRanges &other);
    // The revisions of this set that other lacks.
    RevisionRanges minus(const RevisionRanges &other) const;

    bool contains(int revision) const;
    bool isEmpty() const { return m_ranges.isEmpty(); }
    // The highest revision; 0 for an empty set.
    int last() const { return m_ranges.isEmpty() ? 0 : m_ranges.constLast().second; }
    const QList<Range> &ranges() const { return m_ranges; }
    // "3-5,9".
    QByteArray toText() const;

    bool operator==(const RevisionRanges &other) const { return m_ranges == other.m_ranges; }

private:
    QList<Range> m_ranges;
};
