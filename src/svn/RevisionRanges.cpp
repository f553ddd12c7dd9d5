#include "svn/RevisionRanges.h"

#include <algorithm>

void RevisionRanges::add(int first, int last)
{
    if (first > last)
        std::swap(first, last);
    // The ranges that overlap or touch first..last melt into one.
    auto begin = std::lower_bound(m_ranges.begin(), m_ranges.end(), first,
                                  [](const Range &range, int revision) {
                                      return qint64(range.second) + 1 < revision;
                                  });
    auto end = begin;
    while (end != m_ranges.end() && qint64(end->first) <= qint64(last) + 1) {
        first = std::min(first, end->first);
        last = std::max(last, end->second);
        ++end;
    }
    const qsizetype at = begin - m_ranges.begin();
    m_ranges.erase(begin, end);
    m_ranges.insert(at, Range(first, last));
}

void RevisionRanges::unite(const RevisionRanges &other)
{
    for (const Range &range : other.m_ranges)
        add(range.first, range.second);
}

RevisionRanges RevisionRanges::minus(const RevisionRanges &other) const
{
    RevisionRanges result;
    auto removed = other.m_ranges.cbegin();
    for (const Range &range : m_ranges) {
        int first = range.first;
        while (removed != other.m_ranges.cend() && removed->second < first)
            ++removed;
        for (auto cut = removed; cut != other.m_ranges.cend() && cut->first <= range.second;
             ++cut) {
            if (cut->first > first)
                result.m_ranges.append(Range(first, cut->first - 1));
            first = std::max(first, cut->second + 1);
            if (cut->second >= range.second)
                break;
        }
        if (first <= range.second)
            result.m_ranges.append(Range(first, range.second));
    }
    return result;
}

bool RevisionRanges::contains(int revision) const
{
    const auto after = std::upper_bound(m_ranges.cbegin(), m_ranges.cend(), revision,
                                        [](int wanted, const Range &range) {
                                            return wanted < range.first;
                                        });
    return after != m_ranges.cbegin() && std::prev(after)->second >= revision;
}

QByteArray RevisionRanges::toText() const
{
    QByteArray text;
    for (const Range &range : m_ranges) {
        if (!text.isEmpty())
            text += ',';
        text += QByteArray::number(range.first);
        if (range.second != range.first)
            text += '-' + QByteArray::number(range.second);
    }
    return text;
}
